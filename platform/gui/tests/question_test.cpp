// Questions answered through the real message box, from a worker (the box
// is opened on the window thread while the worker waits) and on the window
// thread itself.
#include "platform/ui/question.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "platform/gui/tests/guitest.h"
#include "platform/msgloop.h"

namespace kv::platform::gui {
namespace {

using test::ProcessEventsUntil;
using QuestionTest = test::WithApplication;

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

TEST_F(QuestionTest, WorkerWaitsForTheBoxAndGetsTheClickedAnswer) {
  using ui::Answer, ui::QuestionKind, ui::QuestionButtons;
  const ui::Question abort{"Möchten Sie den Vorgang wirklich abbrechen?", QuestionKind::Confirmation,
                           QuestionButtons::YesNoCancel};
  const ui::Question copyAbort{"Möchten Sie den Vorgang abbrechen?", QuestionKind::Confirmation,
                               QuestionButtons::YesNo};
  const ui::Question failure{"Die Datei fehlt.", QuestionKind::Error, QuestionButtons::Ok, "Kestrovane"};
  const QStringList yesNoCancel{"&Ja", "&Nein", "Abbrechen"}, yesNo{"&Ja", "&Nein"};
  const struct {
    const char* name;
    ui::Question question;
    QStringList buttons;  // sorted
    QString caption;
    QMessageBox::Icon icon;
    QString click;  // empty: Escape
    Answer expected;
  } cases[] = {
      {"yes", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "&Ja", Answer::Yes},
      {"no", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "&Nein", Answer::No},
      {"cancel", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "Abbrechen", Answer::Cancel},
      {"escape with cancel", abort, yesNoCancel, "Bestätigen", QMessageBox::Question, "", Answer::Cancel},
      {"escape without cancel", copyAbort, yesNo, "Bestätigen", QMessageBox::Question, "", Answer::No},
      {"ok", failure, {"OK"}, "Kestrovane", QMessageBox::Critical, "OK", Answer::Ok},
  };
  std::atomic<int> headlessCalls{0};
  ui::ScopedResponder scoped([&](const ui::Question&) { return ++headlessCalls, Answer::Yes; });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Answer> answer;
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

    EXPECT_EQ(box.windowTitle(), c.caption);
    EXPECT_EQ(box.text(), QString::fromStdString(c.question.text));
    EXPECT_EQ(box.icon(), c.icon);
    EXPECT_EQ(ButtonTexts(box), c.buttons);
    ASSERT_NE(box.defaultButton(), nullptr);
    EXPECT_EQ(box.defaultButton()->text(), c.buttons.contains("&Ja") ? "&Ja" : "OK");
    QAbstractButton* button = c.click.isEmpty() ? box.escapeButton() : ButtonWithText(box, c.click);
    ASSERT_NE(button, nullptr);
    button->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return answered.load(); }));
    worker.join();
    EXPECT_EQ(answer, c.expected);
    ASSERT_TRUE(ProcessEventsUntil([] { return OpenBox() == nullptr; }));
  }
  EXPECT_EQ(headlessCalls, 0);
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

}  // namespace
}  // namespace kv::platform::gui
