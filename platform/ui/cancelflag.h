#pragma once
// A cancel flag shared by a worker and the window thread. The window side
// requests (or withdraws) a cancel; the worker reads it between its steps.
// Work that must see the flag change only at defined points takes a
// snapshot with Latch() there and tests the latched value in between.
#include <atomic>

namespace kv::platform::ui {

class CancelFlag {
 public:
  void Request() { flag_.store(true, std::memory_order_release); }
  void Clear() { flag_.store(false, std::memory_order_release); }
  // The flag follows an answer: a "No" withdraws a request not yet acted on.
  void Assign(bool requested) { flag_.store(requested, std::memory_order_release); }
  bool IsRequested() const { return flag_.load(std::memory_order_acquire); }

  // Copies the live value into the latched one and returns it.
  bool Latch() {
    latched_ = IsRequested();
    return latched_;
  }
  // The value of the last Latch() (false before any).
  bool Latched() const { return latched_; }

 private:
  std::atomic<bool> flag_{false};
  bool latched_ = false;  // read and written by the worker only
};

}  // namespace kv::platform::ui
