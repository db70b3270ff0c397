#pragma once
// TMFtp: the FTP client component. It is driven entirely by the server's
// replies, which arrive as messages on the thread that created it; nothing
// blocks. One operation runs at a time, one reply handler waits at a time,
// and every operation ends with OnFtpReady followed by its own event (also
// after OnFtpError), delivered through a message the component posts to
// itself. The inherited socket is the control connection.
//
// The component may be destroyed between any two messages: what is still
// queued for it (replies, its own completion messages, timers, a lookup's
// answer) is dropped with it.
//
// Nothing waits for ever: a connect or lookup has TimeOut seconds, and a
// reply that makes no progress for three times TimeOut fails the connection
// with error 7 (the bytes of a running transfer count as progress). A
// connection that is lost always ends with an error (unless the client asked
// for it with QUIT), OnFtpQuit and OnFtpReady, after the retries that
// Retries allows before login; an operation that was running then also gets
// its own event, and its transfer ends on the spot (data connections and the
// local file closed, nothing completes later).
//
// Files move in blocks of up to kFtpDataBlock bytes. Each round of data
// (one read or write notice of the data connection, at most
// kFtpDataRoundBlocks blocks) ends with one progress report (info 8) and
// goes back to the message loop, so the caller's window and cancel button
// are served between rounds.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftpcodes.h"
#include "ftp/ftpdata.h"
#include "ftp/ftplocalfile.h"
#include "ftp/ftpparse.h"
#include "ftp/ftpreply.h"
#include "ftp/ftpsock.h"
#include "ftp/ftptypes.h"

namespace kv {

class TMFtp;
using TMFtpNotifyEvent = std::function<void(TMFtp& sender)>;
using TMFtpInfoEvent = std::function<void(TMFtp& sender, FtpInfo info, const std::string& addinfo)>;
using TMFtpErrorEvent = std::function<void(TMFtp& sender, FtpError error, const std::string& addinfo)>;
// The handler puts the missing value into `value`, which starts with the
// property's current value.
using TMFtpInfoNeededEvent = std::function<void(TMFtp& sender, TMFtpInfoNeeded need, std::string& value)>;
using TMFtpFileFoundEvent =
    std::function<void(TMFtp& sender, const MFtpFileInfo& fileFound, const std::string& location, bool directory)>;
// Receives the final line of the next reply.
using TFtpReplyHandler = std::function<void(const std::string& reply)>;

// Messages the component posts to itself.
inline constexpr uint32_t kMsgFtpQuit = platform::WM_USER + 2;       // the connection is gone
inline constexpr uint32_t kMsgFtpDone = platform::WM_USER + 4;       // an operation ended; wParam: its code
inline constexpr uint32_t kMsgFtpReconnect = platform::WM_USER + 5;  // a retry without pause
inline constexpr uint32_t kMsgFtpUploadMore = platform::WM_USER + 6; // the next round of an upload

inline constexpr size_t kFtpDataBlock = size_t{256} << 10;
inline constexpr int kFtpDataRoundBlocks = 4;
inline constexpr int kFtpListenerSlots = 4;

// The answers OnFtpNeedInfo may give to niResume; any other text cancels.
inline constexpr std::string_view kAnswerResume = "Resume";
inline constexpr std::string_view kAnswerOverwrite = "Overwrite";

// What the running operation is; selects the event fired when it ends.
enum TFtpOperation : uint8_t {
  opNone = 0,
  opLogin = 1,
  opChangeDirectory = 2,
  opCreateDirectory = 3,
  opRemoveDirectory = 5,
  opDeleteFile = 7,
  opDownload = 10,
  opUpload = 12,
  opList = 14,
  opRename = 15,
  opNoop = 19,  // never completes through kMsgFtpDone
};

inline constexpr std::string_view kFtpComponentVersion = "Kestrovane FTP 4.0";

class TMFtp : public TMSocket {
 public:
  TMFtp();
  ~TMFtp() override;

