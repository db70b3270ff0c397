#pragma once
// The window thread: the thread that owns the Qt application, where every
// widget lives. Worker threads never touch a widget; they hand calls to this
// thread through the facade below. No Qt type appears here, so the models
// that run on worker threads stay free of Qt.
//
// The program creates its QApplication on the main thread before it starts
// any worker, and ends every worker (in a nested event loop, never a
// blocking wait) before it destroys the application.
#include <functional>

namespace kv::platform::gui {

class WindowThread {
 public:
  // True while a QApplication exists and is not closing down. Without it
  // (tests, programs without a display) models run headless.
  static bool HasWindowThread();
  // True when the caller runs on the window thread.
  static bool IsWindowThread();

  // Queues fn to run on the window thread, in posting order. Without a
  // window thread the call is dropped and Post returns false; a call still
  // queued when the application goes away is dropped too.
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

}  // namespace kv::platform::gui
