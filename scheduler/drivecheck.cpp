#include "platform/files.h"
#include "platform/paths.h"
#include "scheduler/runsync.h"
#include "scheduler/runtexts.h"
#include "shared/folderpair.h"
#include "synclist/drivelist.h"

namespace kv {

std::string TthRunSync::BuildDriveTable(const std::string& pairFile) {
  TDriveList drives;
  // An unreadable file ends the reading; the pairs read so far count.
  for (const TFolderPair& pair : ReadFolderPairs(pairFile).pairs) {
    drives.AddPath(pair.sourceRoot, pair.sourceSite.host, pair.sourceSite.user, pair.sourceSite.password);
    drives.AddPath(pair.destinationRoot, pair.destinationSite.host, pair.destinationSite.user,
                   pair.destinationSite.password);
  }
  return drives.SaveToTempFile();
}

std::string TthRunSync::CheckPairDrives(ProtocolStream* stream, const TProfItem& profile) {
  const std::string pairFile = platform::IncludeTrailingBackslash(profile.profilePath) + "SrcDest.kst";
  const std::string table = BuildDriveTable(pairFile);
  try {
    TDriveList drives;
    drives.LoadFromFile(table);
    for (const TFolderPair& pair : ReadFolderPairs(pairFile).pairs) {
      if (drives.IsAvailable(pair.sourceRoot, true) && drives.IsAvailable(pair.destinationRoot, true)) continue;
      if (stream) {
        stream->Append(TPtkItem::SchedulerRecord(pair.sourceRoot, pair.destinationRoot, kPtkError,
                                                 std::string(kMsgDriveUnavailable)));
      }
    }
  } catch (...) {
    // The table holds the shares' passwords: it never outlives a failed check.
    platform::DeleteFile(table);
    throw;
  }
  return table;
}

}  // namespace kv