  // --- Published properties (Server, Port and TimeOut come from TMSocket;
  // Port 0 means 21).
  bool Asynchronous() const { return asynchronous_; }
  void SetAsynchronous(bool value);  // ignored while Busy
  bool MultiThreaded = false;        // both kinds of pump serve the thread's own loop
  uint16_t NoopInterval() const { return noopInterval_; }
  void SetNoopInterval(uint16_t seconds);  // 0: no keep-alive
  std::string Username = "anonymous";
  std::string Password = "kestrovane@localhost";
  std::string Account;
  std::string ProxyUsername;
  std::string ProxyPassword;
  int Retries = 3;
  uint16_t RetryInterval = 15;  // seconds; 0: at once
  TMFtpServerType ServerType = ftpstAutoDetect;
  std::string InitialDirectory;
  std::string FileMask;
  bool Cache = true;
  int CacheExpire = 7;
  TMFtpTransferType TransferMode = BinaryTransfer;
  TMFtpProxyType ProxyType = proxyNone;
  std::string ProxyServer;
  int ProxyPort = 21;
  bool Passive = false;
  std::string_view Version() const { return kFtpComponentVersion; }

  // --- Events
  TMFtpInfoEvent OnFtpInfo;
  TMFtpErrorEvent OnFtpError;
  TMFtpInfoNeededEvent OnFtpNeedInfo;
  TMFtpNotifyEvent OnFtpBusy;
  TMFtpNotifyEvent OnFtpReady;
  TMFtpNotifyEvent OnLoggedIn;
  TMFtpNotifyEvent OnFtpQuit;
  TMFtpNotifyEvent OnDirectoryChanged;
  TMFtpNotifyEvent OnDirectoryCreated;
  TMFtpNotifyEvent OnDirectoryDeleted;
  TMFtpNotifyEvent OnFileDeleted;
  TMFtpNotifyEvent OnFileReceived;
  TMFtpNotifyEvent OnFileStored;
  TMFtpNotifyEvent OnListingDone;
  TMFtpNotifyEvent OnFileRenamed;
  // Published for callers that assign them; no operation fires them.
  TMFtpFileFoundEvent OnFileFound;
  TMFtpNotifyEvent OnIndexFileReceived;
  TMFtpNotifyEvent OnResolvedLinks;
  TMFtpNotifyEvent OnFileTransferred;
  TMFtpNotifyEvent OnAborted;

  // --- State
  bool Busy() const { return busy_; }
  bool Connected() const { return connected_; }
  bool LoggedIn() const { return loggedIn_; }
  // From Login until it logged in or gave up, retries and their pauses
  // included: a caller that waits for the login waits while this holds.
  bool LoggingIn() const { return loggingIn_; }
  bool Resumable() const { return resumable_; }
  const std::string& Directory() const { return directory_; }
  uint8_t ErrorCode() const { return errorCode_; }
  const std::string& LastReply() const { return lastReply_; }
  const std::vector<std::string>& MultiLineReply() const { return reader_.MultiLineReply(); }
  const std::string& LastType() const { return lastType_; }
  // The entries of the last listing of Directory; both are empty after a
  // listing that failed or was refused.
  const TMFtpFileInfoList& Files() const { return files_; }
  const TMFtpFileInfoList& Directories() const { return directories_; }
  // Every line of the last listing received, in order.
  const std::vector<std::string>& RawListing() const { return rawListing_; }
  bool FromCache() const { return fromCache_; }
  // No error since the running (or last) operation began.
  bool ListingValid() const { return listingValid_; }
  // Bytes written to the local file (download), sent (upload) or received
  // (listing) by the running or last transfer.
  int64_t BytesTransferred() const { return bytesTransferred_; }
  // The size the server reported with SIZE, and the REST offset of a
  // resumed transfer (0 otherwise).
  int64_t RemoteSize() const { return remoteSize_; }
  int64_t ResumeOffset() const { return resumeOffset_; }
  // Expires when the component is destroyed, so that a view attached to it
  // (the log view) can tell without being told.
  std::weak_ptr<const void> Presence() const { return presence_; }

  // --- Operations
  // Connects and logs in; does not wait, whatever Asynchronous says.
  // Success is OnLoggedIn, failure OnFtpError.
  void Login();
  void Logout();

