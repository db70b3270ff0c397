#pragma once
// The window thread: the thread that owns the widgets. Worker threads never
// touch a widget; they hand calls to that thread through the facade below.
// The facade knows no toolkit: a window layer registers a WindowBackend for
// the process (the Qt one: platform/gui/qtbackend.h), and until it does, or
// while its application is not running, everything runs headless. The
// facade lives in the platform layer, so the backend and the headless
// responder exist once per process even where a program and the server
// libraries it loads are separate binaries.
//
// The program creates its application on the main thread before it starts
// any worker, and ends every worker (in a nested event loop, never a
// blocking wait) before it destroys the application.
#include <functional>

namespace kv::platform::ui {

struct Question;
enum class Answer;

// What a window layer provides. Every method may be called from any thread
// unless it says otherwise.
class WindowBackend {
 public:
  // True while the application runs and is not closing down.
  virtual bool IsRunning() = 0;
  // True when the caller runs on the window thread.
  virtual bool IsWindowThread() = 0;
  // Queues fn to run on the window thread, in posting order; false when it
  // cannot be queued. A call that never runs (the application went away
  // with it still queued) is destroyed unrun.
  virtual bool Post(std::function<void()> fn) = 0;
  // Window thread: shows the question application-modal and returns the
  // answer, serving the window thread's events meanwhile.
  virtual Answer AskHere(const Question& question) = 0;
  // Window thread: opens the question application-modal and returns at
  // once; `answered` runs on the window thread with the answer. When the box
  // goes away unanswered, `answered` is destroyed without being called.
  virtual void Open(const Question& question, std::function<void(Answer)> answered) = 0;

 protected:
  ~WindowBackend() = default;
};

// Registers the backend for the whole process and returns the one it
// replaces; nullptr makes everything headless again. A backend must stay
// valid for as long as calls may reach it: in a program, for the rest of the
// process.
WindowBackend* InstallWindowBackend(WindowBackend* backend);

class WindowThread {
 public:
  // True while a backend is installed and its application runs. Without it
  // (tests, programs without a display) models run headless.
  static bool HasWindowThread();
  // True when the caller runs on the window thread.
  static bool IsWindowThread();

  // Queues fn to run on the window thread, in posting order. Without a
  // window thread the call is dropped and Post returns false; a call still
  // queued when the application goes away is dropped too. An exception
  // thrown by fn is reported on stderr and goes no further.
  static bool Post(std::function<void()> fn);

  // Runs fn on the window thread and returns when it has run. On the
  // window thread it runs directly. From a worker the caller keeps pumping
  // its own message loop (platform/msgloop.h) while it waits, so messages
  // posted to its handlers keep flowing. Without a window thread fn runs
  // directly on the caller: there is no other thread to hand it to, and the
  // work it stands for must still happen. An exception thrown by fn is
  // rethrown in the caller. False when fn could not run because the
  // application went away before it was served.
  static bool Synchronize(const std::function<void()>& fn);
};

}  // namespace kv::platform::ui
