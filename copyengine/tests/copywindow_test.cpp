#include "copyengine/copywindow.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kv {
namespace {

namespace ui = platform::ui;

// Stands in for the window layer: records what the model publishes and
// answers the cancel question from a script, as a user at the widget would.
struct FakeScreen {
  std::vector<CopyWindowSnapshot> published;
  std::deque<bool> answers;  // empty: "No"
  int questions = 0;
  std::vector<CopyWindowLink> links;
};

class FakeView : public ICopyWindowView {
 public:
  explicit FakeView(FakeScreen& screen) : screen_(screen) {}
  void Publish(const CopyWindowSnapshot& snapshot) override { screen_.published.push_back(snapshot); }
  bool AskAbort(std::string_view question) override {
    EXPECT_EQ(question, "Möchten Sie den Vorgang abbrechen?");
    ++screen_.questions;
    if (screen_.answers.empty()) return false;
    const bool yes = screen_.answers.front();
    screen_.answers.pop_front();
    return yes;
  }

 private:
  FakeScreen& screen_;
};

class ScopedScreen {
 public:
  ScopedScreen() {
    previous_ = SetCopyWindowViewFactory([this](const CopyWindowLink& link) {
      screen.links.push_back(link);
      return std::make_unique<FakeView>(screen);
    });
  }
  ~ScopedScreen() { SetCopyWindowViewFactory(std::move(previous_)); }
  void Click() { screen.links.back().model.Post(kCopyMsgAbortClick); }
  void Close() { screen.links.back().model.Post(kCopyMsgClose); }

  FakeScreen screen;

