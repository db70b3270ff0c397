#pragma once
// A running log from a worker-side model to its widget: the model appends
// lines (and sets how they look), the widget on the window thread shows
// them. Like SnapshotChannel, at most one update is queued at a time and it
// carries everything appended since the last one, so a model that writes
// thousands of lines a second costs the window thread one update per turn
// of its loop.
//
// The channel keeps the last maxLines lines and forgets older ones, so a log
// that runs for days does not grow without end. A widget that attaches late,
// or fell behind by more than that, starts over with what is kept.
//
// Without a window thread nothing is queued; the lines are still kept, which
// is what headless tests read.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ui/windowthread.h"

namespace kv::platform::ui {

template <class Line, class Look>
class LogChannel : public std::enable_shared_from_this<LogChannel<Line, Look>> {
 public:
  struct Update {
    std::vector<Line> lines;
    Look look;
    bool restart = false;  // show only these lines: what was shown before is gone
  };
  using Apply = std::function<void(const Update&)>;

  static std::shared_ptr<LogChannel> Create(size_t maxLines) {
    return std::shared_ptr<LogChannel>(new LogChannel(maxLines));
  }

  // Any thread.
  void Append(Line line) {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
      ++end_;
      if (lines_.size() > maxLines_) {
        lines_.pop_front();
        ++begin_;
      }
    }
    QueueUpdate();
  }
  void SetLook(Look look) {
    {
      std::lock_guard lock(mutex_);
      look_ = std::move(look);
    }
    QueueUpdate();
  }
  std::vector<Line> Lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
  }
  Look CurrentLook() const {
    std::lock_guard lock(mutex_);
    return look_;
  }

  // Window thread only. Shows everything kept at once; an empty function
  // detaches.
  void Attach(Apply apply) {
    apply_ = std::move(apply);
    {
      std::lock_guard lock(mutex_);
      fresh_ = true;
    }
    if (apply_) ApplyPending();
  }
  void Detach() { apply_ = nullptr; }

 private:
  explicit LogChannel(size_t maxLines) : maxLines_(maxLines) {}

  void QueueUpdate() {
    {
      std::lock_guard lock(mutex_);
      if (updateQueued_) return;
      updateQueued_ = true;
    }
    auto self = this->shared_from_this();
    if (!WindowThread::Post([self] { self->ApplyPending(); })) {
      std::lock_guard lock(mutex_);
      updateQueued_ = false;
    }
  }

  void ApplyPending() {
    Update update;
    {
      std::lock_guard lock(mutex_);
      updateQueued_ = false;
      if (!apply_) return;
      update.restart = fresh_ || shown_ < begin_;
      const uint64_t from = update.restart ? begin_ : shown_;
      fresh_ = false;
      update.lines.assign(lines_.begin() + static_cast<std::ptrdiff_t>(from - begin_), lines_.end());
      update.look = look_;
      shown_ = end_;
    }
    apply_(update);
  }

  const size_t maxLines_;
  mutable std::mutex mutex_;
  std::deque<Line> lines_;
  uint64_t begin_ = 0;  // number of the first line kept
  uint64_t end_ = 0;    // number of the next line
  Look look_{};
  bool updateQueued_ = false;
  bool fresh_ = true;    // the widget shows nothing yet
  uint64_t shown_ = 0;   // it was given the lines before this number
  Apply apply_;         // window thread only
};

}  // namespace kv::platform::ui
