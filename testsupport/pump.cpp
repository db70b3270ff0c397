#include "testsupport/pump.h"


#include "platform/msgloop.h"

namespace kv::test {
namespace {

constexpr int kSliceMs = 20;

}  // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  using clock = std::chrono::steady_clock;
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  const clock::time_point end = clock::now() + deadline;
  for (;;) {
    loop.ProcessMessages();
    if (done()) return true;
    if (clock::now() >= end) return false;
    loop.WaitMessage(kSliceMs);
  }
}

void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

}  // namespace kv::test
