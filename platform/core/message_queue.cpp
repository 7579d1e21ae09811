#include "platform/core/message_queue.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <csignal>

namespace platform {

namespace {

constexpr int kBridgedSignals[] = {SIGTERM, SIGINT, SIGHUP};

// One bit per signal number that has arrived and not yet been posted. The handler does nothing
// but set a bit, which is async-signal-safe for a lock-free atomic.
std::atomic<uint64_t> g_pending_signals{0};
static_assert(std::atomic<uint64_t>::is_always_lock_free);
// The first of them, kept after it was posted.
std::atomic<int> g_first_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void RecordSignal(int signal_number) {
  int none = 0;
  g_first_signal.compare_exchange_strong(none, signal_number, std::memory_order_relaxed);
  g_pending_signals.fetch_or(uint64_t{1} << signal_number, std::memory_order_relaxed);
}

}  // namespace

MessageQueue& MessageQueue::Process() {
  static MessageQueue queue;
  return queue;
}

void MessageQueue::Post(const Message& msg) { queue_.push_back(msg); }

void MessageQueue::TakeSignals() {
  uint64_t bits = g_pending_signals.exchange(0, std::memory_order_relaxed);
  for (int signal_number = 1; bits != 0 && signal_number < 64; ++signal_number) {
    if ((bits & (uint64_t{1} << signal_number)) == 0) continue;
    bits &= ~(uint64_t{1} << signal_number);
    Post({kMsgClose, static_cast<uintptr_t>(signal_number), 0});
  }
}

bool MessageQueue::Peek(Message* msg, PeekMode mode) {
  // The common case in a copy loop: nothing waits. Two loads, no system call.
  if (takes_signals_ && g_pending_signals.load(std::memory_order_relaxed) != 0) TakeSignals();
  if (queue_.empty()) return false;
  *msg = queue_.front();
  if (mode == PeekMode::kRemove) queue_.pop_front();
  return true;
}

void MessageQueue::Dispatch(const Message& msg) {
  for (const auto& [number, handler] : handlers_) {
    if (number == msg.message) {
      // Copy: the handler may replace itself while it runs.
      const Handler running = handler;
      running(msg);
      return;
    }
  }
}

void MessageQueue::ProcessAll() {
  Message msg;
  while (Peek(&msg, PeekMode::kRemove)) Dispatch(msg);
}

void MessageQueue::SetHandler(uint32_t message, Handler handler) {
  auto it = std::find_if(handlers_.begin(), handlers_.end(),
                         [message](const auto& entry) { return entry.first == message; });
  if (!handler) {
    if (it != handlers_.end()) handlers_.erase(it);
  } else if (it != handlers_.end()) {
    it->second = std::move(handler);
  } else {
    handlers_.emplace_back(message, std::move(handler));
  }
}

size_t MessageQueue::size() {
  if (takes_signals_ && g_pending_signals.load(std::memory_order_relaxed) != 0) TakeSignals();
  return queue_.size();
}

bool BridgeTerminationSignals(MessageQueue& queue) {
  queue.takes_signals_ = true;
  struct sigaction action {};
  action.sa_handler = RecordSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a read or write in progress finishes its block
  bool all = true;
  for (int signal_number : kBridgedSignals)
    all = sigaction(signal_number, &action, nullptr) == 0 && all;
  return all;
}

int TerminationSignal() { return g_first_signal.load(std::memory_order_relaxed); }

void ReraiseSignal(int signal_number) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal_number);
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  std::raise(signal_number);
}

}  // namespace platform
