#include "platform/ui/question.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/gui/tests/guitest.h"
#include "platform/msgloop.h"

namespace kv::platform::gui {
namespace {

using test::ProcessEventsUntil;

QMessageBox* OpenBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
  return nullptr;
}

QStringList ButtonTexts(QMessageBox& box) {
  QStringList texts;
  for (QAbstractButton* b : box.buttons()) texts << b->text();
  texts.sort();
  return texts;
}

QAbstractButton* ButtonWithText(QMessageBox& box, const QString& text) {
  for (QAbstractButton* b : box.buttons())
    if (b->text() == text) return b;
  return nullptr;
}

// Counts the headless responder's calls; a box shown means it stays at 0.
struct CountingResponder {
  std::atomic<int> calls{0};
  ui::Answer answer = ui::Answer::Yes;
  ui::QuestionResponder Make() {
    return [this](const ui::Question&) {
      ++calls;
      return answer;
    };
  }
};

class QuestionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::IsHeadlessPass()) GTEST_SKIP() << "needs the QApplication";
  }
};

struct BoxCase {
  const char* name;
  ui::Question question;
  QStringList expectedButtons;  // sorted
  QString expectedCaption;
  QMessageBox::Icon expectedIcon;
  QString click;  // empty: Escape
  ui::Answer expected;
};

TEST_F(QuestionTest, WorkerWaitsForTheBoxAndGetsTheClickedAnswer) {
  const ui::Question abort{"Möchten Sie den Vorgang wirklich abbrechen?", ui::QuestionKind::Confirmation,
                           ui::QuestionButtons::YesNoCancel};
  const ui::Question copyAbort{"Möchten Sie den Vorgang abbrechen?", ui::QuestionKind::Confirmation,
                               ui::QuestionButtons::YesNo};
  const ui::Question failure{"Die Datei fehlt.", ui::QuestionKind::Error, ui::QuestionButtons::Ok, "Kestrovane"};
  const QStringList yesNoCancel{"&Ja", "&Nein", "Abbrechen"};
  const QStringList yesNo{"&Ja", "&Nein"};
  const BoxCase cases[] = {
      {"yes", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "&Ja", ui::Answer::Yes},
      {"no", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "&Nein", ui::Answer::No},
      {"cancel", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "Abbrechen", ui::Answer::Cancel},
      {"escape with cancel", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "", ui::Answer::Cancel},
      {"escape without cancel", copyAbort, yesNo, "Bestätigen", QMessageBox::Question, "", ui::Answer::No},
      {"ok", failure, {"OK"}, "Kestrovane", QMessageBox::Critical, "OK", ui::Answer::Ok},
  };
  CountingResponder headless;
  ui::ScopedResponder scoped(headless.Make());
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ui::Answer> answer;
    std::atomic<bool> answered{false}, ready{false}, pumped{false};
    HandlerRef workerLoop;
    std::thread worker([&] {
      struct Noop : MessageHandler {
        void HandleMessage(const Message&) override {}
      } handler;
      workerLoop = handler.Ref();
      ready = true;
      answer = ui::Ask(c.question);
      answered = true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return OpenBox() != nullptr; }));
    QMessageBox& box = *OpenBox();
    // The work pauses, but the worker's own messages keep flowing.
    ASSERT_TRUE(ready.load());
    workerLoop.PostCall([&] { pumped = true; });
    ASSERT_TRUE(ProcessEventsUntil([&] { return pumped.load(); }));
    EXPECT_FALSE(answered.load());

    EXPECT_EQ(box.windowTitle(), c.expectedCaption);
    EXPECT_EQ(box.text(), QString::fromStdString(c.question.text));
    EXPECT_EQ(box.icon(), c.expectedIcon);
    EXPECT_EQ(ButtonTexts(box), c.expectedButtons);
    ASSERT_NE(box.defaultButton(), nullptr);
    EXPECT_EQ(box.defaultButton()->text(), c.expectedButtons.contains("&Ja") ? "&Ja" : "OK");
    QAbstractButton* button = c.click.isEmpty() ? box.escapeButton() : ButtonWithText(box, c.click);
    ASSERT_NE(button, nullptr);
    button->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return answered.load(); }));
    worker.join();
    EXPECT_EQ(answer, c.expected);
    ASSERT_TRUE(ProcessEventsUntil([] { return OpenBox() == nullptr; }));
  }
  EXPECT_EQ(headless.calls, 0);
}

TEST_F(QuestionTest, AskedOnTheWindowThreadShowsTheBoxInPlace) {
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [] {
    if (QMessageBox* box = OpenBox()) ButtonWithText(*box, "&Nein")->click();
  });
  clicker.start(5);
  EXPECT_EQ(ui::Ask(ui::Question{"Weiter?", ui::QuestionKind::Confirmation, ui::QuestionButtons::YesNo}),
            ui::Answer::No);
}

TEST_F(QuestionTest, HiddenRunAsksTheResponderNotTheUser) {
  CountingResponder headless;
  headless.answer = ui::Answer::Yes;
  ui::ScopedResponder scoped(headless.Make());
  std::optional<ui::Answer> answer;
  std::thread worker([&] {
    answer = ui::Ask(ui::Question{"Möchten Sie den Vorgang abbrechen?"}, /*hidden=*/true);
  });
  worker.join();  // no box: nothing to serve on the window thread
  EXPECT_EQ(answer, ui::Answer::Yes);
  EXPECT_EQ(headless.calls, 1);
  EXPECT_EQ(OpenBox(), nullptr);
}

}  // namespace
}  // namespace kv::platform::gui
