// The second try of the folder deletions that failed during the run: a
// folder can go only once it is empty, and what kept it may have gone later
// in the run (a subfolder deleted after it, a file in use). The protocol is
// examined newest record first, so subfolders go before their parents; a
// deletion that now succeeds turns its record into a success in place, one
// that fails again leaves the record as it was.
#include <cstdint>
#include <span>
#include <vector>

#include "copyengine/copyftp.h"
#include "copyengine/delfldrcheck.h"
#include "copyengine/endofrun.h"
#include "copyengine/jobrun.h"
#include "platform/paths.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

bool IsFolderDeletion(const TSyncItem& item) { return item.action == kActionDelete && IsFolderStateCode(item.stateCode); }

const std::string& PathOf(const TPtkItem& record, TSide side) {
  return side == TSide::k1 ? record.item.source : record.item.destination;
}

// A side is on the server only when it is the pair's FTP side and its path
// names a server; a local path that merely holds "/" never goes there.
bool IsOnFtp(const TFolderPair& pair, const TPtkItem& record, TSide side) {
  const uint8_t ftpKind = side == TSide::k1 ? kPairKindFtpSource : kPairKindFtpDestination;
  return pair.pairKind == ftpKind && platform::IsFtpPath(PathOf(record, side));
}

// Gone only when the server said so: a reply other than 2xx, a lost
// connection or a failed login leaves the folder counted as there.
bool DeleteFtpFolder(TJobRun& run, const TFolderPair& pair, const std::string& ftpPath) {
  TCopyFtp& ftp = run.Ftp();
  if (!ftp.ConnectFtp(*pair.FtpSite(), false)) return false;
  return ftp.RemoveDirectory(FtpServerPath(ftpPath)).ok;
}

class TFolderRecheck {
 public:
  explicit TFolderRecheck(TJobRun& run) : run_(run), window_(run.settings.minimized) {}

  // True when the record's folders are gone now.
  bool Retry(const TPtkItem& record) {
    const TSyncItem& item = record.item;
    if (item.stateCode == kCodeFolderOnlyInDestination) window_.ShowSource(item.source);
    else if (item.stateCode == kCodeFolderOnlyInSource) window_.ShowDest(item.destination);
    else window_.ShowBoth(item.source, item.destination);
    // The pair whose roots hold both folders; none is never guessed.
    const TFolderPair* pair = run_.pairs ? run_.pairs->Find(item.source, item.destination) : nullptr;
    if (!pair) return false;
    if (item.stateCode == kCodeFolderOnlyInDestination) return Delete(*pair, record, TSide::k2);
    if (item.stateCode == kCodeFolderOnlyInSource) return Delete(*pair, record, TSide::k1);
    // Both sides must go, the server's first.
    const bool serverOnSide2 = IsOnFtp(*pair, record, TSide::k2);
    const bool firstGone = Delete(*pair, record, serverOnSide2 ? TSide::k2 : TSide::k1);
    return Delete(*pair, record, serverOnSide2 ? TSide::k1 : TSide::k2) && firstGone;
  }

 private:
  bool Delete(const TFolderPair& pair, const TPtkItem& record, TSide side) {
    if (IsOnFtp(pair, record, side)) return DeleteFtpFolder(run_, pair, PathOf(record, side));
    // Below the pair's root and never through a link, like every deletion
    // of the run.
    TCurrentFolders folders;
    folders.Enter(record.item.source, record.item.destination, pair.sourceRoot, pair.destinationRoot);
    return folders.RemoveFolder(run_, side).status == kPtkDone;
  }

  TJobRun& run_;
  TtfDelFldrCheck window_;
};

}  // namespace

void CheckDelFolders(TJobRun& run) {
  ProtocolStream& protocol = *run.files.protocol;
  TFolderRecheck check(run);
  // Found by index in one pass, then taken newest first.
  std::vector<uint64_t> failed;
  uint64_t index = 0;
  protocol.ForEachRecord([&](std::span<const uint8_t> bytes) {
    if (RecordStatus(bytes) == kPtkError && IsFolderDeletion(TPtkItem::Decode(bytes).item)) failed.push_back(index);
    ++index;
    return true;
  });
  for (auto it = failed.rbegin(); it != failed.rend(); ++it) {
    const uint64_t position = *it * ProtocolStream::kRecordSize;
    if (check.Retry(protocol.ReadAt(position))) run.RewriteRecord(position, {kPtkDone, std::string(kMsgFoldersDeleted)});
  }
}

}  // namespace kv
