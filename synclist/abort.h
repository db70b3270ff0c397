#pragma once
// The silent abort: raised when the user cancels a long step (typically from
// a progress callback). Callers catch it to clean up and pass it on; it is
// never reported as an error.
#include <exception>

namespace kv {

class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace kv
