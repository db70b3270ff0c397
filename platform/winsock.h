#pragma once
// IPv4 TCP sockets that report through the thread's message loop, the way
// the FTP client was written to expect: a socket "selected" to a message
// handler gets posted notices (FD_READ, FD_WRITE, FD_ACCEPT, FD_CONNECT,
// FD_CLOSE) instead of blocking calls. Errors use the WinSock numbers the
// client maps to its own codes; errno is translated once, here.
//
// Notices follow the asynchronous-selection rules callers rely on:
// - FD_CONNECT comes once per connect, with the connect's error (10061 for
//   a refusal). A successful connect is followed by one FD_WRITE.
// - FD_READ comes once and again only after the next Recv call, while data
//   is waiting; FD_ACCEPT likewise after the next Accept.
// - FD_WRITE comes after a connect or accept, and later only after a Send
//   answered WSAEWOULDBLOCK and room came free.
// - FD_CLOSE comes once, when everything the peer sent has been read: 0
//   for an orderly close, WSAECONNRESET (10054) for a reset.
// Each notice is the message given to AsyncSelect with wParam = the socket
// and lParam = MakeSelectLParam(event, error). A notice still queued when
// its socket is closed (or selected anew) is dropped, so a new socket that
// gets the same descriptor number never sees the old one's notices.
//
// A socket is selected on, served on and must be closed on the thread of
// the handler it reports to. Sockets are non-blocking and close-on-exec;
// sends never raise SIGPIPE.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/msgloop.h"

namespace kv::platform {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// WinSock error numbers.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSCALLFAILURE = 10107;  // any errno without a closer number
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// Notice bits of AsyncSelect.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

inline constexpr LParam MakeSelectLParam(long event, int error) {
  return static_cast<LParam>((static_cast<uint32_t>(error & 0xFFFF) << 16) | (event & 0xFFFF));
}
inline constexpr long SelectEvent(LParam lParam) { return static_cast<long>(lParam & 0xFFFF); }
inline constexpr int SelectError(LParam lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

// The calling thread's error of the last socket call, as a WinSock number.
int WSAGetLastError();
void WSASetLastError(int error);
int WinSockErrorFromErrno(int err);
// getaddrinfo's EAI codes become 11001 to 11004.
int WinSockErrorFromEai(int eai);

// An IPv4 socket address; port and address in network byte order.
struct SockAddrIn {
  uint16_t port = 0;
  uint32_t address = 0;
};

uint16_t HostToNetShort(uint16_t value);
uint16_t NetToHostShort(uint16_t value);
// Only a complete dotted address ("192.168.1.20") parses.
bool ParseIPv4(std::string_view text, uint32_t& address);
std::string FormatIPv4(uint32_t address);

// Each call returns SOCKET_ERROR (or INVALID_SOCKET) and leaves the reason
// in WSAGetLastError, or succeeds and leaves 0 there.
SOCKET CreateStreamSocket();
// Ends any selection, then closes. Queued notices for the socket are
// dropped.
int CloseSocket(SOCKET s);
// Selects the socket to a handler of the calling thread: `events` (FD_*)
// are posted to it as `message`; 0 ends the selection. Notices of an
// earlier selection that are still queued are dropped.
int AsyncSelect(SOCKET s, const HandlerRef& target, uint32_t message, long events);
// On a selected socket a connect always answers WSAEWOULDBLOCK; its result
// comes as FD_CONNECT. Unselected sockets report the immediate result.
int ConnectSocket(SOCKET s, const SockAddrIn& peer);
int BindSocket(SOCKET s, const SockAddrIn& local);
int ListenSocket(SOCKET s, int backlog);
SOCKET AcceptSocket(SOCKET listener, SockAddrIn* peer);
// Bytes sent, or SOCKET_ERROR (WSAEWOULDBLOCK when the send buffer is full).
int SendSocket(SOCKET s, const void* data, int length);
// Bytes read, 0 at the end of data, or SOCKET_ERROR.
int RecvSocket(SOCKET s, void* buffer, int size);
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;
int ShutdownSocket(SOCKET s, int how);
int GetSockName(SOCKET s, SockAddrIn& local);

}  // namespace kv::platform
