#include "platform/gui/qtbackend.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "platform/gui/questionbox.h"
#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"

namespace kv::platform::gui {
namespace {

std::atomic<bool> g_boxesToStandardError{false};

// A box's line break is a carriage return, which a terminal would not show.
ui::Answer WriteBox(const ui::Question& question) {
  std::string text = question.text;
  std::replace(text.begin(), text.end(), '\r', '\n');
  std::fprintf(stderr, "%s: %s\n", ui::CaptionOf(question).c_str(), text.c_str());
  return ui::SafeAnswer(question.buttons);
}

QApplication* WidgetApplication() { return qobject_cast<QApplication*>(QCoreApplication::instance()); }

// Stateless: everything it knows it asks Qt, so one object serves the whole
// process, in whichever binary it was installed from.
class QtWindowBackend final : public ui::WindowBackend {
 public:
  bool IsRunning() override { return WidgetApplication() != nullptr && !QCoreApplication::closingDown(); }

  bool IsWindowThread() override {
    QApplication* app = WidgetApplication();
    return app != nullptr && QThread::currentThread() == app->thread();
  }

  // A functor still queued when the application goes away is deleted with
  // its event, unrun.
  bool Post(std::function<void()> fn) override {
    QApplication* app = WidgetApplication();
    if (app == nullptr || QCoreApplication::closingDown()) return false;
    return QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  }

  ui::Answer AskHere(const ui::Question& question) override {
    if (g_boxesToStandardError) return WriteBox(question);
    std::unique_ptr<QMessageBox> box(NewQuestionBox(question));
    box->exec();
    return AnswerOf(*box, question);
  }

  // The box owns `answered` through its connection: deleting the box
  // unanswered destroys it uncalled.
  void Open(const ui::Question& question, std::function<void(ui::Answer)> answered) override {
    if (g_boxesToStandardError) return answered(WriteBox(question));
    QMessageBox* box = NewQuestionBox(question);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, question, answered = std::move(answered)] { answered(AnswerOf(*box, question)); });
    box->show();
  }
};

}  // namespace

void InstallQtWindowBackend() {
  // Never destroyed: workers may still reach it while statics go at exit.
  static auto* backend = new QtWindowBackend;
  ui::InstallWindowBackend(backend);
}

void SetBoxesToStandardError(bool on) { g_boxesToStandardError = on; }

}  // namespace kv::platform::gui