 private:
  CopyWindowViewFactory previous_;
};

TEST(CopyWindowTest, StartsWithTheLayoutAndTextsOfTheWindow) {
  TtfCopy window;
  const CopyWindowSnapshot& s = window.Snapshot();
  EXPECT_EQ(s.caption, "Kestrovane [ Kopieren ]");
  struct Row {
    CopyLabel id;
    int left, top, width, height;
    std::string text;
    bool bold, visible;
  };
  const Row rows[] = {
      {CopyLabel::Label1, 8, 8, 0, 0, "Von:", true, true},
      {CopyLabel::tlSrc, 8, 24, 500, 17, "", false, true},
      {CopyLabel::Label2, 8, 56, 0, 0, "Nach:", true, true},
      {CopyLabel::tlDest, 8, 72, 500, 13, "", false, true},
      {CopyLabel::Label5, 8, 104, 0, 0, "Bisherige Kopierdauer:", true, true},
      {CopyLabel::tlTime, 8, 120, 0, 0, "00:00:00", false, true},
      {CopyLabel::Label3, 8, 152, 0, 0, "Dateigrösse:", false, true},
      {CopyLabel::tlFileSize, 472, 152, 0, 0, "", false, true},
      {CopyLabel::Label4, 8, 192, 0, 0, "Gesamtgrösse:", false, true},
      {CopyLabel::tlFullSize, 472, 192, 0, 0, "", false, true},
      {CopyLabel::tlAbort1, 8, 24, 0, 0, "Der Vorgang wird abgebrochen", true, false},
      {CopyLabel::tlabort2, 8, 56, 0, 0, "Bitte haben Sie etwas Geduld.", true, false},
  };
  for (const Row& r : rows) {
    const CopyLabelState& l = s.label(r.id);
    SCOPED_TRACE(r.text);
    EXPECT_EQ(l.left, r.left);
    EXPECT_EQ(l.top, r.top);
    EXPECT_EQ(l.width, r.width);
    EXPECT_EQ(l.height, r.height);
    EXPECT_EQ(l.text, r.text);
    EXPECT_EQ(l.bold, r.bold);
    EXPECT_EQ(l.visible, r.visible);
  }
  EXPECT_TRUE(s.label(CopyLabel::tlAbort1).red);
  EXPECT_EQ(s.label(CopyLabel::tlabort2).pointSize, 10);
  EXPECT_EQ(s.bar(CopyBar::pgFile), (CopyBarState{8, 168, 505, 16, 100, 0}));
  EXPECT_EQ(s.bar(CopyBar::pgAll), (CopyBarState{8, 208, 505, 16, 100, 0}));
  EXPECT_TRUE(window.TimerRunning());
}

TEST(CopyWindowTest, CreationClearsAnAbortLeftFromAnEarlierJob) {
  AbortFlag().Assign(true);
  ProcessCopyMessages();
  ASSERT_TRUE(AbortRequested());
  TtfCopy window;
  EXPECT_FALSE(AbortRequested());
  EXPECT_FALSE(AbortFlag().IsRequested());
}

TEST(CopyWindowTest, TheAnswerIsAssignedSoANoWithdrawsAnEarlierYes) {
  struct Case {
    std::vector<bool> answers;
    bool aborted;
  };
  const Case cases[] = {{{true}, true}, {{false}, false}, {{true, false}, false}, {{false, true}, true}};
  for (const Case& c : cases) {
    std::deque<bool> answers(c.answers.begin(), c.answers.end());
    // Nobody sees the window, so the window layer's headless responder answers.
    ui::ScopedResponder responder([&](const ui::Question& q) {
      EXPECT_EQ(q.text, "Möchten Sie den Vorgang abbrechen?");
      EXPECT_EQ(q.buttons, ui::QuestionButtons::YesNo);
      const bool yes = answers.front();
      answers.pop_front();
      return yes ? ui::Answer::Yes : ui::Answer::No;
    });
    TtfCopy window;
    for (size_t i = 0; i < c.answers.size(); ++i) window.sbAbortClick();
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(AbortRequested(), c.aborted);
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

TEST(CopyWindowTest, ClicksFromTheWidgetAreAnsweredWhileTheJobPumps) {
  ScopedScreen screen;
  TtfCopy window;
  ASSERT_EQ(screen.screen.links.size(), 1u);
  screen.screen.answers = {true};
  screen.Click();
  EXPECT_EQ(screen.screen.questions, 0);
  EXPECT_FALSE(AbortRequested());
  window.ProcessMessages();
  EXPECT_EQ(screen.screen.questions, 1);
  EXPECT_TRUE(AbortRequested());
}

TEST(CopyWindowTest, ASecondClickAnsweredNoBeforeTheEngineLooksWithdrawsTheAbort) {
  ScopedScreen screen;
  TtfCopy window;
  screen.screen.answers = {true, false};
  screen.Click();
  screen.Click();
  window.ProcessMessages();
  EXPECT_EQ(screen.screen.questions, 2);
  EXPECT_FALSE(AbortRequested());
}

TEST(CopyWindowTest, ClosingAsksFirstAndClosesOnlyOnceAnAbortWasConfirmed) {
  ScopedScreen screen;
  TtfCopy window;
  screen.Close();
  window.ProcessMessages();  // answered "No": the job and the window go on
  EXPECT_EQ(screen.screen.questions, 1);
  EXPECT_FALSE(AbortRequested());
  EXPECT_TRUE(window.Snapshot().visible);

  screen.screen.answers = {true};
  screen.Close();
  window.ProcessMessages();
  EXPECT_EQ(screen.screen.questions, 2);
  EXPECT_TRUE(AbortRequested());
  EXPECT_TRUE(window.Snapshot().visible);

  screen.Close();  // now without a second question
  window.ProcessMessages();
  EXPECT_EQ(screen.screen.questions, 2);
  EXPECT_FALSE(window.Snapshot().visible);
  ASSERT_FALSE(screen.screen.published.empty());
  EXPECT_FALSE(screen.screen.published.back().visible);
}

TEST(CopyWindowTest, HiddenMakesNoWindowAndMinimizedShowsWithoutActivation) {
  ScopedScreen screen;
  {
    CopyWindowOptions options;
    options.hidden = true;
    options.minimized = true;
    TtfCopy hidden(options);
    EXPECT_FALSE(hidden.HasView());
    EXPECT_FALSE(hidden.Snapshot().visible);
    hidden.SetLabelText(CopyLabel::tlSrc, "x");
    hidden.ProcessMessages();  // updates go on in the invisible window
    EXPECT_EQ(hidden.label(CopyLabel::tlSrc).text, "x");
  }
  EXPECT_TRUE(screen.screen.links.empty());
  CopyWindowOptions options;
  options.minimized = true;
  TtfCopy minimized(options);
  ASSERT_EQ(screen.screen.links.size(), 1u);
  EXPECT_TRUE(screen.screen.links[0].minimized);
  ASSERT_FALSE(screen.screen.published.empty());
  EXPECT_TRUE(screen.screen.published.back().visible);
  EXPECT_FALSE(screen.screen.published.back().activate);
}

TEST(CopyWindowTest, UpdatesReachTheWidgetCoalescedAtEachPump) {
  ScopedScreen screen;
  TtfCopy window;
  const size_t before = screen.screen.published.size();
  window.SetBarMax(CopyBar::pgAll, 1000);
  for (int i = 0; i <= 1000; i += 10) window.SetBarPosition(CopyBar::pgAll, i);
  EXPECT_EQ(screen.screen.published.size(), before);
  window.ProcessMessages();
  ASSERT_EQ(screen.screen.published.size(), before + 1);
  EXPECT_EQ(screen.screen.published.back().bar(CopyBar::pgAll).position, 1000);
  window.ProcessMessages();  // nothing changed: nothing sent
  EXPECT_EQ(screen.screen.published.size(), before + 1);
}

TEST(CopyWindowTest, TheEnginesPumpReachesTheWindowOfItsThread) {
  EXPECT_EQ(TtfCopy::Current(), nullptr);
  ScopedScreen screen;
  {
    TtfCopy window;
    EXPECT_EQ(TtfCopy::Current(), &window);
    window.SetLabelText(CopyLabel::tlSrc, "C:\\a");
    ProcessCopyMessages();
    ASSERT_FALSE(screen.screen.published.empty());
    EXPECT_EQ(screen.screen.published.back().label(CopyLabel::tlSrc).text, "C:\\a");
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
  struct Case {
    uint64_t elapsedMs;
    const char* text;
  };
  const Case cases[] = {{0, "00:00:00"},           {999, "00:00:00"},          {1000, "00:00:01"},
                        {59'999, "00:00:59"},      {3'723'500, "01:02:03"},    {86'399'000, "23:59:59"},
                        {86'400'000, "24:00:00"},  {90'061'000, "25:01:01"},   {360'000'000'000, "100000:00:00"}};
  for (const Case& c : cases) {
    now = 5'000'000 + c.elapsedMs;
    window.Timer1Timer();
    EXPECT_EQ(window.label(CopyLabel::tlTime).text, c.text);
  }
  now = 5'000'000 + 7'000;
  window.StopTimer();  // one last display
  EXPECT_EQ(window.label(CopyLabel::tlTime).text, "00:00:07");
  EXPECT_FALSE(window.TimerRunning());
}

}  // namespace
}  // namespace kv
