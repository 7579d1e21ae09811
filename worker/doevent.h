// Keeps a long loop's message queue moving without waiting. The copy loop calls Fastest after
// every block, so a close message stops it after the block in progress.
#pragma once

#include "platform/core/message_queue.h"

namespace worker {

class DoEvent {
 public:
  explicit DoEvent(platform::MessageQueue& queue) : queue_(queue) {}

  // Takes the next message, if any, and dispatches it: at most one per call.
  void Fastest() {
    if (queue_.Peek(&msg_, platform::PeekMode::kRemove)) queue_.Dispatch(msg_);
  }

 private:
  platform::MessageQueue& queue_;
  platform::Message msg_;  // reused by every call
};

}  // namespace worker
