// Widgets that live on the window thread for a worker, over the Qt backend.
// The facade's ordering, waiting, pumping and exception passing are tested
// over a stand-in backend in platform/tests; the backend's idea of the
// window thread is what the question tests rely on.
#include "platform/ui/windowthread.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui/remotewidget.h"
#include "platform/gui/tests/guitest.h"
#include "platform/ui/snapshot.h"

namespace kv::platform::gui {
namespace {

using test::ProcessEventsUntil;
using WindowThreadTest = test::WithApplication;

struct ProgressSnapshot {
  int step = 0;
  std::string folder;
};

// A widget as the window targets build them: it only shows snapshots.
class ProgressProbe : public QWidget {
 public:
  ProgressProbe() : label_(new QLabel(this)) {}
  void Apply(const ProgressSnapshot& s) {
    EXPECT_EQ(QThread::currentThread(), qApp->thread());
    steps.push_back(s.step);
    label_->setText(QString::fromStdString(s.folder));
  }
  QString Shown() const { return label_->text(); }
  std::vector<int> steps;

 private:
  QLabel* label_;
};

TEST_F(WindowThreadTest, CoalescedSnapshotsApplyOnlyTheLatest) {
  QPointer<ProgressProbe> shown;
  auto channel = ui::SnapshotChannel<ProgressSnapshot>::Create();
  std::vector<int> steps;
  std::atomic<bool> created{false};
  std::atomic<bool> go{false};
  std::atomic<bool> published{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    {
      RemoteWidget<ProgressProbe> window([&shown, channel] {
        auto* probe = new ProgressProbe;
        BindSnapshots(*probe, channel);
        shown = probe;
        return probe;
      });
      window.Synchronize([](ProgressProbe&) {});
      created = true;
      while (!go.load()) std::this_thread::yield();
      for (int step = 1; step <= 1000; ++step) channel->Publish({step, "C:\\Daten\\" + std::to_string(step)});
      published = true;
      window.Synchronize([&steps](ProgressProbe& probe) { steps = probe.steps; });
    }
    done = true;
  });
  // The window thread serves nothing while the worker publishes, so the
  // whole burst must arrive as a single apply of the newest snapshot.
  ASSERT_TRUE(ProcessEventsUntil([&] { return created.load(); }));
  go = true;
  while (!published.load()) std::this_thread::yield();
  ASSERT_TRUE(ProcessEventsUntil([&] { return done.load(); }));
  worker.join();
  // The worker is gone; its window is deleted on the window thread.
  ASSERT_TRUE(ProcessEventsUntil([&] { return shown.isNull(); }));
  EXPECT_EQ(steps, std::vector<int>{1000});
  EXPECT_EQ(channel->AppliedCount(), 1u);
  EXPECT_EQ(channel->PublishedCount(), 1000u);
  EXPECT_EQ(channel->Latest()->step, 1000);
}

TEST_F(WindowThreadTest, WidgetFedFromAnotherThreadEndsOnTheLatestSnapshot) {
  QPointer<ProgressProbe> shown;
  auto channel = ui::SnapshotChannel<ProgressSnapshot>::Create();
  std::atomic<bool> published{false};
  auto window = std::make_unique<RemoteWidget<ProgressProbe>>([&shown, channel] {
    auto* probe = new ProgressProbe;
    BindSnapshots(*probe, channel);
    shown = probe;
    return probe;
  });
  std::thread worker([&] {
    for (int step = 1; step <= 5000; ++step) {
      channel->Publish({step, "C:\\Daten\\" + std::to_string(step)});
      if (step % 500 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    published = true;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return published && shown && shown->Shown() == "C:\\Daten\\5000"; }));
  worker.join();
  const std::vector<int> seen = shown->steps;
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]) << "an older state after a newer one";
  window.reset();
  ASSERT_TRUE(ProcessEventsUntil([&] { return shown.isNull(); }));
  // Nothing reaches a destroyed widget.
  channel->Publish({5001, "late"});
  QCoreApplication::processEvents();
  EXPECT_EQ(channel->Latest()->step, 5001);
}

// Calls are skipped for a widget that was never made (hidden run) and for
// one the window thread already closed.
TEST_F(WindowThreadTest, CallsToAnAbsentWidgetAreSkipped) {
  for (bool hidden : {true, false}) {
    SCOPED_TRACE(hidden ? "hidden" : "closed");
    QPointer<ProgressProbe> shown;
    bool made = false, called = false;
    {
      RemoteWidget<ProgressProbe> window(
          [&]() -> ProgressProbe* {
            made = true;
            shown = new ProgressProbe;
            return shown;
          },
          hidden);
      EXPECT_EQ(window.IsHeadless(), hidden);
      if (!hidden) {
        ASSERT_TRUE(ProcessEventsUntil([&] { return !shown.isNull(); }));
        delete shown.data();
      }
      window.Post([&](ProgressProbe&) { called = true; });
      EXPECT_FALSE(window.Synchronize([&](ProgressProbe&) { called = true; }));
      QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_EQ(made, !hidden);
  }
}

}  // namespace
}  // namespace kv::platform::gui
