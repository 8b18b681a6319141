#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "lang/DateFormat.h"
#include "lang/Exception.h"
#include "tests/lang/ZoneFixture.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

// Each test picks the time zone and the time locale; both are put back.
class DateFormatTest : public ZoneFixture {
 protected:
  void SetUp() override {
    ZoneFixture::SetUp();
    savedLocale_ = setlocale(LC_TIME, nullptr);
  }
  void TearDown() override {
    setlocale(LC_TIME, savedLocale_.c_str());
    ZoneFixture::TearDown();
  }

 private:
  std::string savedLocale_;
};

TEST_F(DateFormatTest, CLocaleGivesIsoStyleInLocalTime) {
  ASSERT_NE(nullptr, setlocale(LC_TIME, "C"));
  struct {
    const char* zone;
    int32_t style;
    int32_t seconds;
    const char* want;
  } cases[] = {
      {"UTC", DateFormat::kDate, 0, "1970-01-01"},
      {"UTC", DateFormat::kDateTime, 1236143167, "2009-03-04 05:06:07"},
      {"UTC", DateFormat::kTime, 1236143167, "05:06:07"},
      {"America/New_York", DateFormat::kDate, 0, "1969-12-31"},
      {"America/New_York", DateFormat::kDateTime, 1236143167, "2009-03-04 00:06:07"},
      {"Asia/Kolkata", DateFormat::kTime, 1236143167, "10:36:07"},
      {"Australia/Lord_Howe", DateFormat::kDateTime, 1236143167, "2009-03-04 16:06:07"},
  };
  for (const auto& c : cases) {
    useZone(c.zone);
    DateFormat format(c.style);
    EXPECT_EQ(c.want, str(format.format(c.seconds))) << c.zone << " style " << c.style;
  }
  useZone("UTC");
  EXPECT_EQ("1970-01-01", str(DateFormat().format(0)));
}

// Any locale whose name is not exactly "C" uses the locale's own forms.
TEST_F(DateFormatTest, OtherLocalesUseTheirOwnRepresentation) {
  if (setlocale(LC_TIME, "C.UTF-8") == nullptr) GTEST_SKIP() << "the C.UTF-8 locale is missing";
  useZone("UTC");
  EXPECT_EQ("03/04/09", str(DateFormat(DateFormat::kDate).format(1236143167)));
  EXPECT_EQ("05:06:07", str(DateFormat(DateFormat::kTime).format(1236143167)));
  EXPECT_EQ("Wed Mar  4 05:06:07 2009", str(DateFormat(DateFormat::kDateTime).format(1236143167)));
}

TEST_F(DateFormatTest, UnknownStyleIsRefused) {
  EXPECT_THROW_TEXT(DateFormat(3), Exception, "Exception: DateFormat: invalid style");
  EXPECT_THROW_TEXT(DateFormat(-1), Exception, "Exception: DateFormat: invalid style");
}

}  // namespace
