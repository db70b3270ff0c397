// TMFtp's operation model, reports, control connection, replies, retries,
// keep-alive and logout. The login dialogue is in ftplogin.cpp.
#include <algorithm>
#include <climits>
#include <utility>

#include "ftp/ftp.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace kv {

using namespace platform;

namespace {

enum : uintptr_t { kNoopTimer = 1, kRetryTimer = 2, kReplyTimer = 3 };

constexpr int kPumpWaitMs = 10;
constexpr int kControlChunk = 4096;
// Chunks read per notice: a server that never stops sending (replies nobody
// asked for) must not keep the thread from its message loop.
constexpr int kControlChunksPerNotice = 16;
constexpr int kReplyLimitFactor = 3;  // a reply may take three connect time-outs
constexpr std::string_view kTextLineTooLong = "Reply line too long";
constexpr std::string_view kTextBadCommand = "Command holds a line break or a NUL byte";

unsigned Milliseconds(int64_t seconds) {
  return static_cast<unsigned>(std::clamp<int64_t>(seconds * 1000, 0, UINT_MAX));
}

}  // namespace

// The component's timers: keep-alive, the retry pause and the reply limit.
class TMFtp::Clock : public MessageHandler {
 public:
  explicit Clock(TMFtp& owner) : owner_(owner) {}

 protected:
  void HandleMessage(const Message& message) override {
    if (message.id == WM_TIMER) owner_.OnTimer(message.wParam);
  }

 private:
  TMFtp& owner_;
};

TMFtp::TMFtp() : clock_(std::make_unique<Clock>(*this)) {
  Port = 21;
  OwnerHook = [this](const Message& m) { HandleMessage(m); };
  OnConnect = [this](TMSocket& s) { OnControlConnected(s); };
  OnDisconnect = [this](TMSocket& s) { OnControlDisconnected(s); };
  OnRead = [this](TMSocket& s) { OnControlRead(s); };
  OnTimeout = [this](TMSocket& s) { OnControlTimeout(s); };
  dataSocket_.OnConnect = [this](TMSocket& s) { OnDataConnected(s); };
  dataSocket_.OnRead = [this](TMSocket&) { ServeDataEvent(kDataRead); };
  dataSocket_.OnWrite = [this](TMSocket&) { ServeDataEvent(kDataWrite); };
  dataSocket_.OnDisconnect = [this](TMSocket& s) { OnDataClosedBySocket(s); };
  dataSocket_.OnTimeout = [this](TMSocket&) {
    if (transfer_ != Transfer::None) FailDataConnection(WSAETIMEDOUT);
  };
  listener_.OnAccept = [this](TMSocket& s) { OnDataAccepted(s); };
}

// The socket closes without events (TMSocket); the clock and the socket's
// handler take whatever is still queued for them along. A listing still
// waiting for its cache files gets them.
TMFtp::~TMFtp() { FlushListingCache(); }

void TMFtp::SetAsynchronous(bool value) {
  if (!busy_) asynchronous_ = value;
}

void TMFtp::SetNoopInterval(uint16_t seconds) {
  noopInterval_ = seconds;
  if (!busy_) StartNoopTimer();  // during an operation it waits for the operation's end
}

// ---- Operation model --------------------------------------------------------

bool TMFtp::BeginOperation() {
  WaitForNoopReply();
  if (!connected_ || busy_) {
    listingValid_ = false;
    DoInfo(connected_ ? ftpInfoBusy : ftpInfoNotConnected);
    return false;
  }
  busy_ = true;
  if (OnFtpBusy) OnFtpBusy(*this);
  listingValid_ = true;
  StopNoopTimer();
  errorCode_ = 0;
  return true;
}

// An operation asked for while a keep-alive NOOP waits for its reply starts
// once the reply is in; refusing it would leave its caller waiting for an
// event that never comes. The reply limit bounds the wait.
void TMFtp::WaitForNoopReply() {
  while (busy_ && operationCode_ == opNoop && connected_) PumpMessages();
}

