#include "worker/doevent.h"

#include <gtest/gtest.h>

#include <vector>

namespace worker {
namespace {

using platform::kMsgUser;
using platform::Message;

// One message per call, oldest first; an empty queue is no error.
TEST(DoEventTest, FastestHandlesOneWaitingMessagePerCall) {
  platform::MessageQueue queue;
  std::vector<uintptr_t> dispatched;
  queue.SetHandler(kMsgUser, [&](const Message& msg) { dispatched.push_back(msg.wparam); });
  DoEvent events(queue);
  events.Fastest();
  for (uintptr_t i = 1; i <= 3; ++i) queue.Post({kMsgUser, i, 0});
  events.Fastest();
  events.Fastest();
  EXPECT_EQ(dispatched, (std::vector<uintptr_t>{1, 2}));
  EXPECT_EQ(queue.size(), 1u);
}

}  // namespace
}  // namespace worker
