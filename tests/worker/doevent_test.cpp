#include "worker/doevent.h"

#include <gtest/gtest.h>

#include <vector>

namespace worker {
namespace {

using platform::kMsgUser;
using platform::Message;
using platform::MessageQueue;

using Operation = void (DoEvent::*)();

struct Row {
  const char* name;
  int waiting;  // messages 1, 2, ... posted before the calls
  std::vector<Operation> calls;
  std::vector<uintptr_t> dispatched;
  size_t left;  // messages still queued afterwards
};

TEST(DoEventTest, EachOperationHandlesWhatItShould) {
  const Row rows[] = {
      {"every operation on an empty queue does nothing",
       0,
       {&DoEvent::Fastest, &DoEvent::Fast, &DoEvent::Slow, &DoEvent::Slowest},
       {},
       0},
      {"Fastest takes one message at a time", 3, {&DoEvent::Fastest, &DoEvent::Fastest}, {1, 2}, 1},
      {"Fast handles all that wait", 3, {&DoEvent::Fast}, {1, 2, 3}, 0},
      {"Slow dispatches the same message again, leaving it queued",
       3,
       {&DoEvent::Slow, &DoEvent::Slow},
       {1, 1},
       3},
      {"Slowest handles all that wait", 3, {&DoEvent::Slowest}, {1, 2, 3}, 0},
      {"Slowest also sees a message already peeked at",
       1,
       {&DoEvent::Slow, &DoEvent::Slowest},
       {1, 1},
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MessageQueue queue;
    std::vector<uintptr_t> dispatched;
    queue.SetHandler(kMsgUser, [&](const Message& msg) { dispatched.push_back(msg.wparam); });
    for (int i = 1; i <= row.waiting; ++i) queue.Post({kMsgUser, static_cast<uintptr_t>(i), 0});
    DoEvent events(queue);
    for (const Operation call : row.calls) (events.*call)();
    EXPECT_EQ(dispatched, row.dispatched);
    EXPECT_EQ(queue.size(), row.left);
  }
}

}  // namespace
}  // namespace worker