void TMFtp::Done() {
  SetReplyHandler(nullptr);
  CloseTransfer();
  PostToWindow(kMsgFtpDone, operationCode_);
}

void TMFtp::PumpMessages() {
  MessageLoop& loop = MessageLoop::Current();
  loop.WaitMessage(kPumpWaitMs);
  loop.ProcessMessages();
}

void TMFtp::WaitWhileBusy() {
  if (asynchronous_) return;
  while (busy_) PumpMessages();
}

void TMFtp::HandleMessage(const Message& message) {
  switch (message.id) {
    case kMsgFtpDone:
      busy_ = false;
      StartNoopTimer();
      operationCode_ = opNone;
      if (OnFtpReady) OnFtpReady(*this);
      FinishOperation(static_cast<TFtpOperation>(message.wParam));
      break;
    case kMsgFtpQuit:
      busy_ = false;
      StopNoopTimer();
      loggedIn_ = false;
      if (OnFtpQuit) OnFtpQuit(*this);
      break;
    case kMsgFtpReconnect:
      Reconnect();
      break;
    case kMsgFtpUploadMore:
      if (TransferRunning(message.wParam)) ServeDataEvent(kDataWrite);
      break;
    default:
      break;
  }
}

void TMFtp::FinishOperation(TFtpOperation operation) {
  const auto fire = [this](const TMFtpNotifyEvent& event) {
    if (event) event(*this);
  };
  switch (operation) {
    case opLogin: fire(OnLoggedIn); break;
    case opChangeDirectory: fire(OnDirectoryChanged); break;
    case opCreateDirectory: fire(OnDirectoryCreated); break;
    case opRemoveDirectory: fire(OnDirectoryDeleted); break;
    case opDeleteFile: fire(OnFileDeleted); break;
    case opDownload: fire(OnFileReceived); break;
    case opUpload: fire(OnFileStored); break;
    case opList: fire(OnListingDone); break;
    case opRename: fire(OnFileRenamed); break;
    default: break;
  }
}

void TMFtp::OnTimer(uintptr_t timerId) {
  switch (timerId) {
    case kNoopTimer: OnNoopTimer(); break;
    case kRetryTimer:
      clock_->KillTimer(kRetryTimer);
      Reconnect();
      break;
    case kReplyTimer: OnReplyTimeout(); break;
    default: break;
  }
}

std::string TMFtp::NeedInfo(TMFtpInfoNeeded need, std::string current) {
  if (OnFtpNeedInfo) OnFtpNeedInfo(*this, need, current);
  return current;
}

// ---- Reports -----------------------------------------------------------------

// Each listener is copied before it is called: it may free its own slot.
void TMFtp::DoInfo(FtpInfo info, std::string_view addinfo) {
  std::string text(addinfo.empty() ? DefaultInfoText(info) : addinfo);
  if (info == ftpInfoSent && text.starts_with("PASS ")) text = "PASS (want to know) :-P\r\n";
  if (OnFtpInfo) OnFtpInfo(*this, info, text);
  for (const TMFtpInfoEvent& slot : infoListeners_) {
    const TMFtpInfoEvent listener = slot;
    if (listener) listener(*this, info, text);
  }
}

void TMFtp::DoError(FtpError error) {
  listingValid_ = false;
  errorCode_ = error;
  const std::string text = std::exchange(errorText_, {});
  if (OnFtpError) OnFtpError(*this, error, text);
  for (const TMFtpErrorEvent& slot : errorListeners_) {
    const TMFtpErrorEvent listener = slot;
    if (listener) listener(*this, error, text);
  }
}

namespace {

template <class Handler>
int TakeFreeSlot(Handler (&slots)[kFtpListenerSlots], Handler handler) {
  if (!handler) return -1;
  for (int i = 0; i < kFtpListenerSlots; ++i) {
    if (slots[i]) continue;
    slots[i] = std::move(handler);
    return i + 1;
  }
  return -1;
}

template <class Handler>
void FreeSlot(Handler (&slots)[kFtpListenerSlots], int slot) {
  if (slot >= 1 && slot <= kFtpListenerSlots) slots[slot - 1] = nullptr;
}

}  // namespace

