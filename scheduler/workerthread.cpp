#include "scheduler/workerthread.h"

#include <poll.h>

#include <cstdio>
#include <exception>

#include "platform/text.h"

namespace kv {

TWorkerThread::~TWorkerThread() { TerminateAndWait(); }

void TWorkerThread::Start() {
  thread_ = std::thread([this] {
    {
      std::lock_guard lock(mutex_);
      loop_ = platform::MessageLoop::Current().Ref();
    }
    Execute();
    finished_ = true;
  });
}

void TWorkerThread::Terminate() {
  terminated_ = true;
  std::lock_guard lock(mutex_);
  loop_.Wake();
}

void TWorkerThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TWorkerThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

bool TWorkerThread::Sleep(std::chrono::milliseconds span) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + span;
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  while (!terminated_) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return true;
    loop.WaitMessage(static_cast<int>(left.count()));
    loop.ProcessMessages();
  }
  return false;
}

bool TWorkerThread::WaitReadable(int fd, std::chrono::milliseconds span) {
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  const platform::WatchId watch = loop.AddWatch(fd, POLLIN, [](int, short) {});
  if (!terminated_) loop.WaitMessage(static_cast<int>(span.count()));
  loop.RemoveWatch(watch);
  loop.ProcessMessages();
  return !terminated_;
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
