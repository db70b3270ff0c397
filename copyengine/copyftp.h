#pragma once
// The copy engine's side of the FTP client: one TMFtp for the whole run, the
// waits for its operations, the handlers of its events, the login of a
// pair's site, changes of folder, fresh listings, uploads that never cost
// the file they replace, and the round trip of "kvftp.log".
//
// Every operation is started and then waited for, pumping the run's thread,
// until the event that ends that very operation (its own event, which the
// client sends after OnFtpReady also when it failed); an OnFtpError on the
// way marks it failed. An operation the client does not begin (not
// connected, busy, a name it refuses) ends the wait at once as a failure. A
// cancel (AbortRequested) ends every wait at once. A login is waited for
// until the client logged in or gave up, retries included.
//
// DeleteFtpFolder of the post-run check uses ConnectFtp (without the
// remote-state record), ChangeFtpFolder and RemoveDirectory.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/ftplogmirror.h"
#include "copyengine/ftpreadwriter.h"
#include "ftp/ftp.h"
#include "platform/time.h"
#include "shared/folderpair.h"

namespace kv {

class TtfCopy;

// How one waited operation ended: ok without an error event, else error
// says why (the client's text, with the server's reply where one refused).
struct FtpStep {
  bool ok = false;
  std::string error;
  explicit operator bool() const { return ok; }
};

// Where a replacing upload stopped (TCopyFtp::UploadReplacing).
enum class FtpUploadFailure {
  None,
  Transfer,    // the file did not reach the server whole; the old one is untouched
  Rename,      // it could not take the name; the old file keeps it
  RenameBack,  // the old file was renamed aside and could not go back (asideName)
  Aborted,     // cancelled before the new file took the name
};

struct FtpUpload {
  FtpUploadFailure failure = FtpUploadFailure::None;
  std::string error;
  std::string asideName;
  // The name's entry in the listing after the upload (with failure None).
  MFtpFileInfo entry;
};

// The size column of a listing entry when it is plain decimal digits; -1
// otherwise.
int64_t FtpListedSize(const MFtpFileInfo& entry);

// The server path of an FTP path of a job ("ftp://host/pub/x/" or with
// "\"): what follows the host, with "/" separators, single slashes and no
// trailing slash ("/" for the root).
std::string FtpServerPath(std::string_view ftpPath);

// A name that can be sent to a server as one argument: not empty, no
// separator, no line break or NUL, not "." or "..".
bool IsFtpFileName(std::string_view name);

class TCopyFtp final : public IFtpLogTransfer {
 public:
  // states: the run's remote-state record; logFolder: where its local
  // mirrors live (one folder per host).
  TCopyFtp(TFTPReadWriter& states, std::string logFolder);
  // Logs out without waiting.
  ~TCopyFtp() override;
  TCopyFtp(const TCopyFtp&) = delete;
  TCopyFtp& operator=(const TCopyFtp&) = delete;

  TMFtp& Client() { return ftp_; }
  TFTPReadWriter& States() { return states_; }

  // Logs in to the site, or keeps the session when it is one of the same
  // server through the same proxy (only with the site's proxy flag: without
  // it the session is always made anew). After a new login the start folder
  // is listed and, with loadLog, "kvftp.log" is fetched and loaded (what
  // went wrong with it: logProblem). True when logged in; the reason
  // otherwise in lastError.
  bool ConnectFtp(const TFtpSite& site, bool loadLog);
  bool LoggedIn() const { return ftp_.LoggedIn() && ftp_.Connected(); }
  const std::string& StartFolder() const { return startFolder_; }
  const std::string& lastError() const { return lastError_; }
  const std::string& logProblem() const { return logProblem_; }

  // Changes to the folder of an FTP path; nothing to do when it is the
  // current one. Fails when the client refused or the server did (then
  // Directory is empty).
  FtpStep ChangeFtpFolder(std::string_view ftpPath);
  // Lists the current folder afresh (never from the listing cache).
  FtpStep RefreshListing();
  // The remote-state lists take the current folder's records.
  void SelectStateFolder();
  // Writes the records of the folder selected last back into the mirror.
  FtpStateResult SaveStateFolder();

