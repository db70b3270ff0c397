#include "platform/winsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <unordered_map>

namespace kv::platform {
namespace {

thread_local int lastError = 0;

int Succeed(int result = 0) {
  lastError = 0;
  return result;
}
int FailWith(int wsaError) {
  lastError = wsaError;
  return SOCKET_ERROR;
}
int FailErrno() { return FailWith(WinSockErrorFromErrno(errno)); }

sockaddr_in ToSockaddr(const SockAddrIn& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = a.port;
  sa.sin_addr.s_addr = a.address;
  return sa;
}
SockAddrIn FromSockaddr(const sockaddr_in& sa) { return {sa.sin_port, sa.sin_addr.s_addr}; }

// ---- The selection of one socket to a handler ------------------------------

enum class Phase { Idle, Connecting, Connected, Listening, Finished };

struct Selection {
  uint64_t serial = 0;  // changes with every AsyncSelect; queued notices carry it
  HandlerRef target;
  uint32_t message = 0;
  long events = 0;
  Phase phase = Phase::Idle;
  WatchId watch = 0;
  bool readArmed = true;     // FD_READ may be posted (re-armed by Recv)
  bool acceptArmed = true;   // FD_ACCEPT may be posted (re-armed by Accept)
  bool writeWanted = false;  // a Send met a full buffer: FD_WRITE when room comes
  bool suspended = false;    // an error or hang-up waits for the next Recv or Send
};

std::atomic<uint64_t> nextSerial{1};
// Selections live on the thread whose loop watches them.
thread_local std::unordered_map<SOCKET, Selection> selections;

Selection* FindSelection(SOCKET s) {
  auto it = selections.find(s);
  return it == selections.end() ? nullptr : &it->second;
}

void PostNotice(SOCKET s, const Selection& sel, long event, int error) {
  if (!(sel.events & event)) return;
  const uint64_t serial = sel.serial;
  sel.target.PostIf(sel.message, static_cast<WParam>(s), MakeSelectLParam(event, error), [s, serial, event] {
    const Selection* now = FindSelection(s);
    return now && now->serial == serial && (now->events & event);
  });
}

short WantedPollEvents(const Selection& sel) {
  switch (sel.phase) {
    case Phase::Connecting:
      return POLLOUT;
    case Phase::Listening:
      return (sel.events & FD_ACCEPT) && sel.acceptArmed ? POLLIN : 0;
    case Phase::Connected: {
      if (sel.suspended) return 0;
      short wanted = 0;
      if (sel.events & FD_READ) {
        if (sel.readArmed) wanted |= POLLIN | POLLRDHUP;
      } else if (sel.events & FD_CLOSE) {
        wanted |= POLLRDHUP;  // nobody reads: only the peer's close matters
      }
      if (sel.writeWanted && (sel.events & FD_WRITE)) wanted |= POLLOUT;
      return wanted;
    }
    case Phase::Idle:
    case Phase::Finished:
      break;
  }
  return 0;
}

void OnSocketReady(SOCKET s, short revents);

void Rewatch(SOCKET s, Selection& sel) {
  MessageLoop& loop = MessageLoop::Current();
  const short wanted = WantedPollEvents(sel);
  if (sel.watch == 0) {
    if (wanted == 0) return;
    sel.watch = loop.AddWatch(s, wanted, [s](int, short revents) { OnSocketReady(s, revents); });
    return;
  }
  loop.SetWatchEvents(sel.watch, wanted);
}

void Unselect(SOCKET s) {
  Selection* sel = FindSelection(s);
  if (!sel) return;
  if (sel->watch != 0) MessageLoop::Current().RemoveWatch(sel->watch);
  selections.erase(s);
}

int PendingSocketError(SOCKET s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void FinishConnect(SOCKET s, Selection& sel) {
  int err = PendingSocketError(s);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (err == 0 && getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) != 0) err = ECONNREFUSED;
  if (err != 0) {
    sel.phase = Phase::Finished;
    PostNotice(s, sel, FD_CONNECT, WinSockErrorFromErrno(err));
    return;
  }
  sel.phase = Phase::Connected;
  PostNotice(s, sel, FD_CONNECT, 0);
  PostNotice(s, sel, FD_WRITE, 0);
}

void PostClose(SOCKET s, Selection& sel, int err) {
  sel.phase = Phase::Finished;
  PostNotice(s, sel, FD_CLOSE, err == 0 ? 0 : WinSockErrorFromErrno(err));
}

// Decides between FD_READ and FD_CLOSE by looking at what waits, so that
// FD_CLOSE comes only once everything before the close was read.
void ServeConnected(SOCKET s, Selection& sel, short revents) {
  const bool readable = revents & (POLLIN | POLLRDHUP | POLLERR | POLLHUP);
  bool served = false;
  if (readable && (sel.events & FD_READ) && sel.readArmed) {
    char probe;
    const ssize_t n = recv(s, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      sel.readArmed = false;
      PostNotice(s, sel, FD_READ, 0);
    } else if (n == 0) {
      PostClose(s, sel, 0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      PostClose(s, sel, errno);
    }
    served = true;
  } else if (readable && !(sel.events & FD_READ) && (sel.events & FD_CLOSE)) {
    PostClose(s, sel, (revents & POLLERR) ? PendingSocketError(s) : 0);
    served = true;
  }
  if (sel.phase == Phase::Connected && (revents & POLLOUT) && sel.writeWanted) {
    sel.writeWanted = false;
    PostNotice(s, sel, FD_WRITE, 0);
    served = true;
  }
  // A hang-up while FD_READ waits for its Recv would wake the loop without
  // end; the next Recv or Send looks again.
  if (!served && (revents & (POLLERR | POLLHUP))) sel.suspended = true;
}

void OnSocketReady(SOCKET s, short revents) {
  Selection* sel = FindSelection(s);
  if (!sel) return;
  if (revents & POLLNVAL) sel->phase = Phase::Finished;  // closed behind our back: stop watching
  switch (sel->phase) {
    case Phase::Connecting:
      FinishConnect(s, *sel);
      break;
    case Phase::Listening:
      if (revents & (POLLIN | POLLERR | POLLHUP)) {
        sel->acceptArmed = false;
        PostNotice(s, *sel, FD_ACCEPT, 0);
      }
      break;
    case Phase::Connected:
      ServeConnected(s, *sel, revents);
      break;
    case Phase::Idle:
    case Phase::Finished:
      break;
  }
  Rewatch(s, *sel);
}

Phase PhaseOfSocket(SOCKET s) {
  int listening = 0;
  socklen_t len = sizeof listening;
  if (getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening) return Phase::Listening;
  sockaddr_in peer{};
  len = sizeof peer;
  if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) == 0) return Phase::Connected;
  return Phase::Idle;
}

// Errors of a connect that are its outcome (reported as FD_CONNECT), not a
// misuse of the call.
bool IsConnectOutcome(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT ||
         err == ECONNRESET;
}

}  // namespace

