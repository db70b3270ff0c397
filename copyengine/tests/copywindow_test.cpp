#include "copyengine/copywindow.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "copyengine/tests/fake_windows.h"

namespace kv {
namespace {

namespace ui = platform::ui;

using test::ScopedFakeCopyWindow;

TEST(CopyWindowTest, CreationClearsAnAbortLeftFromAnEarlierJob) {
  AbortFlag().Assign(true);
  ProcessCopyMessages();
  ASSERT_TRUE(AbortRequested());
  TtfCopy window;
  EXPECT_FALSE(AbortRequested());
  EXPECT_FALSE(AbortFlag().IsRequested());
}

TEST(CopyWindowTest, TheAnswerIsAssignedSoANoWithdrawsAnEarlierYes) {
  for (const std::deque<bool>& given : {std::deque{true}, {false}, {true, false}, {false, true}}) {
    std::deque<bool> answers = given;
    // Nobody sees the window, so the window layer's headless responder answers.
    ui::ScopedResponder responder([&](const ui::Question& q) {
      EXPECT_EQ(q.text, "Möchten Sie den Vorgang abbrechen?");
      EXPECT_EQ(q.buttons, ui::QuestionButtons::YesNo);
      const bool yes = answers.front();
      answers.pop_front();
      return yes ? ui::Answer::Yes : ui::Answer::No;
    });
    TtfCopy window;
    for (size_t i = 0; i < given.size(); ++i) window.sbAbortClick();
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(AbortRequested(), given.back());
  }
}

TEST(CopyWindowTest, WithoutAnyoneToAskTheJobIsNeverCancelled) {
  TtfCopy window;
  window.sbAbortClick();
  EXPECT_FALSE(AbortRequested());
  EXPECT_FALSE(window.FormClose());
  EXPECT_TRUE(window.Snapshot().visible);
}

TEST(CopyWindowTest, TheEngineSeesTheFlagChangeOnlyWhenItPumps) {
  TtfCopy window;
  AbortFlag().Assign(true);  // from anywhere, at any moment
  EXPECT_FALSE(AbortRequested());
  window.ProcessMessages();
  EXPECT_TRUE(AbortRequested());
  AbortFlag().Assign(false);
  EXPECT_TRUE(AbortRequested());
  ProcessCopyMessages();
  EXPECT_FALSE(AbortRequested());
}

TEST(CopyWindowTest, ClicksFromTheWidgetAreAnsweredWhileTheJobPumpsAndTheLastAnswerCounts) {
  for (const std::deque<bool>& answers : {std::deque<bool>{true}, std::deque<bool>{true, false}}) {
    ScopedFakeCopyWindow screen;
    TtfCopy window;
    ASSERT_EQ(screen.links.size(), 1u);
    screen.answers = answers;
    for (size_t i = 0; i < answers.size(); ++i) screen.Post(kCopyMsgAbortClick);
    EXPECT_EQ(screen.questions, 0);
    EXPECT_FALSE(AbortRequested());
    window.ProcessMessages();
    EXPECT_EQ(screen.questions, static_cast<int>(answers.size()));
    EXPECT_EQ(AbortRequested(), answers.back());
  }
}

TEST(CopyWindowTest, ClosingAsksFirstAndClosesOnlyOnceAnAbortWasConfirmed) {
  ScopedFakeCopyWindow screen;
  TtfCopy window;
  screen.Post(kCopyMsgClose);
  window.ProcessMessages();  // answered "No": the job and the window go on
  EXPECT_EQ(screen.questions, 1);
  EXPECT_FALSE(AbortRequested());
  EXPECT_TRUE(window.Snapshot().visible);

  screen.answers = {true};
  screen.Post(kCopyMsgClose);
  window.ProcessMessages();
  EXPECT_EQ(screen.questions, 2);
  EXPECT_TRUE(AbortRequested());
  EXPECT_TRUE(window.Snapshot().visible);

  screen.Post(kCopyMsgClose);  // now without a second question
  window.ProcessMessages();
  EXPECT_EQ(screen.questions, 2);
  EXPECT_FALSE(window.Snapshot().visible);
  ASSERT_GT(screen.published, 0u);
  EXPECT_FALSE(screen.last.visible);
}

TEST(CopyWindowTest, HiddenMakesNoWindowAndMinimizedShowsWithoutActivation) {
  ScopedFakeCopyWindow screen;
  {
    TtfCopy hidden(CopyWindowOptions{.hidden = true, .minimized = true});
    EXPECT_FALSE(hidden.HasView());
    EXPECT_FALSE(hidden.Snapshot().visible);
    hidden.SetLabelText(CopyLabel::tlSrc, "x");
    hidden.ProcessMessages();  // updates go on in the invisible window
    EXPECT_EQ(hidden.label(CopyLabel::tlSrc).text, "x");
  }
  EXPECT_TRUE(screen.links.empty());
  TtfCopy minimized(CopyWindowOptions{.minimized = true});
  ASSERT_EQ(screen.links.size(), 1u);
  EXPECT_TRUE(screen.links[0].minimized);
  ASSERT_GT(screen.published, 0u);
  EXPECT_TRUE(screen.last.visible);
  EXPECT_FALSE(screen.last.activate);
}

TEST(CopyWindowTest, UpdatesReachTheWidgetCoalescedAtEachPump) {
  ScopedFakeCopyWindow screen;
  TtfCopy window;
  const size_t before = screen.published;
  window.SetBarMax(CopyBar::pgAll, 1000);
  for (int i = 0; i <= 1000; i += 10) window.SetBarPosition(CopyBar::pgAll, i);
  EXPECT_EQ(screen.published, before);
  window.ProcessMessages();
  ASSERT_EQ(screen.published, before + 1);
  EXPECT_EQ(screen.last.bar(CopyBar::pgAll).position, 1000);
  window.ProcessMessages();  // nothing changed: nothing sent
  EXPECT_EQ(screen.published, before + 1);
}

TEST(CopyWindowTest, TheEnginesPumpReachesTheWindowOfItsThread) {
  EXPECT_EQ(TtfCopy::Current(), nullptr);
  ScopedFakeCopyWindow screen;
  {
    TtfCopy window;
    EXPECT_EQ(TtfCopy::Current(), &window);
    window.SetLabelText(CopyLabel::tlSrc, "C:\\a");
    ProcessCopyMessages();
    ASSERT_GT(screen.published, 0u);
    EXPECT_EQ(screen.last.label(CopyLabel::tlSrc).text, "C:\\a");
  }
  EXPECT_EQ(TtfCopy::Current(), nullptr);
}

TEST(CopyWindowTest, BarsKeepTheirPositionWithinTheirRange) {
  TtfCopy window;
  window.SetBarMax(CopyBar::pgFile, 50);
  window.SetBarPosition(CopyBar::pgFile, 80);
  EXPECT_EQ(window.bar(CopyBar::pgFile).position, 50);
  window.SetBarPosition(CopyBar::pgFile, -3);
  EXPECT_EQ(window.bar(CopyBar::pgFile).position, 0);
  window.SetBarPosition(CopyBar::pgFile, 40);
  window.SetBarMax(CopyBar::pgFile, 20);
  EXPECT_EQ(window.bar(CopyBar::pgFile).position, 20);
}

TEST(CopyWindowTest, ShowAbortingBlanksThePathsAndShowsTheRedLabels) {
  TtfCopy window;
  window.SetLabelPath(CopyLabel::tlSrc, "C:\\a.txt", "C:\\a.txt");
  window.SetLabelText(CopyLabel::tlDest, "D:\\a.txt");
  window.ShowAborting();
  for (CopyLabel id : {CopyLabel::tlSrc, CopyLabel::tlDest, CopyLabel::Label1, CopyLabel::Label2}) {
    EXPECT_EQ(window.label(id).text, "");
    EXPECT_EQ(window.label(id).path, "");
  }
  EXPECT_TRUE(window.label(CopyLabel::tlAbort1).visible);
  EXPECT_TRUE(window.label(CopyLabel::tlabort2).visible);
  EXPECT_EQ(window.label(CopyLabel::Label5).text, "Bisherige Kopierdauer:");
}

TEST(CopyWindowTest, ElapsedTimeComesFromTheMonotonicClockAndPassesADay) {
  uint64_t now = 5'000'000;
  CopyWindowOptions options;
  options.clock = [&] { return now; };
  TtfCopy window(options);
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "00:00:00"},          {999, "00:00:00"},         {1000, "00:00:01"},       {59'999, "00:00:59"},
      {3'723'500, "01:02:03"},  {86'399'000, "23:59:59"},  {86'400'000, "24:00:00"}, {90'061'000, "25:01:01"},
      {360'000'000'000, "100000:00:00"}};
  for (const auto& [elapsedMs, text] : cases) {
    now = 5'000'000 + elapsedMs;
    window.Timer1Timer();
    EXPECT_EQ(window.label(CopyLabel::tlTime).text, text);
  }
  now = 5'000'000 + 7'000;
  EXPECT_TRUE(window.TimerRunning());
  window.StopTimer();  // one last display
  EXPECT_EQ(window.label(CopyLabel::tlTime).text, "00:00:07");
  EXPECT_FALSE(window.TimerRunning());
}

}  // namespace
}  // namespace kv
