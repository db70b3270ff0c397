#pragma once
// A thread of the scheduler that runs until it is asked to stop: the
// schedule checker and the network watcher. It waits in its message loop, so
// its sleeps end at once when it is asked to stop, and it can wait for a
// descriptor to become readable instead of polling.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/msgloop.h"

namespace kv {

class TWorkerThread {
 public:
  TWorkerThread() = default;
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;
  // A derived class calls TerminateAndWait() in its own destructor, while
  // the members Execute uses still exist.
  virtual ~TWorkerThread();

  void Start();
  // Asks Execute to return; does not wait.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // True once Execute has returned (the window thread polls this while it
  // serves the thread's synchronised calls).
  bool Finished() const { return finished_.load(); }
  // Joins the thread; call once Finished() holds, or from a thread that
  // serves no synchronised calls.
  void WaitFor();
  void TerminateAndWait();

 protected:
  virtual void Execute() = 0;
  // False, at once, when the thread is asked to stop.
  bool Sleep(std::chrono::milliseconds span);
  // Waits until fd is readable, at most span; false when asked to stop.
  bool WaitReadable(int fd, std::chrono::milliseconds span);
  // Runs one round of the thread's work. A failure is written to standard
  // error, once until a round succeeds again, and the thread goes on: a
  // thread that ended silently would leave the schedules unwatched.
  void Guarded(const char* what, const std::function<void()>& round);

 private:
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  platform::LoopRef loop_;  // the thread's, once it runs
  bool failing_ = false;    // the thread's own
};

}  // namespace kv
