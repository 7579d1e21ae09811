#include "platform/core/message_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

// Each message reaches the handler of its number only (none has one for kMsgUser + 1), and none
// once that handler is removed, as FC removes its own when it goes.
TEST(MessageQueueTest, DispatchReachesTheHandlerOfItsNumberOnly) {
  MessageQueue queue;
  std::vector<uintptr_t> users, closes;
  queue.SetHandler(kMsgUser, [&](const Message& user) { users.push_back(user.wparam); });
  queue.SetHandler(kMsgClose, [&](const Message& close) { closes.push_back(close.wparam); });
  for (const uint32_t number : {kMsgUser, kMsgClose, kMsgUser + 1}) queue.Post({number, number, 0});
  queue.ProcessAll();
  queue.SetHandler(kMsgClose, nullptr);
  queue.Dispatch({kMsgClose, 0, 0});
  EXPECT_EQ(users, std::vector<uintptr_t>{kMsgUser});
  EXPECT_EQ(closes, std::vector<uintptr_t>{kMsgClose});
}

}  // namespace
}  // namespace platform