int TMFtp::AddInfoListener(TMFtpInfoEvent handler) { return TakeFreeSlot(infoListeners_, std::move(handler)); }
int TMFtp::AddErrorListener(TMFtpErrorEvent handler) { return TakeFreeSlot(errorListeners_, std::move(handler)); }
void TMFtp::RemoveListener(int slot) { FreeSlot(infoListeners_, slot); }
void TMFtp::RemoveErrorListener(int slot) { FreeSlot(errorListeners_, slot); }

// A local file that cannot be opened, written or read: the system's reason
// goes with the error, and the file is given up (a replacement removed).
void TMFtp::FailLocal(FtpError error) {
  errorText_ = SysErrorMessage(GetLastError());
  local_.Discard();
  failedLocally_ = true;
  DoError(error);
}

bool TMFtp::CheckSocketError() {
  if (LastError == 0 || LastError == WSAENOTSOCK || LastError == WSAENOTCONN) {
    errorCode_ = 0;
    return false;
  }
  SocketFailure failure = FailureOfSocketError(LastError);
  errorText_ = std::move(failure.text);
  Fail(failure.code);
  return true;
}

void TMFtp::Fail(FtpError error) {
  SetReplyHandler(nullptr);
  CloseTransfer();
  DoError(error);
  if (SocketConnected()) {
    failClosing_ = true;
    Close();  // OnControlDisconnected follows the retry rule
    failClosing_ = false;
  } else if (connected_) {
    // The socket went away underneath (a send found it gone).
    failClosing_ = true;
    Abandon();
    OnControlDisconnected(*this);
    failClosing_ = false;
  } else {
    // A connect or lookup still running is given up for good: it must not
    // log in behind a caller that has seen the error.
    loggingIn_ = false;
    Abandon();
  }
}

// Ends the running operation with an error that is not the connection's
// fault; during login the attempt fails as a whole.
void TMFtp::EndWithError(FtpError error, std::string text) {
  errorText_ = std::move(text);
  if (!loggedIn_) {
    Fail(error);
    return;
  }
  DoError(error);
  Done();
}

// ---- Control connection --------------------------------------------------------

void TMFtp::Login() {
  attemptsLeft_ = Retries;
  busy_ = false;
  loggedIn_ = false;
  loggingIn_ = true;
  retryFinished_ = false;
  OpenControlConnection();
}

void TMFtp::OpenControlConnection() {
  reconnecting_ = false;
  clock_->KillTimer(kRetryTimer);
  StopNoopTimer();  // it starts again when the login has ended
  if (busy_) {
    loggingIn_ = false;
    DoInfo(ftpInfoBusy);
    return;
  }
  LastError = 0;
  directory_.clear();
  reader_.Clear();
  errorCode_ = 0;
  listingValid_ = true;
  sizeSupported_ = true;
  noopSupported_ = true;
  lastType_.clear();
  quitSent_ = false;
  connected_ = false;
  --attemptsLeft_;
  RecreateSocket();
  if (CheckSocketError()) return;

  proxy_ = Trim(ProxyServer).empty() ? proxyNone : ProxyType;
  if (Trim(Server()).empty()) {
    const std::string answer = Trim(NeedInfo(niServer, {}));
    if (answer.empty()) {
      loggingIn_ = false;
      Abandon();
      DoError(ftpErrNoServer);
      Done();
      return;
    }
    SetServer(answer);
  }
  if (Port == 0) Port = 21;
  const bool viaProxy = proxy_ != proxyNone;
  connectPort_ = viaProxy ? static_cast<uint16_t>(ProxyPort > 0 && ProxyPort <= 65535 ? ProxyPort : 21) : Port;
  SetPeerText(viaProxy ? ProxyServer : Server());
  if (!AddressText.empty()) {
    SetAddressText(AddressText);
    SetPortNumber(connectPort_);
    Connect();
  } else {
    DoInfo(ftpInfoResolving, HostName);
    ResolveHost(HostName);
  }
  CheckSocketError();
}

