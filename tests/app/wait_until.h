// Waiting for a condition in a test, bounded, without a fixed sleep. In the Qt suites events run
// meanwhile; QTRY_VERIFY is no substitute there: it reports through QTest's own log, which
// GoogleTest never reads, so a timed-out QTRY would pass unnoticed.
#pragma once

#include <chrono>
#include <thread>

#ifdef QT_TESTLIB_LIB
#include <QTest>
#endif

namespace testing_support {

// Polls `done` until it holds or a minute has passed; whether it held. Use as
// ASSERT_TRUE(WaitUntil([&] { return ...; })).
template <typename Predicate>
bool WaitUntil(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
#ifdef QT_TESTLIB_LIB
    QTest::qWait(5);
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
  }
  return true;
}

}  // namespace testing_support
