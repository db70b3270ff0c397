#pragma once
// A window thread without a toolkit for the facade's tests: a thread that
// runs posted calls in order, and question boxes that stay open until the
// application goes away. The test can hold the queue, to look at a worker
// while it waits, and can let the "application" go away with calls and
// boxes still pending.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"

namespace kv::platform::ui::test {

class FakeWindowThread final : public WindowBackend {
 public:
  FakeWindowThread() : thread_([this] { Run(); }) {
    windowThread_ = thread_.get_id();
    previous_ = InstallWindowBackend(this);
  }
  ~FakeWindowThread() {
    InstallWindowBackend(previous_);
    GoAway();
    Locked([&] { stop_ = true; });
    thread_.join();
  }
  FakeWindowThread(const FakeWindowThread&) = delete;
  FakeWindowThread& operator=(const FakeWindowThread&) = delete;

  // --- WindowBackend ----------------------------------------------------------
  bool IsRunning() override { return running_.load(); }
  bool IsWindowThread() override { return std::this_thread::get_id() == windowThread_; }
  bool Post(std::function<void()> fn) override {
    bool accepted = false;
    Locked([&] {
      if (!running_ || refusePosts) return;
      queue_.push_back(std::move(fn));
      ++posted_;
      accepted = true;
    });
    return accepted;
  }
  Answer AskHere(const Question&) override {
    ++boxesShown;
    return Answer::Ok;
  }
  void Open(const Question&, std::function<void(Answer)> answered) override {
    ++boxesShown;
    Locked([&] { boxes_.push_back(std::move(answered)); });
  }

  // --- What the test does -------------------------------------------------------
  std::atomic<int> boxesShown{0};
  bool refusePosts = false;  // set before any worker posts

  // While held, posted calls wait in the queue.
  void Hold() { Locked([&] { held_ = true; }); }
  void Release() { Locked([&] { held_ = false; }); }
  // Waits until n calls were posted in all (held or not).
  void WaitPosted(size_t n) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return posted_ >= n; });
  }
  // The application goes away: nothing more is accepted, and queued calls
  // and open boxes are destroyed unrun, as the toolkit deletes them.
  void GoAway() {
    std::deque<std::function<void()>> queue;
    std::deque<std::function<void(Answer)>> boxes;
    Locked([&] {
      running_ = false;
      queue.swap(queue_);
      boxes.swap(boxes_);
    });
  }

 private:
  void Locked(const std::function<void()>& change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    wake_.notify_all();
  }
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || (!held_ && !queue_.empty()); });
      if (stop_) return;
      std::function<void()> fn = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      fn();
      fn = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::deque<std::function<void(Answer)>> boxes_;
  size_t posted_ = 0;
  bool held_ = false;
  bool stop_ = false;
  std::atomic<bool> running_{true};
  std::thread::id windowThread_;
  WindowBackend* previous_ = nullptr;
  std::thread thread_;  // last: starts when everything above exists
};

}  // namespace kv::platform::ui::test
