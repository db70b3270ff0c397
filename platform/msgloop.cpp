#include "platform/msgloop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <deque>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kv::platform {
namespace {

constexpr unsigned kMinTimerIntervalMs = 10;

uint64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

namespace detail {

struct QueuedItem {
  uint64_t sequence = 0;
  bool toLoop = false;  // a call for the thread itself, not for a handler
  uint32_t slot = 0;
  uint32_t generation = 0;
  Message message;
  std::function<void()> call;
  std::function<bool()> condition;  // checked on the owner thread at delivery
};

struct HandlerSlot {
  MessageHandler* handler = nullptr;
  uint32_t generation = 1;  // 0 never names a live handler
};

struct TimerEntry {
  uint32_t slot = 0;
  uint32_t generation = 0;
  uintptr_t timerId = 0;
  unsigned intervalMs = 0;
  uint64_t dueMs = 0;
};

struct WatchEntry {
  WatchId id = 0;
  int fd = -1;
  short events = 0;
  std::shared_ptr<WatchCallback> callback;  // kept alive while it runs
};

struct LoopCore {
  LoopCore() : owner(std::this_thread::get_id()) {
    eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (eventFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~LoopCore() { close(eventFd); }
  LoopCore(const LoopCore&) = delete;
  LoopCore& operator=(const LoopCore&) = delete;

  // Any thread.
  void Enqueue(QueuedItem item) {
    {
      std::lock_guard lock(mutex);
      item.sequence = nextSequence++;
      queue.push_back(std::move(item));
    }
    Signal();
  }
  void Wake() {
    {
      std::lock_guard lock(mutex);
      woken = true;
    }
    Signal();
  }
  void Signal() const {
    const uint64_t one = 1;
    // A full counter (never in practice) still leaves the fd readable.
    [[maybe_unused]] ssize_t n = write(eventFd, &one, sizeof one);
  }
  void DrainSignal() const {
    uint64_t value;
    [[maybe_unused]] ssize_t n = read(eventFd, &value, sizeof value);
  }

  // Owner thread from here on.
  bool IsOwnerThread() const { return std::this_thread::get_id() == owner; }

  HandlerRef Register(MessageHandler* handler, const std::shared_ptr<LoopCore>& self) {
    assert(IsOwnerThread());
    uint32_t index;
    if (!freeSlots.empty()) {
      index = freeSlots.back();
      freeSlots.pop_back();
    } else {
      index = static_cast<uint32_t>(slots.size());
      slots.emplace_back();
    }
    slots[index].handler = handler;
    HandlerRef ref;
    ref.core_ = self;
    ref.slot_ = index;
    ref.generation_ = slots[index].generation;
    return ref;
  }

  void Unregister(uint32_t index) {
    assert(IsOwnerThread() && "a message handler is destroyed on its own thread");
    HandlerSlot& slot = slots[index];
    slot.handler = nullptr;
    if (++slot.generation == 0) slot.generation = 1;
    freeSlots.push_back(index);
    std::erase_if(timers, [&](const TimerEntry& t) { return t.slot == index; });
  }

  MessageHandler* Lookup(uint32_t index, uint32_t generation) const {
    if (index >= slots.size() || slots[index].generation != generation) return nullptr;
    return slots[index].handler;
  }

  // Takes the oldest item queued before `limit`, if any.
  bool PopBefore(uint64_t limit, QueuedItem& out) {
    std::lock_guard lock(mutex);
    if (queue.empty() || queue.front().sequence >= limit) return false;
    out = std::move(queue.front());
    queue.pop_front();
    return true;
  }
  uint64_t SequenceLimit() {
    std::lock_guard lock(mutex);
    return nextSequence;
  }
  bool HasQueued() {
    std::lock_guard lock(mutex);
    return !queue.empty();
  }
  bool TakeWoken() {
    std::lock_guard lock(mutex);
    return std::exchange(woken, false);
  }

  // True when an item reached a live target.
  bool Deliver(QueuedItem& item);
  int DispatchPass();
  int FireDueTimers();
  bool AnyTimerDue(uint64_t now) const {
    return std::any_of(timers.begin(), timers.end(), [&](const TimerEntry& t) { return t.dueMs <= now; });
  }
  uint64_t NextTimerDue() const {
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (const TimerEntry& t : timers) next = std::min(next, t.dueMs);
    return next;
  }
  // Polls eventfd and watches; runs the callbacks of ready watches.
  // Returns whether any watch callback ran.
  bool PollOnce(int timeoutMs);

  int eventFd = -1;
  const std::thread::id owner;

  std::mutex mutex;  // guards queue, nextSequence, woken
  std::deque<QueuedItem> queue;
  uint64_t nextSequence = 0;
  bool woken = false;

  std::vector<HandlerSlot> slots;
  std::vector<uint32_t> freeSlots;
  std::vector<TimerEntry> timers;
  std::vector<WatchEntry> watches;
  WatchId nextWatchId = 1;
};

bool LoopCore::Deliver(QueuedItem& item) {
  if (item.toLoop) {
    item.call();
    return true;
  }
  MessageHandler* handler = Lookup(item.slot, item.generation);
  if (!handler) return false;
  if (item.condition && !item.condition()) return false;
  if (item.call)
    item.call();
  else
    handler->HandleMessage(item.message);
  return true;
}

int LoopCore::DispatchPass() {
  const uint64_t limit = SequenceLimit();
  int delivered = 0;
  bool found = false;
  QueuedItem item;
  while (PopBefore(limit, item)) {
    found = true;
    if (Deliver(item)) ++delivered;
    item = QueuedItem();  // release the call's captures now
  }
  const int timersFired = FireDueTimers();
  if (!found && timersFired == 0) return -1;
  return delivered + timersFired;
}

int LoopCore::FireDueTimers() {
  const uint64_t now = NowMs();
  std::vector<TimerEntry> due;
  for (const TimerEntry& t : timers)
    if (t.dueMs <= now) due.push_back(t);
  int fired = 0;
  for (const TimerEntry& d : due) {
    // An earlier WM_TIMER of this pass may have killed or reset this one.
    auto it = std::find_if(timers.begin(), timers.end(), [&](const TimerEntry& t) {
      return t.slot == d.slot && t.generation == d.generation && t.timerId == d.timerId;
    });
    if (it == timers.end() || it->dueMs > now) continue;
    it->dueMs = now + it->intervalMs;
    MessageHandler* handler = Lookup(d.slot, d.generation);
    if (!handler) continue;
    ++fired;
    handler->HandleMessage(Message{WM_TIMER, d.timerId, 0});
  }
  return fired;
}

bool LoopCore::PollOnce(int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back({eventFd, POLLIN, 0});
  for (const WatchEntry& w : watches) {
    if (w.events == 0) continue;
    fds.push_back({w.fd, w.events, 0});
    ids.push_back(w.id);
  }
  int r = poll(fds.data(), fds.size(), timeoutMs);
  if (r <= 0) return false;  // time out, or EINTR: the caller looks again
  bool ran = false;
  for (size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    // An earlier callback may have removed or narrowed this watch.
    auto it = std::find_if(watches.begin(), watches.end(),
                           [&](const WatchEntry& w) { return w.id == ids[i - 1]; });
    if (it == watches.end()) continue;
    const short revents = fds[i].revents & (it->events | POLLERR | POLLHUP | POLLNVAL);
    if (revents == 0) continue;
    std::shared_ptr<WatchCallback> callback = it->callback;
    (*callback)(fds[i].fd, revents);
    ran = true;
  }
  return ran;
}

}  // namespace detail

using detail::LoopCore;
using detail::QueuedItem;

// ---- HandlerRef / LoopRef ----

bool HandlerRef::Post(uint32_t id, WParam wParam, LParam lParam) const {
  return PostIf(id, wParam, lParam, nullptr);
}

bool HandlerRef::PostCall(std::function<void()> call) const {
  std::shared_ptr<LoopCore> core = core_.lock();
  if (!core || !call) return false;
  QueuedItem item;
  item.slot = slot_;
  item.generation = generation_;
  item.call = std::move(call);
  core->Enqueue(std::move(item));
  return true;
}

bool HandlerRef::PostIf(uint32_t id, WParam wParam, LParam lParam, std::function<bool()> condition) const {
  std::shared_ptr<LoopCore> core = core_.lock();
  if (!core) return false;
  QueuedItem item;
  item.slot = slot_;
  item.generation = generation_;
  item.message = Message{id, wParam, lParam};
  item.condition = std::move(condition);
  core->Enqueue(std::move(item));
  return true;
}

bool LoopRef::Wake() const {
  std::shared_ptr<LoopCore> core = core_.lock();
  if (!core) return false;
  core->Wake();
  return true;
}

bool LoopRef::PostCall(std::function<void()> call) const {
  std::shared_ptr<LoopCore> core = core_.lock();
  if (!core || !call) return false;
  QueuedItem item;
  item.toLoop = true;
  item.call = std::move(call);
  core->Enqueue(std::move(item));
  return true;
}

// ---- MessageHandler ----

MessageHandler::MessageHandler() : core_(MessageLoop::Current().core_) {
  ref_ = core_->Register(this, core_);
}

MessageHandler::~MessageHandler() { core_->Unregister(ref_.slot_); }

void MessageHandler::SetTimer(uintptr_t timerId, unsigned intervalMs) {
  assert(core_->IsOwnerThread());
  const unsigned interval = std::max(intervalMs, kMinTimerIntervalMs);
  const uint64_t due = NowMs() + interval;
  for (detail::TimerEntry& t : core_->timers) {
    if (t.slot == ref_.slot_ && t.timerId == timerId) {
      t.intervalMs = interval;
      t.dueMs = due;
      return;
    }
  }
  core_->timers.push_back({ref_.slot_, ref_.generation_, timerId, interval, due});
}

void MessageHandler::KillTimer(uintptr_t timerId) {
  assert(core_->IsOwnerThread());
  std::erase_if(core_->timers, [&](const detail::TimerEntry& t) {
    return t.slot == ref_.slot_ && t.timerId == timerId;
  });
}

// ---- MessageLoop ----

MessageLoop::MessageLoop(std::shared_ptr<LoopCore> core) : core_(std::move(core)) {}

MessageLoop& MessageLoop::Current() {
  thread_local std::unique_ptr<MessageLoop> loop;
  if (!loop) loop.reset(new MessageLoop(std::make_shared<LoopCore>()));
  return *loop;
}

int MessageLoop::ProcessMessages() {
  int dispatched = 0;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    if (!core_->watches.empty()) core_->PollOnce(0);
    const int n = core_->DispatchPass();
    if (n < 0) break;
    dispatched += n;
  }
  return dispatched;
}

bool MessageLoop::WaitMessage(int timeoutMs) {
  const bool limited = timeoutMs >= 0;
  const uint64_t deadline = limited ? NowMs() + static_cast<uint64_t>(timeoutMs) : 0;
  for (;;) {
    core_->DrainSignal();
    if (core_->TakeWoken() || core_->HasQueued()) return true;
    const uint64_t now = NowMs();
    if (core_->AnyTimerDue(now)) return true;
    uint64_t until = core_->NextTimerDue();
    if (limited) {
      if (now >= deadline) return false;
      until = std::min(until, deadline);
    }
    int wait = -1;
    if (until != std::numeric_limits<uint64_t>::max())
      wait = static_cast<int>(std::min<uint64_t>(until - now, std::numeric_limits<int>::max()));
    if (core_->PollOnce(wait)) return true;
  }
}

void MessageLoop::Wake() { core_->Wake(); }

LoopRef MessageLoop::Ref() const {
  LoopRef ref;
  ref.core_ = core_;
  return ref;
}

WatchId MessageLoop::AddWatch(int fd, short events, WatchCallback callback) {
  assert(core_->IsOwnerThread());
  const WatchId id = core_->nextWatchId++;
  core_->watches.push_back({id, fd, events, std::make_shared<WatchCallback>(std::move(callback))});
  return id;
}

void MessageLoop::SetWatchEvents(WatchId id, short events) {
  for (detail::WatchEntry& w : core_->watches)
    if (w.id == id) w.events = events;
}

void MessageLoop::RemoveWatch(WatchId id) {
  std::erase_if(core_->watches, [&](const detail::WatchEntry& w) { return w.id == id; });
}

bool MessageLoop::HasPendingWork() {
  return core_->HasQueued() || core_->AnyTimerDue(NowMs());
}

}  // namespace kv::platform
