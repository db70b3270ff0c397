#include "ftp/ftpsock.h"

#include "platform/text.h"

namespace kv {

using namespace platform;

namespace {

constexpr uintptr_t kCountdownTimerId = 1;
constexpr unsigned kCountdownTickMs = 1000;
constexpr long kClientEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr long kAcceptedEvents = FD_READ | FD_WRITE | FD_CLOSE;
constexpr int kListenBacklog = 2;

}  // namespace

class TMSocket::Window : public MessageHandler {
 public:
  explicit Window(TMSocket& owner) : owner_(owner) {}

 protected:
  void HandleMessage(const Message& message) override { owner_.WndProc(message); }

 private:
  TMSocket& owner_;
};

TMSocket::TMSocket() : window_(std::make_unique<Window>(*this)) {}

TMSocket::~TMSocket() { Abandon(); }

void TMSocket::SetServer(std::string_view text) {
  server_ = Trim(text);
  SetPeerText(server_);
}

void TMSocket::SetPeerText(std::string_view text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return;
  uint32_t address;
  if (ParseIPv4(trimmed, address)) {
    AddressText = trimmed;
    HostName.clear();
  } else {
    HostName = trimmed;
    AddressText.clear();
  }
}

void TMSocket::CreateSocket() {
  if (HasSocket()) return;
  const SOCKET s = CreateStreamSocket();
  LastError = WSAGetLastError();
  if (s == INVALID_SOCKET) return;
  socket_ = s;
  ++socketSerial_;
}

void TMSocket::RecreateSocket() {
  Abandon();
  CreateSocket();
}

void TMSocket::Abandon() {
  StopWaiting();
  DropSocket();
}

void TMSocket::StopWaiting() {
  if (lookup_ != 0) CancelAsyncRequest(lookup_);
  lookup_ = 0;
  SetCountdown(0);
}

int TMSocket::DropSocket() {
  int error = 0;
  if (HasSocket()) {
    CloseSocket(socket_);
    error = WSAGetLastError();
  }
  socket_ = INVALID_SOCKET;
  ++socketSerial_;
  connected_ = false;
  return error;
}

void TMSocket::SetAddressText(std::string_view text) {
  uint32_t address = 0xFFFFFFFFu;  // what an unreadable address always was
  ParseIPv4(text, address);
  address_.address = address;
}

void TMSocket::SetPortNumber(uint16_t port) { address_.port = HostToNetShort(port); }

std::string TMSocket::GetAddressText() const { return FormatIPv4(address_.address); }

void TMSocket::UseResolvedAddress() { address_.address = resolvedAddress_; }

void TMSocket::ResolveHost(std::string_view name) {
  if (lookup_ != 0) return;
  lookup_ = AsyncGetHostByName(window_->Ref(), kMsgLookupDone, name, hostEntry_);
  LastError = WSAGetLastError();
  if (LastError == 0) SetCountdown(TimeOut);
}

void TMSocket::Connect() {
  if (AsyncSelect(socket_, window_->Ref(), kMsgSocketEvent, kClientEvents) == SOCKET_ERROR) {
    LastError = WSAGetLastError();
    return;
  }
  TakeWinSockResult(ConnectSocket(socket_, address_));
  if (LastError == 0) SetCountdown(TimeOut);
}

void TMSocket::Listen() {
  BindSocket(socket_, address_);
  LastError = WSAGetLastError();
  if (LastError != 0) return;
  AsyncSelect(socket_, window_->Ref(), kMsgSocketEvent, FD_ACCEPT);
  ListenSocket(socket_, kListenBacklog);
  LastError = WSAGetLastError();
}

void TMSocket::Accept(TMSocket& listener) {
  SockAddrIn peer;
  const SOCKET s = AcceptSocket(listener.socket_, &peer);
  LastError = WSAGetLastError();
  if (LastError != 0) return;
  DropSocket();
  socket_ = s;
  address_ = peer;
  connected_ = true;
  AsyncSelect(socket_, window_->Ref(), kMsgSocketEvent, kAcceptedEvents);
}

void TMSocket::Close() {
  StopWaiting();
  if (!HasSocket()) return;
  LastError = DropSocket();
  if (OnDisconnect) OnDisconnect(*this);
}

int TMSocket::TakeWinSockResult(int result) {
  if (result > 0) {
    LastError = 0;
    return result;
  }
  if (result == 0) return 0;
  const int error = WSAGetLastError();
  LastError = error == WSAEWOULDBLOCK && !ReportWouldBlock ? 0 : error;
  return 0;
}

int TMSocket::Send(const void* data, int length) { return TakeWinSockResult(SendSocket(socket_, data, length)); }

int TMSocket::Receive(void* buffer, int size) { return TakeWinSockResult(RecvSocket(socket_, buffer, size)); }

std::string TMSocket::GetLocalAddressText() {
  SockAddrIn local;
  GetSockName(socket_, local);
  LastError = WSAGetLastError();
  return LastError == 0 ? FormatIPv4(local.address) : std::string();
}

uint16_t TMSocket::GetLocalPort() {
  SockAddrIn local;
  GetSockName(socket_, local);
  LastError = WSAGetLastError();
  return LastError == 0 ? NetToHostShort(local.port) : 0;
}

void TMSocket::SetCountdown(int seconds) {
  if (countdownRunning_) window_->KillTimer(kCountdownTimerId);
  countdownRunning_ = seconds > 0;
  if (!countdownRunning_) return;
  countdown_ = seconds;
  window_->SetTimer(kCountdownTimerId, kCountdownTickMs);
}

void TMSocket::HostResolved() {
  if (OnResolved) OnResolved(*this);
}

void TMSocket::PostToWindow(uint32_t message, WParam wParam, LParam lParam) const {
  window_->Ref().Post(message, wParam, lParam);
}

void TMSocket::WndProc(const Message& message) {
  if (message.id > kMsgSocketEvent) {
    if (OwnerHook) OwnerHook(message);
    return;
  }
  switch (message.id) {
    case WM_TIMER:
      if (message.wParam == kCountdownTimerId) OnCountdownTick();
      break;
    case kMsgLookupDone:
      OnLookupDone(message);
      break;
    case kMsgSocketEvent:
      OnSocketEvent(message);
      break;
    default:
      break;
  }
}

void TMSocket::OnCountdownTick() {
  if (!countdownRunning_) return;
  if (--countdown_ > 0) return;
  SetCountdown(0);
  if (OnTimeout)
    OnTimeout(*this);
  else
    Close();
}

void TMSocket::OnLookupDone(const Message& message) {
  if (message.wParam != lookup_) return;  // an answer to a lookup given up
  SetCountdown(0);
  LastError = SelectError(message.lParam);
  if (LastError == 0) resolvedAddress_ = hostEntry_->address;
  lookup_ = 0;
  HostResolved();
}

void TMSocket::OnSocketEvent(const Message& message) {
  if (static_cast<SOCKET>(message.wParam) != socket_) return;
  const int error = SelectError(message.lParam);
  LastError = error;
  switch (SelectEvent(message.lParam)) {
    case FD_READ:
      if (OnRead) OnRead(*this);
      SetCountdown(0);
      break;
    case FD_WRITE:
      if (OnWrite) OnWrite(*this);
      break;
    case FD_ACCEPT:
      if (OnAccept) OnAccept(*this);
      break;
    case FD_CONNECT:
      connected_ = error == 0;
      SetCountdown(0);
      if (OnConnect) OnConnect(*this);
      break;
    case FD_CLOSE:
      OnPeerClosed(error);
      break;
    default:
      break;
  }
}

// The peer closed: what is left is read first, then the socket goes. A
// handler that closes the socket itself (a read error) has already fired
// OnDisconnect, which must not come twice.
void TMSocket::OnPeerClosed(int error) {
  const uint64_t serial = socketSerial_;
  if (connected_) {
    if (OnRead) OnRead(*this);
    if (socketSerial_ != serial) return;
    if (OnWrite) OnWrite(*this);
    if (socketSerial_ != serial) return;
    ShutdownSocket(socket_, SD_BOTH);
  }
  DropSocket();
  LastError = error;
  if (OnDisconnect) OnDisconnect(*this);
}

}  // namespace kv
