#pragma once
// A widget that lives on the window thread on behalf of an owner on a worker
// thread (the model/widget split of run-thread windows). The owner never
// holds the widget pointer: it queues calls that run on the window thread
// only while the widget exists, and the widget is deleted there when the
// owner goes. Headless (no window thread, or the run is hidden) nothing is
// created and every call is skipped, while the model keeps running.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

#include "platform/ui/snapshot.h"
#include "platform/ui/windowthread.h"

namespace kv::platform::gui {

template <class Widget>
class RemoteWidget {
 public:
  // make() runs on the window thread (queued; calls posted later run after
  // it) and returns a new top-level widget or nullptr.
  explicit RemoteWidget(std::function<Widget*()> make, bool hidden = false)
      : slot_(std::make_shared<QPointer<Widget>>()) {
    if (hidden || !ui::WindowThread::HasWindowThread()) return;
    headless_ = false;
    auto slot = slot_;
    ui::WindowThread::Post([slot, make = std::move(make)] { *slot = make(); });
  }
  // Deletes the widget on the window thread (queued after earlier calls).
  ~RemoteWidget() {
    if (headless_) return;
    auto slot = slot_;
    ui::WindowThread::Post([slot] { delete slot->data(); });
  }
  RemoteWidget(const RemoteWidget&) = delete;
  RemoteWidget& operator=(const RemoteWidget&) = delete;

  bool IsHeadless() const { return headless_; }

  // Queues fn(widget) on the window thread; skipped when the widget is gone.
  void Post(std::function<void(Widget&)> fn) const {
    if (headless_) return;
    auto slot = slot_;
    ui::WindowThread::Post([slot, fn = std::move(fn)] {
      if (Widget* widget = slot->data()) fn(*widget);
    });
  }
  // Runs fn(widget) on the window thread and waits for it (pumping the
  // caller's message loop). False when it did not run.
  bool Synchronize(const std::function<void(Widget&)>& fn) const {
    if (headless_) return false;
    bool ran = false;
    auto slot = slot_;
    ui::WindowThread::Synchronize([&] {
      if (Widget* widget = slot->data()) {
        fn(*widget);
        ran = true;
      }
    });
    return ran;
  }

 private:
  std::shared_ptr<QPointer<Widget>> slot_;  // dereferenced on the window thread only
  bool headless_ = true;
};

// Window thread: feeds the widget's Apply(const Snapshot&) from the channel
// until the widget is destroyed.
template <class Widget, class Snapshot>
void BindSnapshots(Widget& widget, const std::shared_ptr<ui::SnapshotChannel<Snapshot>>& channel) {
  QPointer<Widget> guard(&widget);
  channel->Attach([guard](const Snapshot& snapshot) {
    if (guard) guard->Apply(snapshot);
  });
  QObject::connect(&widget, &QObject::destroyed, [channel] { channel->Detach(); });
}

}  // namespace kv::platform::gui
