#pragma once
// A window thread without a toolkit for the facade's tests: a thread that
// runs posted calls in order, and question boxes that the test answers.
// The test can hold the queue, to look at a worker while it waits, and can
// let the "application" go away with calls and boxes still pending.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"

namespace kv::platform::ui::test {

class FakeWindowThread final : public WindowBackend {
 public:
  struct OpenBox {
    Question question;
    std::function<void(Answer)> answered;
  };

  FakeWindowThread() : thread_([this] { Run(); }) {
    windowThread_ = thread_.get_id();
    previous_ = InstallWindowBackend(this);
  }
  ~FakeWindowThread() {
    InstallWindowBackend(previous_);
    GoAway();
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  FakeWindowThread(const FakeWindowThread&) = delete;
  FakeWindowThread& operator=(const FakeWindowThread&) = delete;

  // --- WindowBackend ----------------------------------------------------------
  bool IsRunning() override { return running_.load(); }
  bool IsWindowThread() override { return std::this_thread::get_id() == windowThread_; }
  bool Post(std::function<void()> fn) override {
    {
      std::lock_guard lock(mutex_);
      if (!running_ || refusePosts) return false;
      queue_.push_back(std::move(fn));
      ++posted_;
    }
    wake_.notify_all();
    return true;
  }
  Answer AskHere(const Question& question) override {
    askedHere.push_back(question);  // window thread only
    return hereAnswer;
  }
  void Open(const Question& question, std::function<void(Answer)> answered) override {
    {
      std::lock_guard lock(mutex_);
      boxes_.push_back({question, std::move(answered)});
    }
    wake_.notify_all();
  }

  // --- What the test does -------------------------------------------------------
  Answer hereAnswer = Answer::Ok;
  std::vector<Question> askedHere;
  bool refusePosts = false;  // set before any worker posts

  // While held, posted calls wait in the queue.
  void Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    wake_.notify_all();
  }
  // Waits until n calls were posted in all (held or not).
  void WaitPosted(size_t n) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return posted_ >= n; });
  }
  // Waits for an open box and answers it on the window thread, as a click
  // would; returns its question.
  Question AnswerBox(Answer answer) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return !boxes_.empty(); });
    OpenBox box = std::move(boxes_.front());
    boxes_.pop_front();
    queue_.push_back([answered = std::move(box.answered), answer] { answered(answer); });
    lock.unlock();
    wake_.notify_all();
    return box.question;
  }
  // The application goes away: nothing more is accepted, and queued calls
  // and open boxes are destroyed unrun, as the toolkit deletes them.
  void GoAway() {
    std::deque<std::function<void()>> queue;
    std::deque<OpenBox> boxes;
    {
      std::lock_guard lock(mutex_);
      running_ = false;
      queue.swap(queue_);
      boxes.swap(boxes_);
    }
    wake_.notify_all();
  }

 private:
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
  std::deque<OpenBox> boxes_;
  size_t posted_ = 0;
  bool held_ = false;
  bool stop_ = false;
  std::atomic<bool> running_{true};
  std::thread::id windowThread_;
  WindowBackend* previous_ = nullptr;
  std::thread thread_;  // last: starts when everything above exists
};

}  // namespace kv::platform::ui::test
