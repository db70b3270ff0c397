#pragma once
// Window messages between processes of one user: what FindWindow and
// PostMessage did for the window of a class. The window's program listens
// on a datagram socket named after the class in the user's private
// temporary folder; another program of the same user finds it there and
// posts messages to it. Each message is one datagram of 24 bytes,
// little-endian: the four bytes "KVWM", the message number (32 bits
// unsigned), WParam and LParam (64 bits signed each). The listener takes
// datagrams only from processes of its own user and refuses every other
// size and tag.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::platform {

inline constexpr size_t kWindowMessageSize = 24;
inline constexpr char kWindowMessageTag[4] = {'K', 'V', 'W', 'M'};

struct WindowMessage {
  uint32_t message = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
  friend bool operator==(const WindowMessage&, const WindowMessage&) = default;
};

std::vector<uint8_t> EncodeWindowMessage(const WindowMessage& message);
// nullopt unless bytes is exactly one message with the tag.
std::optional<WindowMessage> DecodeWindowMessage(const uint8_t* bytes, size_t size);

// The POSIX path of the socket of a window class; "" when the private
// temporary folder cannot be had.
std::string WindowSocketPath(std::string_view windowClass);

// One datagram as the listener received it.
struct ReceivedMessage {
  std::optional<WindowMessage> message;  // nullopt: refused
  std::string refusal;                   // why, when refused
};

// The window's side. It owns its socket file and removes it when it goes.
class WindowMessageListener {
 public:
  // Listens for the class. A socket file that nobody listens on any more
  // (its program was killed) is replaced; one with a live listener is not
  // (EADDRINUSE). nullopt with the reason in GetLastError().
  static std::optional<WindowMessageListener> Create(std::string_view windowClass);
  WindowMessageListener(WindowMessageListener&& other) noexcept;
  WindowMessageListener& operator=(WindowMessageListener&&) = delete;
  ~WindowMessageListener();

  // Readable when datagrams wait.
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // Every datagram waiting now, in arrival order; never blocks.
  std::vector<ReceivedMessage> Receive();

 private:
  WindowMessageListener(int fd, std::string path, uint64_t device, uint64_t inode)
      : fd_(fd), path_(std::move(path)), device_(device), inode_(inode) {}
  int fd_ = -1;
  std::string path_;
  uint64_t device_ = 0, inode_ = 0;  // of our socket file, so that we never remove another's
};

// The window of a class as another program of the user finds it.
struct WindowHandle {
  std::string socketPath;
};

// nullopt when no program listens for the class.
std::optional<WindowHandle> FindWindow(std::string_view windowClass);
// Posts without waiting; false (reason in GetLastError()) when the window is
// gone or its queue is full.
bool PostMessage(const WindowHandle& window, uint32_t message, int64_t wParam, int64_t lParam);

}  // namespace kv::platform
