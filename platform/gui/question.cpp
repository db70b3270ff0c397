#include "platform/gui/question.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/gui/windowthread.h"
#include "platform/gui/windowthread_p.h"
#include "platform/msgloop.h"

namespace kv::platform::gui {
namespace {

std::mutex g_responderMutex;
QuestionResponder g_responder;  // empty: SafeAnswer

Answer AskHeadless(const Question& question) {
  QuestionResponder responder;
  {
    std::lock_guard lock(g_responderMutex);
    responder = g_responder;
  }
  return responder ? responder(question) : SafeAnswer(question.buttons);
}

QMessageBox::Icon IconOf(QuestionKind kind) {
  switch (kind) {
    case QuestionKind::Information: return QMessageBox::Information;
    case QuestionKind::Warning: return QMessageBox::Warning;
    case QuestionKind::Error: return QMessageBox::Critical;
    case QuestionKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

struct ButtonSpec {
  QMessageBox::StandardButton button;
  const char* text;
  Answer answer;
};

constexpr ButtonSpec kYes{QMessageBox::Yes, "&Ja", Answer::Yes};
constexpr ButtonSpec kNo{QMessageBox::No, "&Nein", Answer::No};
constexpr ButtonSpec kCancel{QMessageBox::Cancel, "Abbrechen", Answer::Cancel};
constexpr ButtonSpec kOk{QMessageBox::Ok, "OK", Answer::Ok};

std::vector<ButtonSpec> ButtonsOf(QuestionButtons buttons) {
  switch (buttons) {
    case QuestionButtons::Ok: return {kOk};
    case QuestionButtons::OkCancel: return {kOk, kCancel};
    case QuestionButtons::YesNo: return {kYes, kNo};
    case QuestionButtons::YesNoCancel: return {kYes, kNo, kCancel};
  }
  return {kOk};
}

// The box as the class library showed it: first button default, Escape the
// safe one.
QMessageBox* MakeBox(const Question& question) {
  auto* box = new QMessageBox(IconOf(question.kind), QString::fromStdString(CaptionOf(question)),
                              QString::fromStdString(question.text));
  const std::vector<ButtonSpec> specs = ButtonsOf(question.buttons);
  for (const ButtonSpec& spec : specs) {
    QPushButton* button = box->addButton(spec.button);
    button->setText(QString::fromUtf8(spec.text));
  }
  box->setDefaultButton(specs.front().button);
  for (const ButtonSpec& spec : specs)
    if (spec.answer == SafeAnswer(question.buttons)) box->setEscapeButton(box->button(spec.button));
  return box;
}

Answer AnswerOf(QMessageBox& box, const Question& question) {
  const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
  for (const ButtonSpec& spec : ButtonsOf(question.buttons))
    if (spec.button == clicked) return spec.answer;
  return SafeAnswer(question.buttons);
}

// Shared by a worker waiting for its answer and the box on the window
// thread. When the box or the call that makes it is destroyed without an
// answer (the application went away), the guard answers safely.
struct PendingAnswer {
  std::atomic<bool> done{false};
  Answer answer = Answer::Cancel;  // written before done is set
  LoopRef waiter;

  void Finish(Answer a) {
    if (done.load(std::memory_order_acquire)) return;
    answer = a;
    done.store(true, std::memory_order_release);
    waiter.Wake();
  }
};

struct AnswerGuard {
  AnswerGuard(std::shared_ptr<PendingAnswer> p, Answer f) : pending(std::move(p)), fallback(f) {}
  AnswerGuard(const AnswerGuard&) = delete;
  AnswerGuard& operator=(const AnswerGuard&) = delete;
  ~AnswerGuard() { pending->Finish(fallback); }
  std::shared_ptr<PendingAnswer> pending;
  Answer fallback;
};

Answer AskOnWindowThread(const Question& question) {
  std::unique_ptr<QMessageBox> box(MakeBox(question));
  box->exec();
  return AnswerOf(*box, question);
}

Answer AskFromWorker(const Question& question) {
  auto pending = std::make_shared<PendingAnswer>();
  pending->waiter = MessageLoop::Current().Ref();
  auto guard = std::make_shared<AnswerGuard>(pending, SafeAnswer(question.buttons));
  const bool queued = WindowThread::Post([guard, question] {
    QMessageBox* box = MakeBox(question);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [guard, box, question] {
      guard->pending->Finish(AnswerOf(*box, question));
    });
    box->show();
  });
  guard.reset();
  if (!queued) return AskHeadless(question);
  detail::PumpUntil(pending->done);
  return pending->answer;
}

}  // namespace

Answer SafeAnswer(QuestionButtons buttons) {
  switch (buttons) {
    case QuestionButtons::Ok: return Answer::Ok;
    case QuestionButtons::OkCancel: return Answer::Cancel;
    case QuestionButtons::YesNo: return Answer::No;
    case QuestionButtons::YesNoCancel: return Answer::Cancel;
  }
  return Answer::Cancel;
}

std::string CaptionOf(const Question& question) {
  if (!question.caption.empty()) return question.caption;
  switch (question.kind) {
    case QuestionKind::Information: return "Information";
    case QuestionKind::Warning: return "Warnung";
    case QuestionKind::Error: return "Fehler";
    case QuestionKind::Confirmation: return "Bestätigen";
  }
  return {};
}

QuestionResponder SetHeadlessResponder(QuestionResponder responder) {
  std::lock_guard lock(g_responderMutex);
  return std::exchange(g_responder, std::move(responder));
}

Answer Ask(const Question& question, bool hidden) {
  if (hidden || !WindowThread::HasWindowThread()) return AskHeadless(question);
  if (WindowThread::IsWindowThread()) return AskOnWindowThread(question);
  return AskFromWorker(question);
}

}  // namespace kv::platform::gui