void TMFtp::HostResolved() {
  if (CheckSocketError()) return;
  UseResolvedAddress();
  SetPortNumber(connectPort_);
  AddressText = GetAddressText();
  DoInfo(ftpInfoResolved, AddressText);
  Connect();
  CheckSocketError();
}

void TMFtp::OnControlConnected(TMSocket&) {
  if (CheckSocketError()) return;
  DoInfo(ftpInfoConnected, AddressText);
  connected_ = true;
  inReader_ = false;
  reader_.Clear();
  SetReplyHandler([this](const std::string& r) { WelcomeReply(r); });
}

void TMFtp::OnControlTimeout(TMSocket&) {
  errorText_ = kTextTimedOut;
  Fail(ftpErrTimedOut);
}

// The control socket closed, by either side. A loss nobody caused (no
// failure of ours, no QUIT) is an error of its own, so that the retry rule
// applies and the caller always hears how the connection ended.
void TMFtp::OnControlDisconnected(TMSocket&) {
  SetReplyHandler(nullptr);
  CloseTransfer();
  if (reconnecting_) return;
  connected_ = false;
  reader_.Clear();
  if (quitSent_) {
    GiveUp();
    return;
  }
  if (!failClosing_) {
    const FtpError loss = LastError == WSAECONNRESET ? ftpErrReset : ftpErrAborted;
    errorText_ = ErrorTextOf(loss);
    DoError(loss);
  }
  Retry();
  if (retryFinished_) GiveUp();
}

void TMFtp::Retry() {
  if (attemptsLeft_ < 0) {
    DoInfo(ftpInfoRetryFinished);
    retryFinished_ = true;
    return;
  }
  if (loggedIn_ || errorCode_ == 0) return;
  DoInfo(ftpInfoRetrying);
  reconnecting_ = true;
  retryFinished_ = false;
  ScheduleReconnect();
}

// The pause is a timer, so nothing of the failed connection is still on the
// stack when the next one opens.
void TMFtp::ScheduleReconnect() {
  if (RetryInterval == 0)
    PostToWindow(kMsgFtpReconnect);
  else
    clock_->SetTimer(kRetryTimer, Milliseconds(RetryInterval));
}

void TMFtp::Reconnect() {
  if (!reconnecting_ || retryFinished_) return;
  OpenControlConnection();
}

// An operation cut off by the loss still ends with its own event, after
// the error it met; a login or a keep-alive has none to give.
void TMFtp::GiveUp() {
  connected_ = false;
  loggingIn_ = false;
  DoInfo(ftpInfoNotConnected, kTextDisconnected);
  PostToWindow(kMsgFtpQuit);
  if (operationCode_ == opLogin || operationCode_ == opNoop) operationCode_ = opNone;
  Done();
}

// ---- Replies -------------------------------------------------------------------------

bool TMFtp::SendLine(std::string_view command, TFtpReplyHandler handler) {
  if (command.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    EndWithError(ftpErrCommandRefused, std::string(kTextBadCommand));
    return false;
  }
  if (!connected_) return false;
  std::string text(command);
  text += "\r\n";
  DoInfo(ftpInfoSent, text);
  // The reply cannot come before the command is out, and nothing is read
  // while this waits, so the handler may wait from now on.
  SetReplyHandler(std::move(handler));
  const uint64_t socket = SocketSerial();
  size_t sent = 0;
  while (sent < text.size()) {
    // Lost while this waited (the handler went with the connection), or
    // replaced by a retry (the handler is the new connection's).
    if (!connected_ || SocketSerial() != socket) return false;
    const int n = Send(text.data() + sent, static_cast<int>(text.size() - sent));
    if (CheckSocketError()) return false;
    if (LastError != 0 || !HasSocket()) {
      errorText_ = ErrorTextOf(ftpErrAborted);  // the socket is gone
      Fail(ftpErrAborted);
      return false;
    }
    if (n == 0) {
      // The send buffer is full: the reply limit ends this if the server
      // never reads.
      PumpMessages();
      continue;
    }
    sent += static_cast<size_t>(n);
    NoteProgress();
  }
  return true;
}