int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

int WinSockErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;  // a send after the peer went away
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSASYSCALLFAILURE;
  }
}

int WinSockErrorFromEai(int eai) {
  switch (eai) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;
    default: return WSANO_RECOVERY;  // EAI_FAIL, EAI_MEMORY, EAI_SYSTEM, bad arguments
  }
}

uint16_t HostToNetShort(uint16_t value) { return htons(value); }
uint16_t NetToHostShort(uint16_t value) { return ntohs(value); }

bool ParseIPv4(std::string_view text, uint32_t& address) {
  if (text.empty() || text.size() > INET_ADDRSTRLEN - 1) return false;
  const std::string copy(text);
  in_addr parsed{};
  if (inet_pton(AF_INET, copy.c_str(), &parsed) != 1) return false;
  address = parsed.s_addr;
  return true;
}

std::string FormatIPv4(uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

SOCKET CreateStreamSocket() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return FailErrno();
  return Succeed(s);
}

int CloseSocket(SOCKET s) {
  Unselect(s);  // the watch goes before the descriptor number can be reused
  if (close(s) != 0) return FailErrno();
  return Succeed();
}

int AsyncSelect(SOCKET s, const HandlerRef& target, uint32_t message, long events) {
  if (events == 0) {
    Unselect(s);
    return Succeed();
  }
  Selection* existing = FindSelection(s);
  const bool fresh = existing == nullptr;
  if (fresh) {
    // Asks the descriptor first, so that a closed one is refused.
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) != 0) return FailErrno();
  }
  Selection& sel = fresh ? selections[s] : *existing;
  sel.serial = nextSerial++;
  sel.target = target;
  sel.message = message;
  sel.events = events;
  // Notices of the earlier selection are dropped, so whatever still holds
  // is announced again.
  sel.readArmed = true;
  sel.acceptArmed = true;
  sel.suspended = false;
  if (fresh) {
    sel.phase = PhaseOfSocket(s);
    // An accepted socket can be written at once.
    if (sel.phase == Phase::Connected) PostNotice(s, sel, FD_WRITE, 0);
  }
  Rewatch(s, sel);
  return Succeed();
}

