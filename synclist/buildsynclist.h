#pragma once
// The one entry of the list builder: turns a profile's local and network
// folder pairs into one job file for the copy engine. The run thread calls it
// once per run under its list lock.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shared/profitem.h"
#include "shared/useroptions.h"
#include "synclist/movelist.h"
#include "synclist/syncliste.h"

namespace kv {

// Scans and compares every folder pair of the profile's "SrcDest.kst" (pairs
// with an FTP side are left to the copy engine; pairs on an unavailable
// drive are left out silently), merges them, moves files moved on one side
// (when the profile asks), checks the critical delete share and writes the
// job file. In order:
//  useFilters      read each pair's masks from "Filters.kst"
//  activeOnly      skip pairs whose active byte is 0
//  hideWindow      no progress window (callbacks still run)
//  minimize        show the window minimised
//  userOptions     its folder-row kind (1 or 2; anything else keeps 2)
//  profile         folder, two-second tolerance, old timestamps, moved files
//  driveTableFile  the drive table the run thread saved; deleted at the end
//  jobFile         out: the job file, set in every outcome ("" only when it
//                  could not even be created)
//  vanishedDrives  gets the drive of every folder dropped because it vanished
//  movedFiles      replaced by the moves done, when the profile searches them
//  criticalLimit   delete share in percent; -1 when reached (nothing written)
//  unstableDrives  when given, deletions are re-checked and it is filled
//  reportLines     when given, gets a protocol line for everything the build
//                  left out that the user should hear of: folders and names
//                  the scans skipped, an unusable old-timestamp file, an
//                  unreadable or cut-off "SrcDest.kst", an unreadable
//                  "Filters.kst" (that pair's deletions are withheld)
// Leftovers of killed runs of the profile (job files, pair copies, temporary
// files) are removed first.
// An abort (EAbort) or an error passes on to the caller after the clean-up.
void BuildSyncList(bool useFilters, bool activeOnly, bool hideWindow, bool minimize,
                   const TUserOptions& userOptions, const TProfItem& profile, const std::string& driveTableFile,
                   std::string& jobFile, TDriveNameList& vanishedDrives, TMoveList& movedFiles, int& criticalLimit,
                   TInStableDriveList* unstableDrives, std::vector<std::string>* reportLines = nullptr);

struct TFilterMasks {
  std::string folderMasks;  // comma text of quoted "rest*" masks
  std::string fileMasks;    // comma text of the quoted file masks
  // Why the filter file, which is there, cannot be read; "" when it can (or
  // is not there). No masks are known then, which is not the same as none.
  std::string unreadable;
};

// The masks of one pair from "Filters.kst": the key names of the sections
// "Fldr" and "File" followed by the two roots exactly as the pair stores
// them. A folder key becomes a mask of its path below the source root (or
// else the destination root), compared after UNC expansion and in lower
// case; a key below neither root gives none. "*" and "?" in a folder key are
// wildcards, "[" is literal. A missing file or section: no masks.
TFilterMasks ReadFilterMasks(const std::string& filterFile, std::string_view sourceRoot,
                             std::string_view destinationRoot);

// The window's unpacked strategy from a pair's 20 strategy bytes (ten pairs
// of direction and action): pairs 1 to 9 get flag 0 for direction byte 2 and
// 1 otherwise; pair 0 keeps its byte unless it is 2; actions are copied.
// std::invalid_argument for any other number of bytes.
TUnpackedStrategy SetStrategy(std::span<const uint8_t> strategyBytes);

// Creates an empty job file ("$" + 4 hex digits + ".tmp") in the profile
// folder and returns its name; std::runtime_error naming the folder when it
// cannot be created.
std::string NewJobFileName(std::string_view profileFolder);

}  // namespace kv
