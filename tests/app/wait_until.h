// Waiting for a condition while the event loop runs, in GoogleTest: QTRY_VERIFY reports through
// QTest's own log, which GoogleTest never reads, so a timed-out QTRY would pass unnoticed.
#pragma once

#include <QDeadlineTimer>
#include <QTest>

#include <chrono>

namespace testing_support {

// Lets events run until `done()` holds or `timeout` has passed; whether it held. Use as
// ASSERT_TRUE(WaitUntil([&] { return ...; })).
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  const QDeadlineTimer deadline(timeout);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(5);
  }
  return true;
}

}  // namespace testing_support
