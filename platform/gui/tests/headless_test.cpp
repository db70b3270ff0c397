// Without a window thread (no QApplication) models still run and nothing is
// shown. These tests run in a second pass of this program that creates no
// QApplication; the normal pass leaves them out, starts that pass and checks
// its result.
#include <QFont>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/gui/cancelflag.h"
#include "platform/gui/geometry.h"
#include "platform/gui/pathfit.h"
#include "platform/gui/question.h"
#include "platform/gui/remotewidget.h"
#include "platform/gui/snapshot.h"
#include "platform/gui/tests/guitest.h"
#include "platform/gui/windowthread.h"

namespace kv::platform::gui {
namespace {

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsHeadlessPass()) GTEST_SKIP() << "runs in the headless pass (HeadlessPass.AllPass)";
  }
};

TEST(HeadlessPass, AllPass) {
  if (test::IsHeadlessPass()) GTEST_SKIP() << "this is the headless pass";
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("KV_GUI_HEADLESS_PASS", "1", 1);
    execl(self, self, "--gtest_filter=Headless.*", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the headless pass crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a headless test failed (see its output above)";
}

struct Snapshot {
  int step = 0;
};

TEST_F(Headless, WindowThreadCallsRunInPlaceOrNotAtAll) {
  EXPECT_FALSE(WindowThread::HasWindowThread());
  EXPECT_FALSE(WindowThread::IsWindowThread());
  bool posted = false;
  EXPECT_FALSE(WindowThread::Post([&] { posted = true; }));
  EXPECT_FALSE(posted);
  std::thread::id ranOn;
  std::thread worker([&] { EXPECT_TRUE(WindowThread::Synchronize([&] { ranOn = std::this_thread::get_id(); })); });
  const std::thread::id workerId = worker.get_id();
  worker.join();
  EXPECT_EQ(ranOn, workerId);
}

TEST_F(Headless, ModelsPublishWithoutAWindow) {
  auto channel = SnapshotChannel<Snapshot>::Create();
  bool made = false;
  RemoteWidget<QWidget> window([&] {
    made = true;
    return nullptr;
  });
  EXPECT_TRUE(window.IsHeadless());
  for (int i = 1; i <= 3; ++i) channel->Publish({i});
  EXPECT_EQ(channel->Latest()->step, 3);
  EXPECT_EQ(channel->PublishedCount(), 3u);
  EXPECT_FALSE(made);
}

TEST_F(Headless, DefaultAnswersAreTheSafeOnes) {
  struct Case {
    QuestionButtons buttons;
    Answer expected;
  };
  const Case cases[] = {{QuestionButtons::Ok, Answer::Ok},
                        {QuestionButtons::OkCancel, Answer::Cancel},
                        {QuestionButtons::YesNo, Answer::No},
                        {QuestionButtons::YesNoCancel, Answer::Cancel}};
  for (const Case& c : cases) {
    EXPECT_EQ(SafeAnswer(c.buttons), c.expected);
    EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, c.buttons}), c.expected);
  }
}

TEST_F(Headless, InstalledResponderAnswersAndIsCounted) {
  for (Answer given : {Answer::Yes, Answer::No, Answer::Cancel}) {
    std::atomic<int> calls{0};
    std::string asked;
    {
      ScopedResponder scoped([&](const Question& q) {
        ++calls;
        asked = q.text;
        return given;
      });
      Answer answer = Answer::Ok;
      std::thread worker([&] { answer = Ask(Question{"Abbrechen?", QuestionKind::Confirmation,
                                                     QuestionButtons::YesNoCancel}); });
      worker.join();
      EXPECT_EQ(answer, given);
      EXPECT_EQ(Ask(Question{"Noch einmal?"}), given);
    }
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(asked, "Noch einmal?");
    // Out of scope the default answers again.
    EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, QuestionButtons::YesNo}), Answer::No);
  }
}

TEST_F(Headless, CaptionsOfTheKinds) {
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Confirmation}), "Bestätigen");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Information}), "Information");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Warning}), "Warnung");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Error}), "Fehler");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Error, QuestionButtons::Ok, "Kestrovane"}), "Kestrovane");
}

TEST_F(Headless, PixelShorteningFallsBackToCharacters) {
  // 60 pixels at 6 pixels a character: 10 characters.
  EXPECT_EQ(MinimizeNamePixels(R"(C:\Daten\Projekte\file.txt)", QFont(), 60), "file.txt");
  EXPECT_EQ(MinimizeNamePixels(R"(C:\a\f.txt)", QFont(), 60), R"(C:\a\f.txt)");
  EXPECT_EQ(ScreenDpi(nullptr), 96);
}

TEST_F(Headless, CancelFlagIsAssignedAndLatched) {
  CancelFlag flag;
  std::thread([&] { flag.Request(); }).join();
  EXPECT_TRUE(flag.IsRequested());
  EXPECT_FALSE(flag.Latched());
  EXPECT_TRUE(flag.Latch());
  std::thread([&] { flag.Assign(false); }).join();  // a "No" withdraws it
  EXPECT_FALSE(flag.IsRequested());
  EXPECT_TRUE(flag.Latched());  // the worker sees the change at its next latch
  EXPECT_FALSE(flag.Latch());
}

}  // namespace
}  // namespace kv::platform::gui
