// The question facade: the headless responder and its safe default, and
// over a backend (a plain thread standing in for the toolkit's) what
// happens when no box can be shown. Boxes really shown and answered are
// tested over the toolkit in platform/gui/tests.
#include "platform/ui/question.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/tests/fakewindowthread.h"

namespace kv::platform::ui {
namespace {

using test::FakeWindowThread;

// Counts the headless responder's calls; a box shown means it stays at 0.
struct CountingResponder {
  std::atomic<int> calls{0};
  Answer answer;
  ScopedResponder scoped{[this](const Question&) {
    ++calls;
    return answer;
  }};
  explicit CountingResponder(Answer a) : answer(a) {}
};

std::optional<Answer> AskOnWorker(const Question& question, bool hidden = false) {
  std::optional<Answer> answer;
  std::thread([&] { answer = Ask(question, hidden); }).join();
  return answer;
}

TEST(QuestionFacade, BoxesAndTheirSafeAnswers) {
  using Buttons = std::vector<std::pair<std::string, Answer>>;  // in order, the first is the default
  const struct {
    QuestionButtons buttons;
    Buttons expected;
    Answer safe;
  } cases[] = {
      {QuestionButtons::Ok, {{"OK", Answer::Ok}}, Answer::Ok},
      {QuestionButtons::OkCancel, {{"OK", Answer::Ok}, {"Abbrechen", Answer::Cancel}}, Answer::Cancel},
      {QuestionButtons::YesNo, {{"&Ja", Answer::Yes}, {"&Nein", Answer::No}}, Answer::No},
      {QuestionButtons::YesNoCancel,
       {{"&Ja", Answer::Yes}, {"&Nein", Answer::No}, {"Abbrechen", Answer::Cancel}},
       Answer::Cancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.buttons));
    Buttons buttons;
    for (const QuestionButton& button : ButtonsOf(c.buttons)) buttons.emplace_back(button.text, button.answer);
    EXPECT_EQ(buttons, c.expected);
    EXPECT_EQ(SafeAnswer(c.buttons), c.safe);
    // Without a window thread nobody is asked: the safe answer.
    EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, c.buttons}), c.safe);
  }
}

TEST(QuestionFacade, CaptionsOfTheKinds) {
  const std::pair<QuestionKind, const char*> cases[] = {{QuestionKind::Confirmation, "Bestätigen"},
                                                        {QuestionKind::Information, "Information"},
                                                        {QuestionKind::Warning, "Warnung"},
                                                        {QuestionKind::Error, "Fehler"}};
  for (const auto& [kind, caption] : cases) EXPECT_EQ(CaptionOf(Question{"x", kind}), caption);
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Error, QuestionButtons::Ok, "Kestrovane"}), "Kestrovane");
}

TEST(QuestionFacade, InstalledResponderAnswersOnTheAskingThread) {
  std::string asked;
  std::thread::id answeredOn;
  {
    ScopedResponder scoped([&](const Question& q) {
      asked = q.text;
      answeredOn = std::this_thread::get_id();
      return Answer::Yes;
    });
    std::thread::id workerId;
    std::thread worker([&] {
      workerId = std::this_thread::get_id();
      EXPECT_EQ(Ask(Question{"Abbrechen?", QuestionKind::Confirmation, QuestionButtons::YesNoCancel}), Answer::Yes);
    });
    worker.join();
    EXPECT_EQ(answeredOn, workerId);
    EXPECT_EQ(asked, "Abbrechen?");
  }
  // Out of scope the default answers again.
  EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, QuestionButtons::YesNo}), Answer::No);
}

TEST(QuestionFacade, HiddenRunAsksTheResponderNotTheUser) {
  FakeWindowThread window;
  CountingResponder headless(Answer::Yes);
  EXPECT_EQ(AskOnWorker(Question{"Möchten Sie den Vorgang abbrechen?"}, /*hidden=*/true), Answer::Yes);
  EXPECT_EQ(headless.calls, 1);
  EXPECT_EQ(window.boxesShown, 0);
}

TEST(QuestionFacade, ABoxThatCannotBeShownGetsTheSafeAnswer) {
  // The application goes away while the box is open, or before the call
  // that opens it ran: the worker is released with the safe answer.
  for (bool opened : {true, false}) {
    SCOPED_TRACE(opened ? "box open" : "still queued");
    FakeWindowThread window;
    if (!opened) window.Hold();
    std::optional<Answer> answer;
    std::thread worker(
        [&] { answer = Ask(Question{"Überschreiben?", QuestionKind::Warning, QuestionButtons::YesNo}); });
    window.WaitPosted(1);
    if (opened) WindowThread::Synchronize([] {});  // the box has been opened by now
    EXPECT_EQ(window.boxesShown, opened ? 1 : 0);
    window.GoAway();
    worker.join();
    EXPECT_EQ(answer, Answer::No);
  }
  // A window thread that refuses the call: the responder answers.
  FakeWindowThread refusing;
  refusing.refusePosts = true;
  CountingResponder headless(Answer::Ok);
  EXPECT_EQ(AskOnWorker(Question{"Fertig.", QuestionKind::Information, QuestionButtons::Ok}), Answer::Ok);
  EXPECT_EQ(headless.calls, 1);
}

}  // namespace
}  // namespace kv::platform::ui
