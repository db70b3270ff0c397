#pragma once
// Questions and messages that worker code asks the user, as the class
// library's message dialogs did: the worker waits for the answer while it
// keeps pumping its own message loop, so the work pauses exactly as long as
// the box is open. The window layer's backend shows the box on the window
// thread, application-modal, with German button texts ("&Ja", "&Nein",
// "Abbrechen", "OK"); this facade needs no toolkit.
//
// Headless (no window thread, or the caller says its run is hidden) a
// replaceable responder answers instead. The default responder gives the
// safe answer: Cancel where the box has it, else No, else OK; so a hidden
// run is never cancelled and never confirms anything by itself.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv::platform::ui {

enum class QuestionKind { Information, Warning, Error, Confirmation };
enum class QuestionButtons { Ok, OkCancel, YesNo, YesNoCancel };
// Numbered as the class library's modal results.
enum class Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct Question {
  Question() = default;
  explicit Question(std::string text, QuestionKind kind = QuestionKind::Confirmation,
                    QuestionButtons buttons = QuestionButtons::YesNo, std::string caption = {})
      : text(std::move(text)), kind(kind), buttons(buttons), caption(std::move(caption)) {}

  std::string text;
  QuestionKind kind = QuestionKind::Confirmation;
  QuestionButtons buttons = QuestionButtons::YesNo;
  // Empty: the kind's caption ("Bestätigen", "Information", "Warnung",
  // "Fehler").
  std::string caption;
};

// Asks the question and returns the answer; any thread. On a worker the
// call waits pumping the worker's message loop. Escape or closing the box
// answers Cancel where the box has it, else No, else OK. When the
// application goes away while the box is open, the headless default answers.
Answer Ask(const Question& question, bool hidden = false);

using QuestionResponder = std::function<Answer(const Question&)>;
// Replaces the headless responder for the whole process and returns the one
// it replaces; an empty responder restores the default. Called on the
// asking thread, so it must be thread-safe when runs ask concurrently.
QuestionResponder SetHeadlessResponder(QuestionResponder responder);
// Installs a responder for a scope (tests).
class ScopedResponder {
 public:
  explicit ScopedResponder(QuestionResponder responder)
      : previous_(SetHeadlessResponder(std::move(responder))) {}
  ~ScopedResponder() { SetHeadlessResponder(std::move(previous_)); }
  ScopedResponder(const ScopedResponder&) = delete;
  ScopedResponder& operator=(const ScopedResponder&) = delete;

 private:
  QuestionResponder previous_;
};

// The default headless answer for a set of buttons.
Answer SafeAnswer(QuestionButtons buttons);

// The caption shown for a question.
std::string CaptionOf(const Question& question);

// A button of a box: what it says and what it answers.
struct QuestionButton {
  const char* text;
  Answer answer;
};
// The buttons of a box in the order shown; the first is the default.
std::vector<QuestionButton> ButtonsOf(QuestionButtons buttons);

}  // namespace kv::platform::ui
