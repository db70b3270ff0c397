#include "platform/ui/windowthread.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "platform/msgloop.h"
#include "platform/ui/windowthread_p.h"

namespace kv::platform::ui {
namespace {

std::atomic<WindowBackend*> g_backend{nullptr};

// Shared by a worker waiting in Synchronize and the call queued for it. The
// call may never run (the application went away with it still queued): then
// its last copy is destroyed unrun and the guard releases the worker.
struct SyncState {
  std::atomic<bool> done{false};
  bool ran = false;  // written before done is set
  std::exception_ptr error;
  LoopRef waiter;

  void Finish(bool hasRun) {
    ran = hasRun;
    done.store(true, std::memory_order_release);
    waiter.Wake();
  }
};

struct SyncGuard {
  explicit SyncGuard(std::shared_ptr<SyncState> s) : state(std::move(s)) {}
  SyncGuard(const SyncGuard&) = delete;
  SyncGuard& operator=(const SyncGuard&) = delete;
  ~SyncGuard() {
    if (!state->done.load(std::memory_order_acquire)) state->Finish(false);
  }
  std::shared_ptr<SyncState> state;
};

}  // namespace

namespace detail {

WindowBackend* RunningBackend() {
  WindowBackend* backend = g_backend.load(std::memory_order_acquire);
  return backend != nullptr && backend->IsRunning() ? backend : nullptr;
}

void PumpUntil(const std::atomic<bool>& done) {
  MessageLoop& loop = MessageLoop::Current();
  while (!done.load(std::memory_order_acquire)) {
    loop.ProcessMessages();
    if (done.load(std::memory_order_acquire)) break;
    loop.WaitMessage(kInfinite);
  }
}

}  // namespace detail

WindowBackend* InstallWindowBackend(WindowBackend* backend) {
  return g_backend.exchange(backend, std::memory_order_acq_rel);
}

bool WindowThread::HasWindowThread() { return detail::RunningBackend() != nullptr; }

bool WindowThread::IsWindowThread() {
  WindowBackend* backend = g_backend.load(std::memory_order_acquire);
  return backend != nullptr && backend->IsWindowThread();
}

bool WindowThread::Post(std::function<void()> fn) {
  WindowBackend* backend = detail::RunningBackend();
  if (backend == nullptr || !fn) return false;
  return backend->Post([fn = std::move(fn)] {
    // Exceptions must not unwind through the toolkit's event loop.
    try {
      fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kestrovane: window thread call failed: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "kestrovane: window thread call failed\n");
    }
  });
}

bool WindowThread::Synchronize(const std::function<void()>& fn) {
  WindowBackend* backend = detail::RunningBackend();
  if (backend == nullptr || backend->IsWindowThread()) {
    fn();
    return true;
  }
  auto state = std::make_shared<SyncState>();
  state->waiter = MessageLoop::Current().Ref();
  auto guard = std::make_shared<SyncGuard>(state);
  const std::function<void()>* call = &fn;  // the caller waits, so fn outlives the call
  const bool queued = backend->Post([guard, call] {
    std::exception_ptr error;
    try {
      (*call)();
    } catch (...) {
      error = std::current_exception();
    }
    guard->state->error = error;
    guard->state->Finish(true);
  });
  guard.reset();
  if (!queued) return false;
  detail::PumpUntil(state->done);
  if (state->error) std::rethrow_exception(state->error);
  return state->ran;
}

}  // namespace kv::platform::ui
