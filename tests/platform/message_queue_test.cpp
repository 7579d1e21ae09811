#include "platform/core/message_queue.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>
#include <vector>

namespace platform {
namespace {

Message Msg(uint32_t number, uintptr_t w = 0) { return {number, w, 0}; }

TEST(MessageQueueTest, PeekTakesOldestFirstAndNoRemoveLeavesIt) {
  MessageQueue q;
  Message m;
  EXPECT_FALSE(q.Peek(&m, PeekMode::kRemove));
  q.Post(Msg(kMsgUser, 1));
  q.Post(Msg(kMsgUser, 2));
  ASSERT_TRUE(q.Peek(&m, PeekMode::kNoRemove));
  EXPECT_EQ(m.wparam, 1u);
  ASSERT_TRUE(q.Peek(&m, PeekMode::kRemove));
  EXPECT_EQ(m.wparam, 1u);
  ASSERT_TRUE(q.Peek(&m, PeekMode::kRemove));
  EXPECT_EQ(m.wparam, 2u);
  EXPECT_FALSE(q.Peek(&m, PeekMode::kRemove));
}

TEST(MessageQueueTest, DispatchReachesTheHandlerOfItsNumberOnly) {
  MessageQueue q;
  std::vector<uintptr_t> user, close;
  q.SetHandler(kMsgUser, [&](const Message& m) { user.push_back(m.wparam); });
  q.SetHandler(kMsgClose, [&](const Message& m) { close.push_back(m.wparam); });
  q.Dispatch(Msg(kMsgUser, 5));
  q.Dispatch(Msg(kMsgClose, 6));
  q.Dispatch(Msg(kMsgUser + 1, 7));  // no handler: dropped
  EXPECT_EQ(user, std::vector<uintptr_t>{5});
  EXPECT_EQ(close, std::vector<uintptr_t>{6});

  q.SetHandler(kMsgUser, [&](const Message& m) { close.push_back(100 + m.wparam); });
  q.Dispatch(Msg(kMsgUser, 1));
  q.SetHandler(kMsgClose, nullptr);
  q.Dispatch(Msg(kMsgClose, 2));
  EXPECT_EQ(user, std::vector<uintptr_t>{5});
  EXPECT_EQ(close, (std::vector<uintptr_t>{6, 101}));
}

TEST(MessageQueueTest, ProcessAllAlsoHandlesMessagesPostedWhileProcessing) {
  MessageQueue q;
  std::vector<uintptr_t> seen;
  q.SetHandler(kMsgUser, [&](const Message& m) {
    seen.push_back(m.wparam);
    if (m.wparam < 3) q.Post(Msg(kMsgUser, m.wparam + 1));
  });
  q.Post(Msg(kMsgUser, 1));
  q.ProcessAll();
  EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3}));
  EXPECT_EQ(q.size(), 0u);
}

TEST(MessageQueueTest, StatusTellsWaitingAndNewlyAdded) {
  MessageQueue q;
  EXPECT_EQ(q.Status(kQsAllEvents), 0u);
  q.Post(Msg(kMsgUser));
  EXPECT_EQ(q.Status(kQsAllEvents), (kQsPostMessage << 16) | kQsPostMessage);
  // Looked at once: still waiting, no longer new.
  EXPECT_EQ(q.Status(kQsAllEvents), kQsPostMessage << 16);
  EXPECT_EQ(q.Status(0), 0u);  // masked out
  Message m;
  q.Peek(&m, PeekMode::kRemove);
  EXPECT_EQ(q.Status(kQsAllEvents), 0u);
}

class SignalBridgeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
  }
};

// In a child: the first signal stays recorded for the process's life.
TEST_F(SignalBridgeTest, TerminationSignalsBecomeCloseMessages) {
  EXPECT_EXIT(
      {
        MessageQueue q;
        if (!BridgeTerminationSignals(q) || TerminationSignal() != 0) std::exit(1);
        std::vector<uintptr_t> closes;
        q.SetHandler(kMsgClose, [&](const Message& m) { closes.push_back(m.wparam); });
        if (q.size() != 0) std::exit(2);
        std::raise(SIGTERM);  // the process goes on: the handler only records it
        if (q.size() != 1) std::exit(3);
        std::raise(SIGINT);
        std::raise(SIGHUP);
        q.ProcessAll();
        // SIGINT and SIGHUP may arrive in either order; both must come through.
        if (closes.size() != 3 || closes[0] != SIGTERM ||
            closes[1] + closes[2] != SIGINT + SIGHUP) {
          std::exit(4);
        }
        std::exit(TerminationSignal() == SIGTERM ? 0 : 5);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SignalBridgeTest, ReraisedSignalEndsTheProcessWithThatSignal) {
  EXPECT_EXIT(
      {
        MessageQueue q;
        BridgeTerminationSignals(q);
        q.SetHandler(kMsgClose,
                     [](const Message& m) { ReraiseSignal(static_cast<int>(m.wparam)); });
        std::raise(SIGHUP);
        q.ProcessAll();
        std::exit(0);  // not reached when the signal is raised again
      },
      ::testing::KilledBySignal(SIGHUP), "");
}

}  // namespace
}  // namespace platform