  // Each of these first asks BeginOperation and does nothing more when it
  // refuses; when Asynchronous is false it returns only once the operation
  // has ended. Every operation that began ends with OnFtpReady followed by
  // its own event, also after OnFtpError.
  //
  // Fills Files and Directories for Directory: from the listing cache while
  // Cache is on and both cache files are fresh (then without a command and
  // without OnFtpBusy), otherwise with "LIST -aL" + FileMask. OnListingDone.
  // A listing from the server goes into the cache whatever Cache says; with
  // Cache off it is written only once the client lists another folder or
  // ends (a folder it removes is not written), so that a folder listed again
  // and again costs its cache files once.
  void List();
  // Downloads into the local file (a Windows path). An existing local file
  // asks OnFtpNeedInfo (niResume): "Resume" continues it from its size (or
  // fetches it whole when the server cannot resume it), "Overwrite" or
  // nothing replaces it once the download ended without error, any other
  // answer ends the operation without a transfer. With expectedSize (0 or
  // more) a download whose file ends at another size fails with error 27
  // and replaces nothing. OnFileReceived.
  void GetFile(std::string_view remoteFile, std::string_view localFile, int64_t expectedSize = -1);
  // Uploads the local file. When the server can resume and already holds a
  // shorter file of that name, OnFtpNeedInfo (niResume) decides as above.
  // OnFileStored.
  void PutFile(std::string_view localFile, std::string_view remoteFile);
  // CWD, then PWD when the reply names no folder. Directory is empty after
  // a failed change. OnDirectoryChanged.
  void ChangeDirectory(std::string_view directory);
  void CreateDirectory(std::string_view name);  // MKD; OnDirectoryCreated
  // RMD, and the listing-cache files of the removed folder are deleted.
  // Nothing at all for an empty name. OnDirectoryDeleted.
  void RemoveDirectory(std::string_view name);
  void DeleteFile(std::string_view name);  // DELE; nothing for an empty name; OnFileDeleted
  // RNFR, then "Rnto". Nothing at all when oldName is empty or equals
  // newName. OnFileRenamed.
  void RenameFile(std::string_view oldName, std::string_view newName);
  // Sends the command as it is. Without a handler the reply ends the
  // operation (error 29 unless it is 2xx), with OnFtpReady only. With a
  // handler the handler gets the final reply and the component stays busy
  // until the caller calls ClearBusy. An empty command begins and ends an
  // operation without sending anything.
  void SendCommand(std::string_view command, TFtpReplyHandler handler = nullptr);
  // Index of the name in Files, -1 when absent.
  int32_t IndexOfFile(std::string_view name) const { return files_.IndexOf(name); }

  // --- Listener slots: the log view follows the component through them.
  // Each report goes to OnFtpInfo (OnFtpError) first, then to the listeners
  // of slots 1 to 4. Add... returns the slot taken, or -1 when the handler
  // is empty or every slot is taken; Remove... frees a slot (other numbers
  // are ignored).
  int AddInfoListener(TMFtpInfoEvent handler);
  int AddErrorListener(TMFtpErrorEvent handler);
  void RemoveListener(int slot);
  void RemoveErrorListener(int slot);

  // --- The operation model, for the operations built on it
  bool BeginOperation();
  void Done();
  // Sends one command; its reply goes to `handler`. A command holding CR,
  // LF or NUL is never sent: the operation ends with error 29. False when
  // nothing (or not everything) went out; the operation has then ended.
  bool SendLine(std::string_view command, TFtpReplyHandler handler);
  void ClearBusy();
  // One round of waiting: up to a few milliseconds for something to arrive,
  // then everything pending is served.
  void PumpMessages();

  // --- Reports
  void DoInfo(FtpInfo info, std::string_view addinfo = {});
  void DoError(FtpError error);
  // Turns LastError into an error report and fails the connection; false
  // when there is nothing to report.
  bool CheckSocketError();
  // Reports the error and closes the connection (or gives up a connect or
  // lookup still running, without any further event).
  void Fail(FtpError error);
  void Retry();
  void GiveUp();

  // --- Data connections
  // Connects the data socket to the control connection's peer at the port
  // the PASV reply names (never to the address it names). False when the
  // reply holds no six numbers or the port is 0.
  bool ParsePasvReply(const std::string& reply);
  // Opens the listener of an active data connection on the control
  // connection's local address and returns the PORT argument for it; empty
  // when that failed (LastError tells why).
  std::string BuildPortArgument();