  // The entry of exactly that name in the last listing; none when absent.
  std::optional<MFtpFileInfo> Listed(std::string_view name) const;

  // Single operations in the current folder.
  FtpStep CreateDirectory(std::string_view path);
  FtpStep RemoveDirectory(std::string_view name);
  FtpStep DeleteFile(std::string_view name);
  FtpStep RenameFile(std::string_view from, std::string_view to);
  // Downloads into a temporary file of the system's own beside localPath,
  // which replaces localPath only after a transfer without error that
  // ended at expectedSize (-1: any size).
  FtpStep GetFile(std::string_view name, std::string_view localPath, int64_t expectedSize);
  // Uploads localPath (localSize bytes when it was looked at) onto name in
  // the current folder, whose listing must be fresh: into a temporary name
  // first, then, once the listing shows it whole, RNFR/RNTO onto the name.
  // A server that will not rename onto an existing file gets that file
  // renamed aside first, and back when the last step fails.
  FtpUpload UploadReplacing(std::string_view localPath, std::string_view name, int64_t localSize);

  // The file's time on the server (MDTM, as the server gives it); the
  // listing's date text where the server gives none.
  platform::DosDateTime GetFtpFileTime(std::string_view name, std::string_view listingDate);

  // While set, transfer progress moves the window's file bar (bytes /
  // divisor); null stops it.
  void ShowProgressIn(TtfCopy* window, int64_t divisor);

  // "kvftp.log": fetched after a login, sent back at the end of each block.
  FtpStateResult LoadFtpLog();
  FtpLogUpload SaveFtpLog();

  // IFtpLogTransfer
  bool Connected() override { return LoggedIn(); }
  bool EnterStartFolder() override;
  bool IsListed(std::string_view name) override { return Listed(name).has_value(); }
  bool Download(std::string_view remoteName, std::string_view localPath) override;
  bool Upload(std::string_view localPath, std::string_view remoteName) override;

 private:
  // The event a wait ends with.
  enum class Awaited : uint8_t {
    None,
    LoggedIn,
    DirectoryChanged,
    DirectoryCreated,
    DirectoryDeleted,
    FileDeleted,
    FileRenamed,
    FileReceived,
    FileStored,
    ListingDone,
    Reply,  // the reply handler of SendCommand (or the end of the operation)
  };

  void AttachHandlers();
  bool SameSession(const TFtpSite& site) const;
  void UseSite(const TFtpSite& site);
  bool LogIn();
  FtpStep Await(Awaited awaited, const std::function<void()>& start);
  // Waits until ended() or a cancel; false on a cancel.
  bool WaitForFtp(const std::function<bool()>& ended);
  std::string UnusedTempName() const;
  void RemoveQuietly(std::string_view name);
  // Ends the command whose reply came after its wait was given up.
  void SettleLateReply();
  FtpUpload RenameOnto(const std::string& temp, std::string_view name, bool nameTaken);

  void OnFtpErrorEvent(FtpError error, const std::string& text);
  void OnFtpDoneEvent(Awaited event);
  void OnDirectoryChangedEvent();
  void OnFtpInfoEvent(FtpInfo info, const std::string& text);
  void OnMdtmReply(const std::string& reply);

  TFTPReadWriter& states_;
  std::string logFolder_;
  TMFtp ftp_;
  std::string startFolder_;
  std::string lastError_;
  std::string logProblem_;
  std::string stateServer_, stateFolder_;  // the folder selected last

  // The wait.
  Awaited awaited_ = Awaited::None;
  bool ended_ = false;
  bool failed_ = false;
  bool starting_ = false;
  std::string errorText_;
  std::string refusal_;
  std::optional<platform::CivilTime> mdtm_;
  bool replied_ = false;
  bool replyDue_ = false;  // a command's wait ended before its reply came

  bool inTransfer_ = false;  // a file moves: progress reports are its bytes
  TtfCopy* progressWindow_ = nullptr;
  int64_t progressDivisor_ = 1;
};

}  // namespace kv
