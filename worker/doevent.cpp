#include "worker/doevent.h"

namespace worker {

using platform::PeekMode;

void DoEvent::Fast() {
  if (queue_.Peek(&msg_, PeekMode::kNoRemove)) queue_.ProcessAll();
}

void DoEvent::Slow() {
  if (queue_.Peek(&msg_, PeekMode::kNoRemove)) queue_.Dispatch(msg_);
}

void DoEvent::Slowest() {
  if (queue_.Status(platform::kQsAllEvents) != 0) queue_.ProcessAll();
}

}  // namespace worker