 protected:
  void HostResolved() override;

 private:
  class Clock;

  void HandleMessage(const platform::Message& message);
  void OnTimer(uintptr_t timerId);
  void FinishOperation(TFtpOperation operation);
  void WaitWhileBusy();
  void WaitForNoopReply();
  std::string NeedInfo(TMFtpInfoNeeded need, std::string current);
  void EndWithError(FtpError error, std::string text);

  // Connection and disconnection.
  void OpenControlConnection();
  void OnControlConnected(TMSocket& sender);
  void OnControlDisconnected(TMSocket& sender);
  void OnControlTimeout(TMSocket& sender);
  void ScheduleReconnect();
  void Reconnect();

  // Replies.
  void OnControlRead(TMSocket& sender);
  void ProcessReplyLine(const std::string& line);
  void SetReplyHandler(TFtpReplyHandler handler);
  void NoteProgress();
  void OnReplyTimeout();

  // Login dialogue (ftplogin.cpp).
  void WelcomeReply(const std::string& reply);
  void SendUser(std::string_view user);
  void UserReply(const std::string& reply);
  void PassReply(const std::string& reply);
  void AcctReply(const std::string& reply);
  void ProxyUserReply(const std::string& reply);
  void ProxyPassReply(const std::string& reply);
  void SendSite();
  void ServerTypeStep();
  void SystReply(const std::string& reply);
  void ResumeProbe();
  void Rest100Reply(const std::string& reply);
  void DirectoryStep();
  void InitialCwdReply(const std::string& reply);
  void PwdReply(const std::string& reply);
  void FinishLogin();
  void SetTransferType(const std::string& kind, TFtpReplyHandler next);

  std::string DirectoryOfPwdReply(const std::string& reply) const;

  // Data connections and the completion rule (ftpdataconn.cpp).
  enum class Transfer : uint8_t { None, Listing, Download, Upload };
  // Data events, served one at a time in this order (lowest bit first).
  enum : uint8_t { kDataOpened = 1, kDataRead = 2, kDataWrite = 4, kDataClosed = 8 };
  void BeginTransfer(Transfer kind);
  bool BeginFileTransfer(TFtpOperation operation, Transfer kind, std::string_view remoteFile,
                         std::string_view localFile);
  void CloseTransfer();
  bool TransferRunning(uint64_t serial) const { return transfer_ != Transfer::None && transferSerial_ == serial; }
  void DataConnectionStep(const std::string& typeReply, TFtpReplyHandler dataStep);
  void PasvReply(const std::string& reply, const TFtpReplyHandler& dataStep);
  bool SendTransferCommand(const std::string& command);
  void TransferCommandStep(const std::string& dataReply, std::string command, std::string_view restRefused);
  bool ReadRound(const std::function<bool(std::string_view)>& take);
  void TransferReply(const std::string& reply);
  void NoteDataClosed();
  void CompleteTransfer();
  void FailDataConnection(int winSockError);
  void OnDataConnected(TMSocket& sender);
  void OnDataAccepted(TMSocket& sender);
  void OnDataClosedBySocket(TMSocket& sender);
  void ServeDataEvent(uint8_t event);
  void DataOpened();
  void DataReadable();
  void DataWritable();
  void DataClosed();
  bool ReportProgress(uint64_t serial);

  // Listing (ftplisting.cpp).
  bool ListFromCache();
  void ListStep(const std::string& reply);
  void ReadListingData();
  void FlushListing();
  void TakeListingLine(const std::string& line);
  void FinishListing();
  void FlushListingCache();

  // Download (ftpget.cpp).
  void AskResumeDownload(const std::string& typeReply);
  bool EndedByAnswer(const std::string& answer);
  void StartFreshDownload(const std::string& typeReply);
  void DownloadSizeReply(const std::string& reply);
  void ResumeDownload(int64_t localSize);
  void RetrStep(const std::string& reply);
  void AnnounceDownloadSize(const std::string& reply);
  void ReadDownloadData();
  void FinishDownload();

