#include "platform/files.h"
#include "platform/paths.h"
#include "scheduler/runsync.h"
#include "scheduler/runtexts.h"
#include "shared/folderpair.h"
#include "synclist/drivelist.h"

namespace kv {
namespace {

// The drives of both roots of every pair; shares that are not reachable are
// connected on the way.
TDriveList DrivesOf(const std::vector<TFolderPair>& pairs) {
  TDriveList drives;
  for (const TFolderPair& pair : pairs) {
    drives.AddPath(pair.sourceRoot, pair.sourceSite.host, pair.sourceSite.user, pair.sourceSite.password);
    drives.AddPath(pair.destinationRoot, pair.destinationSite.host, pair.destinationSite.user,
                   pair.destinationSite.password);
  }
  return drives;
}

}  // namespace

// An unreadable file ends the reading; the pairs read so far count.
std::string TthRunSync::BuildDriveTable(const std::string& pairFile) {
  return DrivesOf(ReadFolderPairs(pairFile).pairs).SaveToTempFile();
}

// The pairs are read once: the table and the check must see the same pairs.
std::string TthRunSync::CheckPairDrives(ProtocolStream* stream, const TProfItem& profile) {
  const std::string pairFile = platform::IncludeTrailingBackslash(profile.profilePath) + "SrcDest.kst";
  const std::vector<TFolderPair> pairs = ReadFolderPairs(pairFile).pairs;
  TDriveList drives = DrivesOf(pairs);
  const std::string table = drives.SaveToTempFile();
  if (stream == nullptr) return table;
  try {
    for (const TFolderPair& pair : pairs) {
      if (drives.IsAvailable(pair.sourceRoot, true) && drives.IsAvailable(pair.destinationRoot, true)) continue;
      stream->Append(TPtkItem::SchedulerRecord(pair.sourceRoot, pair.destinationRoot, kPtkError,
                                               std::string(kMsgDriveUnavailable)));
    }
  } catch (...) {
    // The table holds the shares' passwords: it never outlives a failed check.
    platform::DeleteFile(table);
    throw;
  }
  return table;
}

}  // namespace kv
