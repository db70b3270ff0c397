#pragma once
// What the run does for a file item: copy it (after checking that both
// folders stand, that the paths fit and that neither file changed since the
// job was made) or delete it on one side or both.
#include <string>

#include "copyengine/jobrun.h"

namespace kv {

// Action 1. Writes the item's record and the copied file's old stamp; a copy
// cancelled under way sets run.aborted and writes nothing, unless it failed
// (a partial file left behind, for one): that still gets its record.
void CopyFileItem(TJobRun& run, TPtkItem& record);

// Action 2: state code 1 deletes side 2, state code 2 side 1, any other both
// (the record takes the worse outcome). Writes the item's record.
void DeleteFileOfItem(TJobRun& run, TPtkItem& record);

// Deletes the file name in the side's current folder in the chosen style; a
// file that is not there counts as deleted. An empty name names no file, so
// nothing is deleted and that counts as done.
Outcome DeleteNamedFile(TJobRun& run, TSide side, const std::string& name);

}  // namespace kv