  // Upload (ftpput.cpp).
  void UploadAfterType(const std::string& typeReply);
  void UploadSizeReply(const std::string& reply);
  void StorStep(const std::string& reply);
  void UploadDataOpened();
  void WriteUploadData();
  bool UploadAllRead() const;
  bool ReadUploadBlock();
  void FailUploadRead();
  void FinishUploadData();

  // Folder commands (ftpcommands.cpp).
  void ChangeDirectoryReply(const std::string& reply);
  void RemoveDirectoryReply(const std::string& reply);
  void RenameReply(const std::string& reply);
  void SimpleReply(const std::string& reply);

  void FailLocal(FtpError error);

  // Keep-alive and logout.
  void StartNoopTimer();
  void StopNoopTimer();
  void OnNoopTimer();
  void NoopReply(const std::string& reply);
  void QuitReply(const std::string& reply);

  std::unique_ptr<Clock> clock_;
  bool asynchronous_ = true;
  uint16_t noopInterval_ = 30;
  bool replyTimerRunning_ = false;

  bool busy_ = false;
  bool connected_ = false;
  bool loggedIn_ = false;
  bool loggingIn_ = false;
  std::string directory_;
  uint8_t operationCode_ = opNone;
  TFtpReplyHandler replyHandler_;
  int attemptsLeft_ = 0;
  bool reconnecting_ = false;
  bool retryFinished_ = false;
  bool resumable_ = false;
  bool sizeSupported_ = true;
  bool noopSupported_ = true;
  uint8_t errorCode_ = 0;
  std::string errorText_;
  bool failClosing_ = false;  // Fail is closing the control connection
  bool quitSent_ = false;     // the close that follows is asked for
  TMFtpProxyType proxy_ = proxyNone;  // the proxy mode of this connection
  uint16_t connectPort_ = 21;         // the port of the server or the proxy
  TFtpReplyReader reader_;
  std::string lastReply_;
  bool inReader_ = false;
  bool listingValid_ = true;
  std::string lastType_;

  std::shared_ptr<const TMFtp*> presence_ = std::make_shared<const TMFtp*>(this);
  TMFtpInfoEvent infoListeners_[kFtpListenerSlots];
  TMFtpErrorEvent errorListeners_[kFtpListenerSlots];

  // The running transfer.
  TMSocket dataSocket_;
  TMSocket listener_;
  Transfer transfer_ = Transfer::None;
  uint64_t transferSerial_ = 0;  // changes with every transfer that begins
  bool replyDone_ = false;       // its final 2xx reply arrived
  bool dataClosed_ = false;      // its data connection was closed
  bool dataOpened_ = false;
  bool transferStarted_ = false;  // the transfer command was answered 1xx
  bool inDataHandler_ = false;   // a data event is being served
  uint8_t pendingDataEvents_ = 0;
  int dataCloseError_ = 0;
  bool failedLocally_ = false;   // a local error was reported; the reply only ends it
  std::string remoteFile_;
  std::string localFile_;
  TFtpLocalFile local_;
  int64_t remoteSize_ = 0;
  int64_t resumeOffset_ = 0;
  int64_t uploadEnd_ = 0;           // the local file's size when the data connection opened
  int64_t expectedSize_ = -1;       // the size a download must end at; -1: any
  int64_t bytesTransferred_ = 0;
  std::vector<char> buffer_;        // one block of data
  size_t pendingBegin_ = 0;         // the part of buffer_ an upload has yet to send
  size_t pendingEnd_ = 0;

  // Listings.
  TMFtpFileInfoList files_;
  TMFtpFileInfoList directories_;
  TMFtpFileInfoList filesBuilt_;
  TMFtpFileInfoList directoriesBuilt_;
  std::vector<std::string> rawListing_;
  TFtpReplyReader listingLines_;
  FtpListingState listingState_;
  bool fromCache_ = false;
  // The last listing from the server, not yet in its cache files.
  struct PendingCache {
    std::string directoriesFile;
    std::string filesFile;
    TMFtpFileInfoList directories;
    TMFtpFileInfoList files;
  };
  std::optional<PendingCache> pendingCache_;
  std::string removedName_;
  std::string newName_;
};

}  // namespace kv
