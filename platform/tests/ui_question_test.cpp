// The question facade: the headless responder and its safe default, and
// over a backend (a plain thread standing in for the toolkit's) the box
// opened on the window thread while the asking worker waits.
#include "platform/ui/question.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "platform/tests/fakewindowthread.h"

namespace kv::platform::ui {
namespace {

using test::FakeWindowThread;

// Counts the headless responder's calls; a box shown means it stays at 0.
struct CountingResponder {
  std::atomic<int> calls{0};
  Answer answer = Answer::Yes;
  QuestionResponder Make() {
    return [this](const Question&) {
      ++calls;
      return answer;
    };
  }
};

TEST(QuestionFacade, BoxesAndTheirSafeAnswers) {
  struct Case {
    QuestionButtons buttons;
    std::vector<std::string> texts;  // in order, the first is the default
    Answer safe;
  };
  const Case cases[] = {
      {QuestionButtons::Ok, {"OK"}, Answer::Ok},
      {QuestionButtons::OkCancel, {"OK", "Abbrechen"}, Answer::Cancel},
      {QuestionButtons::YesNo, {"&Ja", "&Nein"}, Answer::No},
      {QuestionButtons::YesNoCancel, {"&Ja", "&Nein", "Abbrechen"}, Answer::Cancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texts.front() + " ... " + std::to_string(c.texts.size()));
    std::vector<std::string> texts;
    for (const QuestionButton& button : ButtonsOf(c.buttons)) texts.emplace_back(button.text);
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(SafeAnswer(c.buttons), c.safe);
    // Without a window thread nobody is asked: the safe answer.
    EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, c.buttons}), c.safe);
  }
  const std::vector<QuestionButton> yesNoCancel = ButtonsOf(QuestionButtons::YesNoCancel);
  EXPECT_EQ(yesNoCancel[0].answer, Answer::Yes);
  EXPECT_EQ(yesNoCancel[1].answer, Answer::No);
  EXPECT_EQ(yesNoCancel[2].answer, Answer::Cancel);
  EXPECT_EQ(ButtonsOf(QuestionButtons::OkCancel)[0].answer, Answer::Ok);
}

TEST(QuestionFacade, CaptionsOfTheKinds) {
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Confirmation}), "Bestätigen");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Information}), "Information");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Warning}), "Warnung");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Error}), "Fehler");
  EXPECT_EQ(CaptionOf(Question{"x", QuestionKind::Error, QuestionButtons::Ok, "Kestrovane"}), "Kestrovane");
}

TEST(QuestionFacade, InstalledResponderAnswersOnTheAskingThread) {
  for (Answer given : {Answer::Yes, Answer::No, Answer::Cancel}) {
    std::atomic<int> calls{0};
    std::string asked;
    std::thread::id answeredOn;
    std::thread::id workerId;
    {
      ScopedResponder scoped([&](const Question& q) {
        ++calls;
        asked = q.text;
        answeredOn = std::this_thread::get_id();
        return given;
      });
      Answer answer = Answer::Ok;
      std::thread worker([&] {
        answer = Ask(Question{"Abbrechen?", QuestionKind::Confirmation, QuestionButtons::YesNoCancel});
      });
      workerId = worker.get_id();
      worker.join();
      EXPECT_EQ(answer, given);
      EXPECT_EQ(answeredOn, workerId);
      EXPECT_EQ(Ask(Question{"Noch einmal?"}), given);
    }
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(asked, "Noch einmal?");
    // Out of scope the default answers again.
    EXPECT_EQ(Ask(Question{"Wirklich?", QuestionKind::Confirmation, QuestionButtons::YesNo}), Answer::No);
  }
}

TEST(QuestionFacade, WorkerWaitsForTheBoxPumpingItsLoop) {
  FakeWindowThread window;
  CountingResponder headless;
  ScopedResponder scoped(headless.Make());
  for (Answer clicked : {Answer::Yes, Answer::No, Answer::Cancel}) {
    std::optional<Answer> answer;
    std::atomic<bool> answered{false}, ready{false}, pumped{false};
    HandlerRef workerLoop;
    std::thread worker([&] {
      struct Noop : MessageHandler {
        void HandleMessage(const Message&) override {}
      } handler;
      workerLoop = handler.Ref();
      ready = true;
      answer = Ask(Question{"Möchten Sie den Vorgang wirklich abbrechen?", QuestionKind::Confirmation,
                            QuestionButtons::YesNoCancel});
      answered = true;
    });
    while (!ready) std::this_thread::yield();
    // The work pauses, but the worker's own messages keep flowing.
    workerLoop.PostCall([&] { pumped = true; });
    while (!pumped) std::this_thread::yield();
    EXPECT_FALSE(answered);
    const Question shown = window.AnswerBox(clicked);
    worker.join();
    EXPECT_EQ(shown.text, "Möchten Sie den Vorgang wirklich abbrechen?");
    EXPECT_EQ(shown.buttons, QuestionButtons::YesNoCancel);
    EXPECT_EQ(answer, clicked);
  }
  EXPECT_EQ(headless.calls, 0);
}

TEST(QuestionFacade, AskedOnTheWindowThreadTheBoxIsShownInPlace) {
  FakeWindowThread window;
  window.hereAnswer = Answer::No;
  std::optional<Answer> answer;
  WindowThread::Synchronize([&] { answer = Ask(Question{"Weiter?"}); });
  EXPECT_EQ(answer, Answer::No);
  ASSERT_EQ(window.askedHere.size(), 1u);
  EXPECT_EQ(window.askedHere[0].text, "Weiter?");
}

TEST(QuestionFacade, HiddenRunAsksTheResponderNotTheUser) {
  FakeWindowThread window;
  CountingResponder headless;
  headless.answer = Answer::Yes;
  ScopedResponder scoped(headless.Make());
  std::optional<Answer> answer;
  std::thread([&] { answer = Ask(Question{"Möchten Sie den Vorgang abbrechen?"}, /*hidden=*/true); }).join();
  EXPECT_EQ(answer, Answer::Yes);
  EXPECT_EQ(headless.calls, 1);
  EXPECT_TRUE(window.askedHere.empty());
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
    window.GoAway();
    worker.join();
    EXPECT_EQ(answer, Answer::No);
  }
  // A window thread that refuses the call: the responder answers.
  FakeWindowThread refusing;
  refusing.refusePosts = true;
  CountingResponder headless;
  headless.answer = Answer::Ok;
  ScopedResponder scoped(headless.Make());
  std::optional<Answer> answer;
  std::thread([&] { answer = Ask(Question{"Fertig.", QuestionKind::Information, QuestionButtons::Ok}); }).join();
  EXPECT_EQ(answer, Answer::Ok);
  EXPECT_EQ(headless.calls, 1);
}

}  // namespace
}  // namespace kv::platform::ui
