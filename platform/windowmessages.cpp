#include "platform/windowmessages.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/record.h"
#include "platform/volumes.h"

namespace kv::platform {
namespace {

bool Fail(int err) {
  SetLastError(err);
  return false;
}

std::optional<sockaddr_un> AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    Fail(ENAMETOOLONG);
    return std::nullopt;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

const sockaddr* Raw(const sockaddr_un& address) { return reinterpret_cast<const sockaddr*>(&address); }

// True when a listener takes datagrams on the socket file now.
bool SomeoneListens(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool listens = connect(probe, Raw(address), sizeof address) == 0;
  close(probe);
  return listens;
}

// A socket file whose program is gone refuses connections; only such a file
// is removed, never a live listener's or anything that is no socket.
bool RemoveStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISSOCK(st.st_mode) || SomeoneListens(address)) return Fail(EADDRINUSE);
  return unlink(path.c_str()) == 0 || errno == ENOENT || Fail(errno);
}

// The sender's user, from the credentials the kernel attaches.
std::optional<uid_t> SenderOf(msghdr& header) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
    ucred credentials;
    std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
    return credentials.uid;
  }
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> EncodeWindowMessage(const WindowMessage& message) {
  RecordWriter w(kWindowMessageSize);
  for (size_t i = 0; i < sizeof kWindowMessageTag; ++i) w.U8(i, static_cast<uint8_t>(kWindowMessageTag[i]));
  w.U32(4, message.message);
  w.I64(8, message.wParam);
  w.I64(16, message.lParam);
  return w.take();
}

std::optional<WindowMessage> DecodeWindowMessage(const uint8_t* bytes, size_t size) {
  if (size != kWindowMessageSize || std::memcmp(bytes, kWindowMessageTag, sizeof kWindowMessageTag) != 0) {
    return std::nullopt;
  }
  const RecordReader r({bytes, size});
  return WindowMessage{r.U32(4), r.I64(8), r.I64(16)};
}

std::string WindowSocketPath(std::string_view windowClass) {
  const std::string folder = GetTempPath();
  if (folder.empty()) return {};
  return ResolvePath(folder + std::string(windowClass)).value_or("");
}

std::optional<WindowMessageListener> WindowMessageListener::Create(std::string_view windowClass) {
  const std::string path = WindowSocketPath(windowClass);
  if (path.empty()) return std::nullopt;
  const std::optional<sockaddr_un> address = AddressOf(path);
  if (!address || !RemoveStaleSocket(path, *address)) return std::nullopt;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno);
    return std::nullopt;
  }
  const int on = 1;
  struct stat st;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      bind(fd, Raw(*address), sizeof *address) != 0 || lstat(path.c_str(), &st) != 0) {
    Fail(errno);
    close(fd);
    return std::nullopt;
  }
  return WindowMessageListener(fd, path, st.st_dev, st.st_ino);
}

WindowMessageListener::WindowMessageListener(WindowMessageListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      device_(other.device_),
      inode_(other.inode_) {}

WindowMessageListener::~WindowMessageListener() {
  if (fd_ < 0) return;
  close(fd_);
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) unlink(path_.c_str());
}

std::vector<ReceivedMessage> WindowMessageListener::Receive() {
  std::vector<ReceivedMessage> received;
  for (;;) {
    // One byte more than a message, so that a longer datagram shows.
    uint8_t data[kWindowMessageSize + 1];
    iovec part{data, sizeof data};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &header, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      return received;
    }
    ReceivedMessage item;
    const std::optional<uid_t> sender = SenderOf(header);
    if (!sender || *sender != geteuid()) {
      item.refusal = "Absender ist ein anderer Benutzer";
    } else {
      item.message = DecodeWindowMessage(data, std::min<size_t>(static_cast<size_t>(n), sizeof data));
      if (static_cast<size_t>(n) > sizeof data) item.message.reset();
      if (!item.message) item.refusal = "keine Nachricht (" + std::to_string(n) + " Bytes)";
    }
    received.push_back(std::move(item));
  }
}

std::optional<WindowHandle> FindWindow(std::string_view windowClass) {
  const std::string path = WindowSocketPath(windowClass);
  const std::optional<sockaddr_un> address = AddressOf(path);
  if (!address) return std::nullopt;
  if (!SomeoneListens(*address)) {
    Fail(ENOENT);
    return std::nullopt;
  }
  return WindowHandle{path};
}

bool PostMessage(const WindowHandle& window, uint32_t message, int64_t wParam, int64_t lParam) {
  const std::optional<sockaddr_un> address = AddressOf(window.socketPath);
  if (!address) return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(errno);
  const std::vector<uint8_t> bytes = EncodeWindowMessage({message, wParam, lParam});
  const ssize_t sent = sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT, Raw(*address), sizeof *address);
  const int err = errno;
  close(fd);
  return sent == static_cast<ssize_t>(bytes.size()) || Fail(err);
}

}  // namespace kv::platform
