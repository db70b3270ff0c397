#include "platform/ui/windowthread.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui/remotewidget.h"
#include "platform/ui/snapshot.h"
#include "platform/gui/tests/guitest.h"
#include "platform/msgloop.h"

namespace kv::platform::gui {
namespace {

using test::ProcessEventsUntil;

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

class WindowThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::IsHeadlessPass()) GTEST_SKIP() << "needs the QApplication";
  }
};

// Waits (pumping nothing) until flag is set by another thread.
bool SpinUntil(const std::atomic<bool>& flag) {
  for (int i = 0; i < 30000 && !flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return flag.load();
}

class FlagHandler : public MessageHandler {
 public:
  std::atomic<bool> received{false};

 protected:
  void HandleMessage(const Message&) override { received = true; }
};

TEST_F(WindowThreadTest, KnowsItsThread) {
  EXPECT_TRUE(ui::WindowThread::HasWindowThread());
  EXPECT_TRUE(ui::WindowThread::IsWindowThread());
  bool onWorker = true;
  std::thread([&] { onWorker = !ui::WindowThread::IsWindowThread(); }).join();
  EXPECT_TRUE(onWorker);
}

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
  std::vector<int> seen;
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
  seen = shown->steps;
  EXPECT_LE(seen.size(), 5000u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]) << "an older state after a newer one";
  window.reset();
  ASSERT_TRUE(ProcessEventsUntil([&] { return shown.isNull(); }));
  // Nothing reaches a destroyed widget.
  channel->Publish({5001, "late"});
  QCoreApplication::processEvents();
  EXPECT_EQ(channel->Latest()->step, 5001);
}

TEST_F(WindowThreadTest, PostedCallsRunInOrderOnTheWindowThread) {
  std::vector<int> order;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      EXPECT_TRUE(ui::WindowThread::Post([&order, i] {
        EXPECT_TRUE(ui::WindowThread::IsWindowThread());
        order.push_back(i);
      }));
  });
  worker.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return order.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(WindowThreadTest, SynchronizeWaitsPumpingTheWorkersLoop) {
  std::atomic<bool> ready{false}, returned{false};
  HandlerRef workerHandler;
  bool ranOnWindowThread = false;
  std::thread worker([&] {
    FlagHandler handler;
    workerHandler = handler.Ref();
    ready = true;
    EXPECT_TRUE(ui::WindowThread::Synchronize([&] { ranOnWindowThread = ui::WindowThread::IsWindowThread(); }));
    returned = true;
    EXPECT_TRUE(handler.received);
  });
  ASSERT_TRUE(SpinUntil(ready));
  // The window thread has not served the call yet: the worker waits, and
  // while it waits its own messages are dispatched.
  ASSERT_TRUE(workerHandler.Post(WM_USER));
  std::atomic<bool> delivered{false};
  workerHandler.PostCall([&] { delivered = true; });
  ASSERT_TRUE(SpinUntil(delivered));
  EXPECT_FALSE(returned);
  ASSERT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnWindowThread);
}

TEST_F(WindowThreadTest, SynchronizeRunsDirectlyOnTheWindowThreadAndPassesExceptions) {
  bool ran = false;
  EXPECT_TRUE(ui::WindowThread::Synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);

  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      ui::WindowThread::Synchronize([] { throw std::runtime_error("Laufwerk fehlt"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "Laufwerk fehlt";
    }
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return caught.load(); }));
  worker.join();
}

TEST_F(WindowThreadTest, HiddenRemoteWidgetIsNeverCreated) {
  bool made = false;
  {
    RemoteWidget<ProgressProbe> window(
        [&] {
          made = true;
          return new ProgressProbe;
        },
        /*hidden=*/true);
    EXPECT_TRUE(window.IsHeadless());
    bool called = false;
    window.Post([&](ProgressProbe&) { called = true; });
    EXPECT_FALSE(window.Synchronize([&](ProgressProbe&) { called = true; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(made);
}

TEST_F(WindowThreadTest, CallsToAWidgetClosedByTheWindowThreadAreSkipped) {
  QPointer<ProgressProbe> shown;
  RemoteWidget<ProgressProbe> window([&] {
    auto* probe = new ProgressProbe;
    shown = probe;
    return probe;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return !shown.isNull(); }));
  delete shown.data();
  bool called = false;
  window.Post([&](ProgressProbe&) { called = true; });
  EXPECT_FALSE(window.Synchronize([&](ProgressProbe&) { called = true; }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace kv::platform::gui