int ConnectSocket(SOCKET s, const SockAddrIn& peer) {
  const sockaddr_in sa = ToSockaddr(peer);
  const int r = connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  const int err = r == 0 ? 0 : errno;
  Selection* sel = FindSelection(s);
  if (!sel) return r == 0 ? Succeed() : FailErrno();
  if (err == 0 || err == EINPROGRESS || err == EINTR) {
    sel->phase = Phase::Connecting;
    Rewatch(s, *sel);
    return FailWith(WSAEWOULDBLOCK);
  }
  if (IsConnectOutcome(err)) {
    sel->phase = Phase::Finished;
    PostNotice(s, *sel, FD_CONNECT, WinSockErrorFromErrno(err));
    Rewatch(s, *sel);
    return FailWith(WSAEWOULDBLOCK);
  }
  return FailWith(WinSockErrorFromErrno(err));
}

int BindSocket(SOCKET s, const SockAddrIn& local) {
  const sockaddr_in sa = ToSockaddr(local);
  if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return FailErrno();
  return Succeed();
}

int ListenSocket(SOCKET s, int backlog) {
  if (listen(s, backlog) != 0) return FailErrno();
  if (Selection* sel = FindSelection(s)) {
    sel->phase = Phase::Listening;
    Rewatch(s, *sel);
  }
  return Succeed();
}

SOCKET AcceptSocket(SOCKET listener, SockAddrIn* peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  const int s = accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int err = errno;
  if (Selection* sel = FindSelection(listener)) {
    sel->acceptArmed = true;
    Rewatch(listener, *sel);
  }
  if (s < 0) return FailWith(WinSockErrorFromErrno(err));
  if (peer) *peer = FromSockaddr(sa);
  return Succeed(s);
}

int SendSocket(SOCKET s, const void* data, int length) {
  if (length < 0) return FailWith(WSAEINVAL);
  const ssize_t n = send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  const int err = errno;
  Selection* sel = FindSelection(s);
  if (sel) sel->suspended = false;
  if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK) && sel) sel->writeWanted = true;
  if (sel) Rewatch(s, *sel);
  if (n < 0) return FailWith(WinSockErrorFromErrno(err));
  return Succeed(static_cast<int>(n));
}

int RecvSocket(SOCKET s, void* buffer, int size) {
  if (size < 0) return FailWith(WSAEINVAL);
  const ssize_t n = recv(s, buffer, static_cast<size_t>(size), 0);
  const int err = errno;
  if (Selection* sel = FindSelection(s)) {
    sel->readArmed = true;
    sel->suspended = false;
    Rewatch(s, *sel);
  }
  if (n < 0) return FailWith(WinSockErrorFromErrno(err));
  return Succeed(static_cast<int>(n));
}

int ShutdownSocket(SOCKET s, int how) {
  const int mode = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
  if (shutdown(s, mode) != 0) return FailErrno();
  return Succeed();
}

int GetSockName(SOCKET s, SockAddrIn& local) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailErrno();
  local = FromSockaddr(sa);
  return Succeed();
}

}  // namespace kv::platform
