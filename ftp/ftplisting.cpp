// TMFtp.List: a folder listing over a data connection, or from the listing
// cache while it is fresh.
//
// A line of listing data ends at LF (a CR before it goes with it), so
// servers that end lines with LF alone are read line by line, and text left
// when the data connection closes is the last line: an entry missing from a
// listing would make the copy engine skip its checks for that file. NUL
// bytes are dropped one by one. A line longer than the reply reader allows
// is no listing: the data connection fails.
#include "ftp/ftp.h"
#include "ftp/ftpcache.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

namespace {

constexpr std::string_view kTextListingLineTooLong = "Listing line too long";

}  // namespace

void TMFtp::List() {
  WaitForNoopReply();
  if (Cache && connected_ && !busy_ && ListFromCache()) {
    WaitWhileBusy();
    return;
  }
  // A listing that fails must not leave another folder's entries behind.
  files_.Clear();
  directories_.Clear();
  if (!BeginOperation()) return;
  operationCode_ = opList;
  fromCache_ = false;
  BeginTransfer(Transfer::Listing);
  rawListing_.clear();
  filesBuilt_.Clear();
  directoriesBuilt_.Clear();
  listingLines_.Clear();
  listingState_.Reset();
  SetTransferType("A", [this](const std::string& r) {
    DataConnectionStep(r, [this](const std::string& reply) { ListStep(reply); });
  });
  WaitWhileBusy();
}

// Both cache files fresh and whole: the lists come from them, and the
// operation ends at once, without OnFtpBusy and without a command. It still
// holds the component until its end is served, so that nothing can start in
// between.
bool TMFtp::ListFromCache() {
  FlushListingCache();
  TMFtpFileInfoList directories;
  TMFtpFileInfoList files;
  const int port = Port;
  if (!LoadCacheFile(GetCacheFileName(Server(), Username, directory_, port, true), directories, CacheExpire) ||
      !LoadCacheFile(GetCacheFileName(Server(), Username, directory_, port, false), files, CacheExpire))
    return false;
  directories_ = std::move(directories);
  files_ = std::move(files);
  fromCache_ = true;
  busy_ = true;
  listingValid_ = true;
  errorCode_ = 0;
  StopNoopTimer();
  operationCode_ = opList;
  Done();
  return true;
}

void TMFtp::ListStep(const std::string& reply) {
  if (ReplyGroup(reply) != '2') {
    EndWithError(ftpErrStepRefused, {});
    return;
  }
  if (SendTransferCommand("LIST -aL" + FileMask)) DoInfo(ftpInfoListing);
}

void TMFtp::ReadListingData() {
  const bool read = ReadRound([this](std::string_view block) {
    if (!listingLines_.Append(block)) {
      errorText_ = kTextListingLineTooLong;
      Fail(ftpErrDataConnection);
      return false;
    }
    const uint64_t serial = transferSerial_;
    std::string line;
    while (listingLines_.NextLine(line)) {
      TakeListingLine(line);
      if (!TransferRunning(serial)) return false;
    }
    return true;
  });
  if (read) NoteProgress();
}

void TMFtp::FlushListing() {
  std::string line;
  if (listingLines_.TakeRest(line)) TakeListingLine(line);
}

void TMFtp::TakeListingLine(const std::string& line) {
  if (line.empty()) return;
  const uint64_t serial = transferSerial_;
  DoInfo(ftpInfoProgress, line);
  if (!TransferRunning(serial)) return;
  rawListing_.push_back(line);
  FtpListEntry e;
  if (!ParseListLine(ServerType, line, e, listingState_)) return;
  if (!e.isDirectory) {
    filesBuilt_.Add(e.name, e.attributes, e.date, e.size, e.link, e.owner, e.group, {});
    DoInfo(ftpInfoEntryFound, "File");
    return;
  }
  if (e.name == "." || e.name == "..") return;
  directoriesBuilt_.Add(e.name, e.attributes, {}, e.size, e.link, e.owner, e.group, {});
  DoInfo(ftpInfoEntryFound, "Folder");
}

// The lists take the listing only when nothing failed on the way; they are
// cached whatever Cache says, so that the cache is fresh when it is used.
// With Cache off (the copy engine lists a folder before and after every
// file) the writing waits for the folder's last listing: two new files per
// listing cost more than the transfer of a small file.
void TMFtp::FinishListing() {
  if (!listingValid_) return;
  files_ = std::move(filesBuilt_);
  directories_ = std::move(directoriesBuilt_);
  filesBuilt_.Clear();
  directoriesBuilt_.Clear();
  const int port = Port;
  PendingCache next{GetCacheFileName(Server(), Username, directory_, port, true),
                    GetCacheFileName(Server(), Username, directory_, port, false), directories_, files_};
  if (pendingCache_ && pendingCache_->filesFile != next.filesFile) FlushListingCache();
  pendingCache_ = std::move(next);
  if (Cache) FlushListingCache();
}

void TMFtp::FlushListingCache() {
  if (!pendingCache_) return;
  SaveCacheFile(pendingCache_->directoriesFile, pendingCache_->directories);
  SaveCacheFile(pendingCache_->filesFile, pendingCache_->files);
  pendingCache_.reset();
}

}  // namespace kv
