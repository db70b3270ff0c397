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
// with error 7. A connection that is lost always ends with an error (unless
// the client asked for it with QUIT), OnFtpQuit and OnFtpReady, after the
// retries that Retries allows before login.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftpcodes.h"
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
// Receives the final line of the next reply.
using TFtpReplyHandler = std::function<void(const std::string& reply)>;

// Messages the component posts to itself.
inline constexpr uint32_t kMsgFtpQuit = platform::WM_USER + 2;       // the connection is gone
inline constexpr uint32_t kMsgFtpDone = platform::WM_USER + 4;       // an operation ended; wParam: its code
inline constexpr uint32_t kMsgFtpReconnect = platform::WM_USER + 5;  // a retry without pause

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

  // --- State
  bool Busy() const { return busy_; }
  bool Connected() const { return connected_; }
  bool LoggedIn() const { return loggedIn_; }
  bool Resumable() const { return resumable_; }
  const std::string& Directory() const { return directory_; }
  uint8_t ErrorCode() const { return errorCode_; }
  const std::string& LastReply() const { return lastReply_; }
  const std::vector<std::string>& MultiLineReply() const { return reader_.MultiLineReply(); }
  const std::string& LastType() const { return lastType_; }

  // --- Operations
  // Connects and logs in; does not wait, whatever Asynchronous says.
  // Success is OnLoggedIn, failure OnFtpError.
  void Login();
  void Logout();

  // --- The operation model, for the operations built on it
  bool BeginOperation();
  void Done();
  // Sends one command; its reply goes to `handler`. A command holding CR,
  // LF or NUL is never sent: the operation ends with error 29. False when
  // nothing (or not everything) went out; the operation has then ended.
  bool SendLine(std::string_view command, TFtpReplyHandler handler);
  void ClearBusy() { busy_ = false; }
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
};

}  // namespace kv
