#include "platform/hostlookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#include "platform/winsock.h"

namespace kv::platform {
namespace {

constexpr size_t kMaxHostNameLength = 253;

int SystemResolve(const std::string& name, uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int eai = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (eai != 0) return eai;
  int result = EAI_NODATA;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    result = 0;
    break;
  }
  freeaddrinfo(found);
  return result;
}

std::mutex mutex;  // guards everything below
std::shared_ptr<const HostResolver> resolver;  // null: the system's
std::unordered_set<LookupHandle> running;
LookupHandle nextHandle = 1;

std::shared_ptr<const HostResolver> CurrentResolver() {
  std::lock_guard lock(mutex);
  if (!resolver) resolver = std::make_shared<const HostResolver>(SystemResolve);
  return resolver;
}

// On the handler's thread, right before delivery: a lookup cancelled
// meanwhile delivers nothing.
bool TakeAnswer(LookupHandle handle) {
  std::lock_guard lock(mutex);
  return running.erase(handle) == 1;
}

bool IsUsableName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxHostNameLength && name.find('\0') == std::string_view::npos;
}

}  // namespace

LookupHandle AsyncGetHostByName(const HandlerRef& target, uint32_t message, std::string_view name,
                                std::shared_ptr<HostEntry> entry) {
  if (!IsUsableName(name)) {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return 0;
  }
  std::shared_ptr<const HostResolver> resolve = CurrentResolver();
  LookupHandle handle;
  {
    std::lock_guard lock(mutex);
    handle = nextHandle++;
    running.insert(handle);
  }
  try {
    std::thread([target, message, handle, entry, resolve, host = std::string(name)] {
      uint32_t address = 0;
      const int error = WinSockErrorFromEai((*resolve)(host, address));
      const bool queued =
          target.PostIf(message, static_cast<WParam>(handle), MakeSelectLParam(0, error), [handle, entry, address] {
            if (!TakeAnswer(handle)) return false;
            if (entry) entry->address = address;
            return true;
          });
      if (!queued) TakeAnswer(handle);  // the handler's thread has ended
    }).detach();
  } catch (const std::system_error&) {
    TakeAnswer(handle);
    WSASetLastError(WSAENOBUFS);
    return 0;
  }
  WSASetLastError(0);
  return handle;
}

bool CancelAsyncRequest(LookupHandle handle) { return TakeAnswer(handle); }

ScopedHostResolver::ScopedHostResolver(HostResolver replacement) {
  auto installed = std::make_shared<const HostResolver>(std::move(replacement));
  std::lock_guard lock(mutex);
  previous_ = std::exchange(resolver, std::move(installed));
}

ScopedHostResolver::~ScopedHostResolver() {
  std::lock_guard lock(mutex);
  resolver = std::move(previous_);
}

}  // namespace kv::platform