void TMFtp::OnControlRead(TMSocket&) {
  if (inReader_) return;  // the outer read loop goes on with what is left
  char buffer[kControlChunk];
  for (int chunk = 0; chunk < kControlChunksPerNotice; ++chunk) {
    const int n = Receive(buffer, sizeof buffer);
    if (CheckSocketError() || n <= 0) return;
    NoteProgress();
    std::string text(buffer, static_cast<size_t>(n));
    std::erase(text, '\0');
    DoInfo(ftpInfoReceived, text);
    if (!reader_.Append(text)) {
      errorText_ = kTextLineTooLong;
      Fail(ftpErrAborted);
      return;
    }
    std::string line;
    while (reader_.NextLine(line)) {
      ProcessReplyLine(line);
      if (!SocketConnected()) return;
    }
  }
}

void TMFtp::ProcessReplyLine(const std::string& line) {
  switch (reader_.Collect(line)) {
    case TFtpReplyReader::Step::Pending:
      return;
    case TFtpReplyReader::Step::TooLong:
      errorText_ = kTextLineTooLong;
      Fail(ftpErrAborted);
      return;
    case TFtpReplyReader::Step::FinalMultiLine:
      DoInfo(ftpInfoMultiLine);
      break;
    case TFtpReplyReader::Step::Final:
      break;
  }
  lastReply_ = line;
  if (!replyHandler_) return;
  const TFtpReplyHandler handler = replyHandler_;  // it may install the next one
  inReader_ = true;
  handler(line);
  inReader_ = false;
}

void TMFtp::SetReplyHandler(TFtpReplyHandler handler) {
  replyHandler_ = std::move(handler);
  const bool limit = replyHandler_ && TimeOut > 0;
  if (limit) {
    clock_->SetTimer(kReplyTimer, Milliseconds(int64_t{kReplyLimitFactor} * TimeOut));
  } else if (replyTimerRunning_) {
    clock_->KillTimer(kReplyTimer);
  }
  replyTimerRunning_ = limit;
}

void TMFtp::NoteProgress() {
  if (replyTimerRunning_) clock_->SetTimer(kReplyTimer, Milliseconds(int64_t{kReplyLimitFactor} * TimeOut));
}

void TMFtp::OnReplyTimeout() {
  errorText_ = kTextTimedOut;
  Fail(ftpErrTimedOut);
}

// ---- Keep-alive and logout ----------------------------------------------------------

void TMFtp::StartNoopTimer() {
  if (noopInterval_ > 0 && loggedIn_)
    clock_->SetTimer(kNoopTimer, Milliseconds(noopInterval_));
  else
    clock_->KillTimer(kNoopTimer);
}

void TMFtp::StopNoopTimer() { clock_->KillTimer(kNoopTimer); }

void TMFtp::OnNoopTimer() {
  if (busy_ || !loggedIn_ || !connected_ || !noopSupported_) return;
  busy_ = true;
  operationCode_ = opNoop;
  SendLine("NOOP", [this](const std::string& r) { NoopReply(r); });
}

void TMFtp::NoopReply(const std::string& reply) {
  if (ReplyStartsWith(reply, "50")) noopSupported_ = false;
  SetReplyHandler(nullptr);
  busy_ = false;
}

void TMFtp::Logout() {
  if (!BeginOperation()) return;
  quitSent_ = true;
  SendLine("QUIT", [this](const std::string& r) { QuitReply(r); });
  WaitWhileBusy();
}

// The server closes after its 2xx; closing here as well means no server can
// keep the caller waiting for that close.
void TMFtp::QuitReply(const std::string& reply) {
  loggedIn_ = false;
  if (ReplyGroup(reply) != '2') {
    Fail(ftpErrQuitRefused);
    return;
  }
  SetReplyHandler(nullptr);
  Close();
}

}  // namespace kv
