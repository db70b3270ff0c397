#pragma once
// TthCheckNetConnection: the network watcher. It polls every 10 ms whether
// the machine has a network and tells the schedule checker when that
// changes: a network present at its start counts as coming up at once, one
// that comes up later counts 20 seconds afterwards (for the connection to
// settle), one that goes away counts at once. The checker's handlers start
// the "Hotplug" profiles and re-arm them.
#include <chrono>
#include <functional>

#include "platform/netpresence.h"
#include "scheduler/workerthread.h"

namespace kv {

class TthCheckStarts;

class INetworkProbe {
 public:
  virtual ~INetworkProbe() = default;
  virtual platform::NetworkState Probe() = 0;
  // A descriptor that becomes readable when the answer may have changed,
  // so the watcher need not wake every 10 ms; -1: poll.
  virtual int ChangeNotices() { return -1; }
};

// The machine's own network (platform/netpresence.h).
class TSystemNetworkProbe final : public INetworkProbe {
 public:
  platform::NetworkState Probe() override { return presence_.Query(); }
  int ChangeNotices() override { return presence_.NoticeFd(); }

 private:
  platform::NetworkPresence presence_;
};

class TthCheckNetConnection : public TWorkerThread {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{10};
  static constexpr std::chrono::milliseconds kSettleTime{20000};
  // With change notices, the watcher still looks this often.
  static constexpr std::chrono::milliseconds kNoticeCheckInterval{1000};

  // onProbeError gets the error number of a failed probe, once per streak
  // of failures (the program shows it through the window thread).
  TthCheckNetConnection(TthCheckStarts& checker, INetworkProbe& probe, std::function<void(int error)> onProbeError);
  ~TthCheckNetConnection() override;

  // One round of Execute: polls (or, after a settling wait, reports the
  // network up) and returns how long to wait before the next round.
  std::chrono::milliseconds Step();

 protected:
  void Execute() override;

 private:
  bool IsNetworkPresent();

  TthCheckStarts& checker_;
  INetworkProbe& probe_;
  std::function<void(int)> onProbeError_;
  bool polled_ = false;
  bool lastState_ = false;
  bool settling_ = false;
  bool probeFailing_ = false;
};

}  // namespace kv
