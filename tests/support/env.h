// Small helpers for tests that depend on what the machine offers.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

namespace testing_support {

// The locale with a decimal comma that the bootstrap script generates.
inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Sets LC_ALL for this process for the guard's life, then back to "C".
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace testing_support

// Skips the current test with `why`, or fails it when running in CI (CI set and not empty): CI must
// run every test; elsewhere a missing facility skips the test with a clear message.
#define SKIP_OR_FAIL_IN_CI(why)                                             \
  do {                                                                      \
    if (const char* ci = std::getenv("CI"); ci != nullptr && *ci != '\0') { \
      FAIL() << (why);                                                      \
    }                                                                       \
    GTEST_SKIP() << (why);                                                  \
  } while (0)
