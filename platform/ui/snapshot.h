#pragma once
// Coalesced updates from a worker-side model to its widget. The model
// publishes a snapshot of what the window shows (a plain struct); the widget
// applies it on the window thread. At most one apply is queued at a time and
// it applies the latest snapshot, so a model that publishes thousands of
// times a second costs the window thread one apply per turn of its loop,
// and the window never shows an older state after a newer one.
//
// Without a window thread nothing is queued: the channel only keeps the
// latest snapshot, which is what headless tests read.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/ui/windowthread.h"

namespace kv::platform::ui {

template <class Snapshot>
class SnapshotChannel : public std::enable_shared_from_this<SnapshotChannel<Snapshot>> {
 public:
  using Apply = std::function<void(const Snapshot&)>;

  static std::shared_ptr<SnapshotChannel> Create() {
    return std::shared_ptr<SnapshotChannel>(new SnapshotChannel());
  }

  // Any thread. Keeps the snapshot as the latest and queues one apply on the
  // window thread unless one is queued already.
  void Publish(Snapshot snapshot) {
    {
      std::lock_guard lock(mutex_);
      latest_ = std::move(snapshot);
      ++published_;
      if (applyQueued_) return;
      applyQueued_ = true;
    }
    auto self = this->shared_from_this();
    if (!WindowThread::Post([self] { self->ApplyLatest(); })) {
      std::lock_guard lock(mutex_);
      applyQueued_ = false;
    }
  }

  // Any thread: the latest snapshot published, if any.
  std::optional<Snapshot> Latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
  }
  uint64_t PublishedCount() const {
    std::lock_guard lock(mutex_);
    return published_;
  }

  // Window thread only. Sets the function that shows a snapshot and shows
  // the latest one at once when there is one and no apply is queued anyway;
  // an empty function detaches.
  void Attach(Apply apply) {
    apply_ = std::move(apply);
    bool queued;
    {
      std::lock_guard lock(mutex_);
      queued = applyQueued_;
    }
    if (apply_ && !queued) ApplyLatest();
  }
  void Detach() { apply_ = nullptr; }
  // Window thread only: how many applies reached an attached function.
  uint64_t AppliedCount() const { return applied_; }

 private:
  SnapshotChannel() = default;

  void ApplyLatest() {
    std::optional<Snapshot> snapshot;
    {
      std::lock_guard lock(mutex_);
      applyQueued_ = false;
      snapshot = latest_;
    }
    if (!snapshot || !apply_) return;
    ++applied_;
    apply_(*snapshot);
  }

  mutable std::mutex mutex_;
  std::optional<Snapshot> latest_;
  uint64_t published_ = 0;
  bool applyQueued_ = false;
  Apply apply_;           // window thread only
  uint64_t applied_ = 0;  // window thread only
};

}  // namespace kv::platform::ui
