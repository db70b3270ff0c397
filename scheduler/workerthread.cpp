#include "scheduler/workerthread.h"

#include <cstdio>
#include <exception>

#include "platform/text.h"

namespace kv {

TWorkerThread::~TWorkerThread() { TerminateAndWait(); }

void TWorkerThread::Start() {
  thread_ = std::thread([this] {
    Execute();
    finished_ = true;
  });
}

void TWorkerThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
}

void TWorkerThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TWorkerThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

bool TWorkerThread::Sleep(std::chrono::milliseconds span) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, span, [this] { return terminated_.load(); });
}

void TWorkerThread::Guarded(const char* what, const std::function<void()>& round) {
  std::string failure;
  try {
    round();
    failing_ = false;
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unbekannter Fehler";
  }
  if (!failing_) std::fprintf(stderr, "Horavex: %s fehlgeschlagen: %s\n", what, platform::OneLine(failure).c_str());
  failing_ = true;
}

}  // namespace kv
