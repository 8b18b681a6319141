// A fixture for tests that change the process time zone: useZone sets TZ and
// makes the C library read it; the zone the test found is put back after it.
#ifndef VANTOREL_TESTS_LANG_ZONEFIXTURE_H
#define VANTOREL_TESTS_LANG_ZONEFIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

class ZoneFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) savedTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string savedTz_;
};

#endif  // VANTOREL_TESTS_LANG_ZONEFIXTURE_H
