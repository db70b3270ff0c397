#pragma once
// What the run does for a folder item of a local or network pair: create the
// folder on the side it is missing on, delete it with its files (on one side
// or both), or pass over the files of a folder that is missing.
#include "copyengine/jobrun.h"

namespace kv {

// A folder item with an action; its folders are the current ones. Writes its
// record and, for deletions, the records of its files.
void HandleFolder(TJobRun& run, TPtkItem& record);

// Passes over the files of the current folder, which is missing or could not
// be made: no records, but their copies count as done for the overall
// progress.
void SkipFolderContent(TJobRun& run);

}  // namespace kv
