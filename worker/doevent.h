// Keeps a long loop's message queue moving without waiting: four operations of different
// thoroughness. The copy loop calls Fastest after every block.
#pragma once

#include "platform/core/message_queue.h"

namespace worker {

class DoEvent {
 public:
  explicit DoEvent(platform::MessageQueue& queue) : queue_(queue) {}

  // Takes the next message, if any, translates and dispatches it: at most one per call.
  void Fastest() {
    if (queue_.Peek(&msg_, platform::PeekMode::kRemove)) {
      queue_.Translate(msg_);
      queue_.Dispatch(msg_);
    }
  }
  // If a message waits, handles every waiting message.
  void Fast();
  // If a message waits, dispatches it but leaves it in the queue.
  void Slow();
  // If the queue status shows any event, handles every waiting message.
  void Slowest();

 private:
  platform::MessageQueue& queue_;
  platform::Message msg_;  // reused by every call
};

}  // namespace worker
