// Coalesced snapshots, the cancel flag and the factory slots of the window
// layer's facade, headless and over a stand-in window thread.
#include "platform/ui/snapshot.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/fakewindowthread.h"
#include "platform/ui/cancelflag.h"
#include "platform/ui/viewfactory.h"

namespace kv::platform::ui {
namespace {

using test::FakeWindowThread;

struct Progress {
  int step = 0;
  std::string folder;
};

TEST(SnapshotChannel, HeadlessKeepsOnlyTheLatest) {
  auto channel = SnapshotChannel<Progress>::Create();
  EXPECT_FALSE(channel->Latest().has_value());
  for (int i = 1; i <= 3; ++i) channel->Publish({i, "C:\\" + std::to_string(i)});
  EXPECT_EQ(channel->Latest()->step, 3);
  EXPECT_EQ(channel->Latest()->folder, "C:\\3");
  EXPECT_EQ(channel->PublishedCount(), 3u);
  EXPECT_EQ(channel->AppliedCount(), 0u);
}

// A burst coalescing into one apply is tested over the toolkit in
// platform/gui/tests.
TEST(SnapshotChannel, AttachingShowsWhatWasPublishedBeforeAndDetachingStops) {
  FakeWindowThread window;
  auto channel = SnapshotChannel<Progress>::Create();
  std::vector<int> shown;  // window thread only
  // Attached while an apply is queued behind it: that apply shows the
  // snapshot, once.
  window.Hold();
  WindowThread::Post([&] { channel->Attach([&](const Progress& p) { shown.push_back(p.step); }); });
  channel->Publish({7, "C:\\Daten\\"});
  window.Release();
  WindowThread::Synchronize([] {});
  EXPECT_EQ(shown, std::vector<int>{7});
  // Once applied, the next publish queues again; detached, nothing shows.
  channel->Publish({8, ""});
  WindowThread::Synchronize([] {});
  EXPECT_EQ(shown, (std::vector<int>{7, 8}));
  WindowThread::Synchronize([&] { channel->Detach(); });
  channel->Publish({9, ""});
  WindowThread::Synchronize([] {});
  EXPECT_EQ(shown.back(), 8);
  // Attached with nothing queued: shown at once.
  std::vector<int> again;
  WindowThread::Synchronize([&] { channel->Attach([&](const Progress& p) { again.push_back(p.step); }); });
  EXPECT_EQ(again, std::vector<int>{9});
  EXPECT_EQ(channel->PublishedCount(), 3u);
}

TEST(CancelFlag, IsAssignedAndLatched) {
  CancelFlag flag;
  std::thread([&] { flag.Request(); }).join();
  EXPECT_TRUE(flag.IsRequested());
  EXPECT_FALSE(flag.Latched());
  EXPECT_TRUE(flag.Latch());
  std::thread([&] { flag.Assign(false); }).join();  // a "No" withdraws it
  EXPECT_FALSE(flag.IsRequested());
  EXPECT_TRUE(flag.Latched());  // the worker sees the change at its next latch
  EXPECT_FALSE(flag.Latch());
  flag.Request();
  flag.Clear();
  EXPECT_FALSE(flag.Latch());
}

using NameFactory = std::function<std::string(int)>;
using CountFactory = std::function<int(int)>;

TEST(ViewFactorySlot, HoldsOneFactoryPerNameAndType) {
  constexpr ViewFactorySlot<NameFactory> slot{"kv.test.names"};
  EXPECT_FALSE(slot.Get());
  EXPECT_FALSE(slot.Exchange([](int n) { return "Fenster " + std::to_string(n); }));
  ASSERT_TRUE(slot.Get());
  EXPECT_EQ(slot.Get()(3), "Fenster 3");

  // Another slot object of the same name is the same slot (another binary's
  // copy of the model library).
  constexpr ViewFactorySlot<NameFactory> sameName{"kv.test.names"};
  NameFactory previous = sameName.Exchange([](int n) { return "Widget " + std::to_string(n); });
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous(1), "Fenster 1");
  EXPECT_EQ(slot.Get()(2), "Widget 2");

  // A lookup with another type finds nothing rather than a wrong factory.
  constexpr ViewFactorySlot<CountFactory> otherType{"kv.test.names"};
  EXPECT_FALSE(otherType.Get());
  constexpr ViewFactorySlot<NameFactory> otherName{"kv.test.other"};
  EXPECT_FALSE(otherName.Get());

  // An empty factory removes it.
  EXPECT_TRUE(slot.Exchange(nullptr));
  EXPECT_FALSE(sameName.Get());
}

}  // namespace
}  // namespace kv::platform::ui
