#include "scheduler/netconnection.h"

#include <utility>

#include "scheduler/checkstarts.h"

namespace kv {

TthCheckNetConnection::TthCheckNetConnection(TthCheckStarts& checker, INetworkProbe& probe,
                                             std::function<void(int error)> onProbeError)
    : checker_(checker), probe_(probe), onProbeError_(std::move(onProbeError)) {}

TthCheckNetConnection::~TthCheckNetConnection() { TerminateAndWait(); }

// A poll finds a change no sooner than the kernel's notice says there may
// be one, so the thread sleeps until a notice comes instead of waking
// every 10 ms.
void TthCheckNetConnection::Execute() {
  const int notices = probe_.ChangeNotices();
  while (!Terminated()) {
    std::chrono::milliseconds wait = kPollInterval;
    Guarded("Die Prüfung des Netzwerks", [&] { wait = Step(); });
    const bool going = wait == kPollInterval && notices >= 0 && !probeFailing_
                           ? WaitReadable(notices, kNoticeCheckInterval)
                           : Sleep(wait);
    if (!going) return;
  }
}

std::chrono::milliseconds TthCheckNetConnection::Step() {
  if (!polled_) {
    polled_ = true;
    lastState_ = IsNetworkPresent();
    if (lastState_) checker_.NetChanged(true);
    return kPollInterval;
  }
  if (settling_) {
    // Reported even when the network went away meanwhile; the next poll
    // then reports that.
    settling_ = false;
    checker_.NetChanged(true);
    return kPollInterval;
  }
  const bool state = IsNetworkPresent();
  if (state == lastState_) return kPollInterval;
  lastState_ = state;
  if (state) {
    settling_ = true;
    return kSettleTime;
  }
  checker_.NetChanged(false);
  return kPollInterval;
}

bool TthCheckNetConnection::IsNetworkPresent() {
  const platform::NetworkState state = probe_.Probe();
  if (state.error == 0) {
    probeFailing_ = false;
    return state.present;
  }
  if (!probeFailing_ && onProbeError_) onProbeError_(state.error);
  probeFailing_ = true;
  return false;
}

}  // namespace kv
