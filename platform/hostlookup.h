#pragma once
// Asynchronous IPv4 name lookup: the name is resolved on a helper thread of
// its own and the answer is posted to a message handler, so the caller's
// loop never blocks on a slow name server. Each lookup has its own thread,
// so a lookup that hangs never holds up the next one; a cancelled lookup's
// answer is dropped whenever it comes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/msgloop.h"

namespace kv::platform {

using LookupHandle = uint64_t;  // 0: no lookup

// Where a finished lookup leaves its first IPv4 address (network byte
// order). It is written on the handler's thread right before the answer is
// delivered, never by the helper thread.
struct HostEntry {
  uint32_t address = 0;
};

// Starts a lookup of `name`. When it ends, `message` is posted to `target`
// with wParam = the handle and lParam = MakeSelectLParam(0, error), error 0
// or 11001 to 11004 (winsock.h). Returns 0 when no lookup could start,
// with the reason in WSAGetLastError: an empty name, one longer than 253
// characters or holding a NUL (never cut, never looked up) is 11001.
LookupHandle AsyncGetHostByName(const HandlerRef& target, uint32_t message, std::string_view name,
                                std::shared_ptr<HostEntry> entry);
// Forgets a lookup: its answer is never delivered. False when the handle is
// not a running lookup (finished, cancelled or unknown).
bool CancelAsyncRequest(LookupHandle handle);

// The resolver the helper threads call: returns 0 and the first IPv4
// address, or a getaddrinfo EAI code. Tests replace it to make lookups hang
// or fail; the real one asks getaddrinfo for AF_INET.
using HostResolver = std::function<int(const std::string& name, uint32_t& address)>;
class ScopedHostResolver {
 public:
  explicit ScopedHostResolver(HostResolver resolver);
  ~ScopedHostResolver();
  ScopedHostResolver(const ScopedHostResolver&) = delete;
  ScopedHostResolver& operator=(const ScopedHostResolver&) = delete;

 private:
  std::shared_ptr<const HostResolver> previous_;
};

}  // namespace kv::platform
