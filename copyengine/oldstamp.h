#pragma once
// Writing the old-timestamp file during a run and merging it with the
// previous run's file at the end (layout: shared/oldstamp.h).
//
// Over one run with the file P:
//   1. StartOldStampFile(P): the previous file goes aside to P + "1" and P is
//      created anew, kept open by the copy object for the whole run;
//   2. WriteOldStamp for every copied file of a local or network pair;
//   3. after P is closed, UpdateOldStamps(P) when the previous file went
//      aside: the stamps of both runs become the new P.
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "shared/oldstamp.h"

namespace kv {

// What the copy object holds after its OSFile setter ran.
struct OldStampFileStart {
  std::unique_ptr<std::fstream> stream;  // P, open for writing, positioned at its end
  // The previous file was moved to P + "1": UpdateOldStamps must run at the
  // end of the run.
  bool previousMoved = false;
};

// Opens this run's file P (its POSIX path) in the mode given. The start step
// opens it on disk; tests give their own to make exactly this step fail.
using OldStampFileOpener =
    std::function<std::unique_ptr<std::fstream>(const std::string& posixPath, std::ios::openmode mode)>;

// Moves P to P + "1" and creates P anew. Stamps of earlier runs that still
// wait in P + "1" (a run was killed, or its merge failed) are first merged
// into P, never thrown away. When that merge fails, or P cannot be moved
// aside, P is kept and this run's stamps are appended to it, so that no
// earlier stamp is lost (readers let a later stamp of a name win). Throws
// std::runtime_error naming P when P cannot be opened; the previous file,
// when it had gone aside, is P again by then, so that the next run still
// compares against it.
OldStampFileStart StartOldStampFile(std::string_view path, const OldStampFileOpener& open = {});

// Forgets the block being written, so that the next stamp starts a new block.
// The copy object calls it when it is set up; the writer's state is shared by
// the whole process (one CopyFiles at a time).
void ResetOldStampWriter();

// Appends the stamp of one copied file. Folders are UNC-expanded; a stamp of
// another pair than the previous one starts a new block, and the block's count
// in its header is kept up to date after every entry. Returns false, writing
// nothing, when a folder or the name does not fit its 255-byte field (a cut
// text would name another file). Stream failures throw std::runtime_error.
bool WriteOldStamp(std::ostream& stream, std::string_view sourceFolder, std::string_view destFolder,
                   FileTime lastWrite, std::string_view fileName);

// What a window shows while the stamps are merged. The window itself lives
// with the window layer; the merge only reports through this interface.
class IOldStampMergeView {
 public:
  virtual ~IOldStampMergeView() = default;
  // Before the merge: shown unless hidden; minimized = shown without
  // activation.
  virtual void Begin(bool hidden, bool minimized) = 0;
  // The folder pair being merged.
  virtual void ShowFolders(std::string_view source, std::string_view dest) = 0;
  // Always called at the end, also after a failure.
  virtual void End() = 0;
};

// What gives a merge its window. Installed once by the window layer (the
// program that has a window thread); without one every merge runs headless.
// Returns the factory it replaces.
using OldStampMergeViewFactory = std::function<std::unique_ptr<IOldStampMergeView>()>;
OldStampMergeViewFactory SetOldStampMergeViewFactory(OldStampMergeViewFactory factory);
// The view for one merge: none for a hidden run or without a window layer.
std::unique_ptr<IOldStampMergeView> CreateOldStampMergeView(bool hidden);

enum class OldStampMergeOutcome {
  NoPrevious,        // the previous file was empty: P stands alone
  PreviousRestored,  // this run stamped nothing: the previous file is P again, unchanged
  Merged,
  Failed,            // P keeps this run's stamps, P + "1" the earlier ones; error says why
};

struct OldStampMergeResult {
  OldStampMergeOutcome outcome = OldStampMergeOutcome::Failed;
  std::string error;
};

// Merges the previous stamps (P + "1") into this run's file P, by folder pair
// wherever the blocks stand in either file:
//   - a pair in both files: this run's entries, then the previous entries of
//     names this run did not stamp whose file still exists below the source
//     folder;
//   - a pair in one file only: all its entries, unchecked;
// one block per pair (folder keys compared case-insensitively after UNC
// expansion), blocks in ascending key order. Of both files the whole blocks
// count (a killed run leaves a cut-off tail). P is replaced atomically and
// P + "1" deleted only then. A previous file that cannot be opened throws
// EOldStampFile; every later failure is returned as Failed, and P + "1"
// stays beside P.
OldStampMergeResult UpdateOldStamps(std::string_view fileName, bool hidden, bool minimized,
                                    IOldStampMergeView* view = nullptr);

}  // namespace kv
