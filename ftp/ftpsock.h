#pragma once
// TMSocket: one asynchronous IPv4 TCP socket driven by messages on the
// thread that created it. Nothing blocks and nothing starts a thread of its
// own: the socket's notices, the end of a host lookup and a one-second
// countdown (for connects and lookups that take too long) all arrive as
// messages to the socket's message handler, which stands in for a hidden
// window, and reach WndProc. TMFtp derives from it for its control
// connection and uses two more for data.
//
// The object may be destroyed between any two messages: whatever is still
// queued for it (notices, a lookup's answer, the countdown) is dropped.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/hostlookup.h"
#include "platform/msgloop.h"
#include "platform/winsock.h"

namespace kv {

class TMSocket;
using TSocketNotifyEvent = std::function<void(TMSocket& sender)>;

// Messages of the socket's handler: a finished lookup, a socket notice.
// Everything above kMsgSocketEvent goes to OwnerHook.
inline constexpr uint32_t kMsgLookupDone = platform::WM_USER;
inline constexpr uint32_t kMsgSocketEvent = platform::WM_USER + 1;

class TMSocket {
 public:
  TMSocket();
  virtual ~TMSocket();
  TMSocket(const TMSocket&) = delete;
  TMSocket& operator=(const TMSocket&) = delete;

  // The server text as set, trimmed. A complete dotted IPv4 address becomes
  // AddressText; anything else (also "4host.example") a HostName to look
  // up. An empty text changes neither.
  const std::string& Server() const { return server_; }
  void SetServer(std::string_view text);
  // Sets what Connect goes to the same way, without changing Server (the
  // FTP client connects to a proxy while Server names the real server).
  void SetPeerText(std::string_view text);

  uint16_t Port = 0;
  int TimeOut = 20;  // seconds of the connect and lookup countdown
  bool ReportWouldBlock = false;
  int LastError = 0;  // WinSock number of the last operation, 0 = none
  std::string AddressText;
  std::string HostName;

  bool SocketConnected() const { return connected_; }
  bool HasSocket() const { return socket_ != platform::INVALID_SOCKET; }
  platform::SOCKET Handle() const { return socket_; }
  // Changes whenever the socket is closed or replaced.
  uint64_t SocketSerial() const { return socketSerial_; }
  bool LookupPending() const { return lookup_ != 0; }
  int Countdown() const { return countdown_; }

  // Every message above kMsgSocketEvent that reaches the handler.
  std::function<void(const platform::Message&)> OwnerHook;
  TSocketNotifyEvent OnResolved;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnDisconnect;
  TSocketNotifyEvent OnTimeout;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;
  TSocketNotifyEvent OnAccept;

  void CreateSocket();
  // Drops the socket, a running lookup and the countdown without any
  // event, then creates a fresh socket.
  void RecreateSocket();
  // Drops the socket, a running lookup and the countdown without any event.
  void Abandon();
  void SetAddressText(std::string_view text);
  void SetPortNumber(uint16_t port);
  std::string GetAddressText() const;
  void UseResolvedAddress();
  // Starts a lookup unless one runs; the countdown starts with it.
  void ResolveHost(std::string_view name);
  void Connect();
  void Listen();
  void Accept(TMSocket& listener);
  // Cancels a lookup, stops the countdown and closes the socket; fires
  // OnDisconnect only when there was a socket.
  void Close();
  int Send(const void* data, int length);
  int Receive(void* buffer, int size);
  std::string GetLocalAddressText();
  uint16_t GetLocalPort();
  void SetCountdown(int seconds);

  virtual void HostResolved();

  // Posts a message to this socket's handler (for the owner's own messages).
  void PostToWindow(uint32_t message, platform::WParam wParam = 0, platform::LParam lParam = 0) const;

 protected:
  void WndProc(const platform::Message& message);

 private:
  class Window;

  void OnCountdownTick();
  void OnLookupDone(const platform::Message& message);
  void OnSocketEvent(const platform::Message& message);
  void OnPeerClosed(int error);
  void StopWaiting();
  int DropSocket();
  int TakeWinSockResult(int result);

  std::unique_ptr<Window> window_;
  platform::SOCKET socket_ = platform::INVALID_SOCKET;
  uint64_t socketSerial_ = 0;  // changes whenever socket_ does
  platform::SockAddrIn address_;
  bool connected_ = false;
  std::string server_;
  std::shared_ptr<platform::HostEntry> hostEntry_ = std::make_shared<platform::HostEntry>();
  uint32_t resolvedAddress_ = 0;
  platform::LookupHandle lookup_ = 0;
  int countdown_ = 0;
  bool countdownRunning_ = false;
};

}  // namespace kv
