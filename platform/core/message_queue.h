// The process's message queue: post, peek with or without removal, dispatch and full
// processing. Messages go to the handler
// registered for their number. Single-threaded: only the owning thread touches a queue.
//
// Termination signals (SIGTERM, SIGINT, SIGHUP) reach the queue as a close message once
// BridgeTerminationSignals has been called: the signal handler only records the signal, and the
// message is posted the next time the queue is looked at, so a copy loop hears it at its next
// peek without any system call on the common path.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace platform {

inline constexpr uint32_t kMsgClose = 0x0010;  // wparam: the signal that asked for it, if any
inline constexpr uint32_t kMsgUser = 0x0400;   // first number free for the program's own use

struct Message {
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

enum class PeekMode { kNoRemove = 0, kRemove = 1 };

class MessageQueue {
 public:
  using Handler = std::function<void(const Message&)>;

  // The queue of this process (the worker runs one thread, which owns it).
  static MessageQueue& Process();

  MessageQueue() = default;
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  void Post(const Message& msg);
  // Copies the oldest message into *msg and, with kRemove, takes it off the queue. False when the
  // queue is empty. Never waits.
  bool Peek(Message* msg, PeekMode mode);
  // Calls the handler registered for msg.message; a message without one is dropped.
  void Dispatch(const Message& msg);
  // Takes and dispatches every waiting message, including those posted meanwhile.
  void ProcessAll();

  // Registers (or, with an empty handler, removes) the handler for one message number.
  void SetHandler(uint32_t message, Handler handler);

  size_t size();

  // Turns recorded termination signals into close messages on this queue.
  void TakeSignals();
  bool takes_signals() const { return takes_signals_; }

 private:
  friend bool BridgeTerminationSignals(MessageQueue& queue);

  std::deque<Message> queue_;
  std::vector<std::pair<uint32_t, Handler>> handlers_;
  bool takes_signals_ = false;
};

// Installs handlers for SIGTERM, SIGINT and SIGHUP that post a close message on `queue`. Returns
// false, with errno set, when a handler could not be installed (that signal keeps its action).
bool BridgeTerminationSignals(MessageQueue& queue);

// The first termination signal that arrived since BridgeTerminationSignals, whether or not it has
// reached a queue yet, or 0. Lets a wait outside the queue (a lock held by another process, say)
// give up when the process is asked to end.
int TerminationSignal();

// Restores the default action of `signal` and raises it, so that the process's exit status
// tells that the signal ended it. Returns only if the signal does not end the process.
void ReraiseSignal(int signal);

}  // namespace platform
