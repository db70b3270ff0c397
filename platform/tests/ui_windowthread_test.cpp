// The window-thread facade: headless without a backend, and over a backend
// (a plain thread standing in for the toolkit's) the calls reach the window
// thread in order while a waiting worker keeps serving its own messages.
#include "platform/ui/windowthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "platform/tests/fakewindowthread.h"

namespace kv::platform::ui {
namespace {

using test::FakeWindowThread;

TEST(WindowThreadFacade, HeadlessCallsRunInPlaceOrNotAtAll) {
  // No backend at all, or one whose application is gone.
  for (bool backend : {false, true}) {
    SCOPED_TRACE(backend ? "application gone" : "no backend");
    std::unique_ptr<FakeWindowThread> window;
    if (backend) {
      window = std::make_unique<FakeWindowThread>();
      window->GoAway();
    }
    EXPECT_FALSE(WindowThread::HasWindowThread());
    EXPECT_FALSE(WindowThread::IsWindowThread());
    bool posted = false;
    EXPECT_FALSE(WindowThread::Post([&] { posted = true; }));
    std::thread::id ranOn, workerId;
    std::thread([&] {
      workerId = std::this_thread::get_id();
      EXPECT_TRUE(WindowThread::Synchronize([&] { ranOn = std::this_thread::get_id(); }));
    }).join();
    EXPECT_EQ(ranOn, workerId);
    EXPECT_FALSE(posted);
  }
}

TEST(WindowThreadFacade, PostedCallsRunInOrderOnTheWindowThread) {
  FakeWindowThread window;
  EXPECT_TRUE(WindowThread::HasWindowThread());
  EXPECT_FALSE(WindowThread::IsWindowThread());
  EXPECT_FALSE(WindowThread::Post(nullptr));
  std::vector<int> order;
  std::atomic<int> offThread{0};
  std::thread([&] {
    for (int i = 0; i < 50; ++i)
      EXPECT_TRUE(WindowThread::Post([&, i] {
        if (!WindowThread::IsWindowThread()) ++offThread;
        if (i == 10) throw std::runtime_error("eine Ausnahme");  // reported, the rest still runs
        order.push_back(i);
      }));
  }).join();
  WindowThread::Synchronize([] {});  // after the 50 calls
  std::vector<int> expected;
  for (int i = 0; i < 50; ++i)
    if (i != 10) expected.push_back(i);
  EXPECT_EQ(order, expected);
  EXPECT_EQ(offThread, 0);
}

TEST(WindowThreadFacade, SynchronizeWaitsPumpingTheWorkersLoop) {
  FakeWindowThread window;
  window.Hold();
  std::atomic<bool> returned{false}, delivered{false};
  HandlerRef workerHandler;
  bool ranOnWindowThread = false;
  std::thread worker([&] {
    struct Flag : MessageHandler {
      bool received = false;
      void HandleMessage(const Message&) override { received = true; }
    } handler;
    workerHandler = handler.Ref();
    EXPECT_TRUE(WindowThread::Synchronize([&] { ranOnWindowThread = WindowThread::IsWindowThread(); }));
    returned = true;
    EXPECT_TRUE(handler.received);
  });
  window.WaitPosted(1);  // workerHandler is set by now
  // The window thread holds the call: the worker waits, and while it waits
  // its own messages are dispatched.
  ASSERT_TRUE(workerHandler.Post(WM_USER));
  workerHandler.PostCall([&] { delivered = true; });
  while (!delivered) std::this_thread::yield();
  EXPECT_FALSE(returned);
  window.Release();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(ranOnWindowThread);
}

TEST(WindowThreadFacade, SynchronizeRunsInPlaceOnTheWindowThreadAndPassesExceptions) {
  FakeWindowThread window;
  bool nestedInPlace = false;
  WindowThread::Synchronize([&] {
    // A call made on the window thread must not queue behind itself.
    EXPECT_TRUE(WindowThread::Synchronize([&] { nestedInPlace = true; }));
  });
  EXPECT_TRUE(nestedInPlace);

  std::string caught;
  std::thread([&] {
    try {
      WindowThread::Synchronize([] { throw std::runtime_error("Laufwerk fehlt"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  }).join();
  EXPECT_EQ(caught, "Laufwerk fehlt");
}

TEST(WindowThreadFacade, AWorkerWaitingWhenTheApplicationGoesIsReleased) {
  FakeWindowThread window;
  window.Hold();
  std::atomic<bool> ran{false};
  bool served = true;
  std::thread worker([&] { served = WindowThread::Synchronize([&] { ran = true; }); });
  window.WaitPosted(1);
  window.GoAway();  // the queued call is destroyed unrun
  worker.join();
  EXPECT_FALSE(served);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace kv::platform::ui
