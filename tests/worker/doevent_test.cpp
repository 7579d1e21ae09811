#include "worker/doevent.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace worker {
namespace {

using platform::kMsgUser;
using platform::Message;
using platform::MessageQueue;

struct Row {
  const char* name;
  std::function<void(DoEvent&)> call;
  int waiting;                        // messages posted before the call
  std::vector<uintptr_t> dispatched;  // after one call
  size_t left;                        // messages still queued after one call
};

TEST(DoEventTest, EachOperationHandlesWhatItShould) {
  const std::vector<Row> rows = {
      {"Fastest, empty", &DoEvent::Fastest, 0, {}, 0},
      {"Fast, empty", &DoEvent::Fast, 0, {}, 0},
      {"Slow, empty", &DoEvent::Slow, 0, {}, 0},
      {"Slowest, empty", &DoEvent::Slowest, 0, {}, 0},
      {"Fastest, three", &DoEvent::Fastest, 3, {1}, 2},
      {"Fast, three", &DoEvent::Fast, 3, {1, 2, 3}, 0},
      {"Slow, three", &DoEvent::Slow, 3, {1}, 3},
      {"Slowest, three", &DoEvent::Slowest, 3, {1, 2, 3}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MessageQueue q;
    std::vector<uintptr_t> dispatched;
    q.SetHandler(kMsgUser, [&](const Message& m) { dispatched.push_back(m.wparam); });
    for (int i = 1; i <= row.waiting; ++i) q.Post({kMsgUser, static_cast<uintptr_t>(i), 0});
    DoEvent events(q);
    row.call(events);
    EXPECT_EQ(dispatched, row.dispatched);
    EXPECT_EQ(q.size(), row.left);
  }
}

TEST(DoEventTest, SlowSeesTheSameMessageAgainAndFastestGoesOnByOne) {
  MessageQueue q;
  std::vector<uintptr_t> dispatched;
  q.SetHandler(kMsgUser, [&](const Message& m) { dispatched.push_back(m.wparam); });
  for (uintptr_t i = 1; i <= 3; ++i) q.Post({kMsgUser, i, 0});
  DoEvent events(q);
  events.Slow();
  events.Slow();
  EXPECT_EQ(dispatched, (std::vector<uintptr_t>{1, 1}));
  events.Fastest();
  events.Fastest();
  EXPECT_EQ(dispatched, (std::vector<uintptr_t>{1, 1, 1, 2}));
  EXPECT_EQ(q.size(), 1u);
}

// A message that was already looked at is no longer "new", but it still waits.
TEST(DoEventTest, SlowestHandlesMessagesAlreadyPeekedAt) {
  MessageQueue q;
  int handled = 0;
  q.SetHandler(kMsgUser, [&](const Message&) { ++handled; });
  q.Post({kMsgUser, 0, 0});
  DoEvent events(q);
  events.Slow();     // peeks and dispatches, leaves it queued
  events.Slowest();  // must still see it waiting
  EXPECT_EQ(handled, 2);
  EXPECT_EQ(q.size(), 0u);
}

}  // namespace
}  // namespace worker
