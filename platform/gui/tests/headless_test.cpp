// With the Qt backend installed but no QApplication, models still run and
// nothing is shown. These tests run in a second pass of this program that
// creates no QApplication; the normal pass leaves them out, starts that pass
// and checks its result. The facade without any backend is tested in
// platform/tests.
#include <QFont>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/gui/geometry.h"
#include "platform/gui/pathfit.h"
#include "platform/gui/remotewidget.h"
#include "platform/gui/tests/guitest.h"
#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"

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

TEST_F(Headless, QtBackendWithoutAnApplicationRunsHeadless) {
  // main installed the Qt backend in this pass too.
  EXPECT_FALSE(ui::WindowThread::HasWindowThread());
  EXPECT_FALSE(ui::WindowThread::IsWindowThread());
  bool posted = false;
  EXPECT_FALSE(ui::WindowThread::Post([&] { posted = true; }));
  std::thread::id ranOn, workerId;
  std::thread([&] {
    workerId = std::this_thread::get_id();
    EXPECT_TRUE(ui::WindowThread::Synchronize([&] { ranOn = std::this_thread::get_id(); }));
  }).join();
  EXPECT_EQ(ranOn, workerId);
  // No box: the safe answer; no window is made, the model runs on.
  EXPECT_EQ(ui::Ask(ui::Question{"Wirklich?", ui::QuestionKind::Confirmation, ui::QuestionButtons::YesNoCancel}),
            ui::Answer::Cancel);
  bool made = false;
  RemoteWidget<QWidget> window([&]() -> QWidget* {
    made = true;
    return nullptr;
  });
  EXPECT_TRUE(window.IsHeadless());
  EXPECT_FALSE(made);
  EXPECT_FALSE(posted);
}

TEST_F(Headless, PixelShorteningFallsBackToCharacters) {
  // 60 pixels at 6 pixels a character: 10 characters.
  EXPECT_EQ(MinimizeNamePixels(R"(C:\Daten\Projekte\file.txt)", QFont(), 60), "file.txt");
  EXPECT_EQ(MinimizeNamePixels(R"(C:\a\f.txt)", QFont(), 60), R"(C:\a\f.txt)");
  EXPECT_EQ(ScreenDpi(nullptr), 96);
}

}  // namespace
}  // namespace kv::platform::gui
