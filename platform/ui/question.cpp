#include "platform/ui/question.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/msgloop.h"
#include "platform/ui/windowthread.h"
#include "platform/ui/windowthread_p.h"

namespace kv::platform::ui {
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

// Shared by a worker waiting for its answer and the box on the window
// thread. When the box or the call that opens it is destroyed without an
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

Answer AskFromWorker(WindowBackend& backend, const Question& question) {
  auto pending = std::make_shared<PendingAnswer>();
  pending->waiter = MessageLoop::Current().Ref();
  auto guard = std::make_shared<AnswerGuard>(pending, SafeAnswer(question.buttons));
  const bool queued = backend.Post([&backend, guard, question] {
    backend.Open(question, [guard](Answer answer) { guard->pending->Finish(answer); });
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

std::vector<QuestionButton> ButtonsOf(QuestionButtons buttons) {
  constexpr QuestionButton kYes{"&Ja", Answer::Yes};
  constexpr QuestionButton kNo{"&Nein", Answer::No};
  constexpr QuestionButton kCancel{"Abbrechen", Answer::Cancel};
  constexpr QuestionButton kOk{"OK", Answer::Ok};
  switch (buttons) {
    case QuestionButtons::Ok: return {kOk};
    case QuestionButtons::OkCancel: return {kOk, kCancel};
    case QuestionButtons::YesNo: return {kYes, kNo};
    case QuestionButtons::YesNoCancel: return {kYes, kNo, kCancel};
  }
  return {kOk};
}

QuestionResponder SetHeadlessResponder(QuestionResponder responder) {
  std::lock_guard lock(g_responderMutex);
  return std::exchange(g_responder, std::move(responder));
}

Answer Ask(const Question& question, bool hidden) {
  WindowBackend* backend = hidden ? nullptr : detail::RunningBackend();
  if (backend == nullptr) return AskHeadless(question);
  if (backend->IsWindowThread()) return backend->AskHere(question);
  return AskFromWorker(*backend, question);
}

}  // namespace kv::platform::ui
