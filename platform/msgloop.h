#pragma once
// The message loop of a worker thread (run threads above all). Code written
// for a window system expects a per-thread queue: posted messages to window
// objects, WM_TIMER, asynchronous socket notifications, and calls that
// "process pending messages" inside long loops. This is that queue, without
// windows: messages go to MessageHandler objects of the thread.
//
// Every thread gets its loop lazily, on first use. The loop, its handlers,
// its timers and its fd watches belong to that thread: they are created,
// changed, dispatched and destroyed there. Only posting (through a
// HandlerRef or MessageLoop::Wake) is allowed from other threads.
#include <cstdint>
#include <functional>
#include <memory>

namespace kv::platform {

using WParam = uintptr_t;
using LParam = intptr_t;

// Message numbers as the window system numbers them, for code that keeps its
// own constants relative to them.
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_USER = 0x0400;

struct Message {
  uint32_t id = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

// Waiting without limit.
inline constexpr int kInfinite = -1;

namespace detail {
struct LoopCore;
}
class MessageHandler;

// A value that names a handler on its thread and can be copied to any
// thread. Posting to a handler that has been destroyed (or whose thread has
// ended) is silently dropped, as a message to a destroyed window is: the
// handler's slot carries a generation that no later handler reuses.
class HandlerRef {
 public:
  HandlerRef() = default;

  // Queues a message for the handler; thread-safe; wakes a waiting loop.
  // False when the handler's thread has ended (the message is dropped). A
  // message to a handler destroyed meanwhile is dropped at dispatch.
  bool Post(uint32_t id, WParam wParam = 0, LParam lParam = 0) const;
  // Queues a call that runs on the handler's thread, in order with its
  // messages, only while the handler still lives.
  bool PostCall(std::function<void()> call) const;
  // Queues a message that is delivered only if `condition`, run on the
  // handler's thread right before delivery, returns true; otherwise it is
  // dropped. The condition may also prepare what the handler will read
  // (an asynchronous answer written into its buffer). Posters use it for
  // notices about a resource that may be gone by the time they are served,
  // such as a socket closed and its number reused meanwhile.
  bool PostIf(uint32_t id, WParam wParam, LParam lParam, std::function<bool()> condition) const;

  bool IsNull() const { return !core_.lock(); }

 private:
  friend class MessageHandler;
  friend struct detail::LoopCore;
  std::weak_ptr<detail::LoopCore> core_;
  uint32_t slot_ = 0;
  uint32_t generation_ = 0;
};

// A value that names a thread's loop and can be copied to any thread.
class LoopRef {
 public:
  LoopRef() = default;
  // Ends the loop's current or next WaitMessage. False when its thread ended.
  bool Wake() const;
  // Queues a call that runs on the loop's thread, in order with its
  // messages. False (and dropped) when the thread has ended.
  bool PostCall(std::function<void()> call) const;

 private:
  friend class MessageLoop;
  std::weak_ptr<detail::LoopCore> core_;
};

// Base of every object that receives messages. It registers itself with the
// loop of the thread that constructs it; destroy it on that thread: messages
// and timers still queued for it are then dropped.
class MessageHandler {
 public:
  MessageHandler();
  virtual ~MessageHandler();
  MessageHandler(const MessageHandler&) = delete;
  MessageHandler& operator=(const MessageHandler&) = delete;

  HandlerRef Ref() const { return ref_; }

  // WM_TIMER with wParam = timerId every intervalMs (at least 10 ms) while the
  // loop processes messages. Setting an id that runs restarts it with the new
  // interval. Timer messages are not queued: a due timer is seen when the
  // loop looks for work, so a slow consumer gets one WM_TIMER per expiry it
  // looks at, never a backlog. A killed timer never fires again, not even
  // when it was due before KillTimer.
  void SetTimer(uintptr_t timerId, unsigned intervalMs);
  void KillTimer(uintptr_t timerId);

 protected:
  virtual void HandleMessage(const Message& message) = 0;

 private:
  friend struct detail::LoopCore;
  std::shared_ptr<detail::LoopCore> core_;
  HandlerRef ref_;
};

// Readiness of a watched file descriptor (poll(2) event bits).
using WatchCallback = std::function<void(int fd, short revents)>;
using WatchId = uint64_t;

class MessageLoop {
 public:
  // The calling thread's loop, created on first use.
  static MessageLoop& Current();

  // Dispatches pending messages and due timers until a pass finds nothing.
  // A pass takes what is queued when it starts, in posting order, then the
  // timers that are due, each once; messages posted while a pass runs (by
  // handlers or by other threads) wait for the next pass. So a handler that
  // keeps re-posting itself cannot starve messages queued before its repost,
  // and the number of passes is capped (kMaxPasses): a chain that never ends
  // leaves its tail queued for the next call instead of hanging the caller.
  // Ready fd watches are polled (without waiting) at the start of each pass.
  // Returns the number of messages dispatched (timer messages included).
  // Re-entrant: a handler may call it; the nested call goes on with the same
  // queue in the same order. An exception from a handler leaves this call
  // with that message consumed and the rest still queued.
  static constexpr int kMaxPasses = 100;
  int ProcessMessages();

  // Blocks until a message is queued, a timer is due, a watched fd is ready
  // (its callback has then run) or Wake() was called; at most timeoutMs
  // (kInfinite: no limit). Returns at once when something is pending.
  // False when the time ran out with nothing to do.
  bool WaitMessage(int timeoutMs = kInfinite);

  // Ends the current or next WaitMessage of this loop; thread-safe.
  void Wake();
  // A handle other threads use to wake this loop or to run calls on it.
  LoopRef Ref() const;

  // Registration hook for sockets: the fd is polled by WaitMessage and by
  // each pass of ProcessMessages for the poll(2) events given; the callback
  // runs on this thread with the revents. It is level-triggered: a callback
  // that neither consumes the readiness nor narrows the events with
  // SetWatchEvents is called again on the next poll. A callback may add,
  // change and remove watches, its own included.
  WatchId AddWatch(int fd, short events, WatchCallback callback);
  void SetWatchEvents(WatchId id, short events);
  void RemoveWatch(WatchId id);

  // True when posted messages wait or a timer is due.
  bool HasPendingWork();

 private:
  friend class MessageHandler;
  explicit MessageLoop(std::shared_ptr<detail::LoopCore> core);
  std::shared_ptr<detail::LoopCore> core_;
};

}  // namespace kv::platform
