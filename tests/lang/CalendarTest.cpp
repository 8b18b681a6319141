#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "lang/Calendar.h"
#include "lang/Exception.h"
#include "lang/Object.h"
#include "tests/lang/ZoneFixture.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

class CalendarTest : public ZoneFixture {
 protected:
  static void setFields(Calendar& c, const struct tm& t) {
    c.set(Calendar::kYear, t.tm_year + 1900);
    c.set(Calendar::kMonth, t.tm_mon + 1);
    c.set(Calendar::kDay, t.tm_mday);
    c.set(Calendar::kHour, t.tm_hour);
    c.set(Calendar::kMinute, t.tm_min);
    c.set(Calendar::kSecond, t.tm_sec);
  }
  static std::string fieldsOf(const Calendar& c) {
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.get(Calendar::kYear),
             c.get(Calendar::kMonth), c.get(Calendar::kDay), c.get(Calendar::kHour),
             c.get(Calendar::kMinute), c.get(Calendar::kSecond));
    return text;
  }
};

const char* const kZones[] = {"UTC", "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe"};

TEST_F(CalendarTest, NewCalendarHoldsTheCurrentTime) {
  useZone("UTC");
  time_t before = time(nullptr);
  Calendar c(Calendar::kUtc);
  time_t after = time(nullptr);
  EXPECT_LE(before, c.getTime());
  EXPECT_GE(after, c.getTime());
  struct tm now;
  gmtime_r(&before, &now);
  EXPECT_EQ(now.tm_year + 1900, c.get(Calendar::kYear));
}

TEST_F(CalendarTest, FieldsAreNormalisedThroughTheTime) {
  struct {
    int fields[6];
    const char* want;
  } cases[] = {
      {{2021, 4, 31, 12, 0, 0}, "2021-05-01 12:00:00"},     // day 31 of a 30-day month
      {{2020, 2, 30, 0, 0, 0}, "2020-03-01 00:00:00"},      // leap year February
      {{2021, 2, 29, 0, 0, 0}, "2021-03-01 00:00:00"},      // common year February
      {{2021, 13, 1, 0, 0, 0}, "2022-01-01 00:00:00"},      // month 13
      {{2021, 0, 1, 0, 0, 0}, "2020-12-01 00:00:00"},       // month 0
      {{2021, 3, 0, 0, 0, 0}, "2021-02-28 00:00:00"},       // day 0
      {{2021, 1, 1, -1, 0, 0}, "2020-12-31 23:00:00"},      // negative hour
      {{2021, 12, 31, 23, 59, 60}, "2022-01-01 00:00:00"},  // second 60
      {{2021, 1, 1, 0, 0, 86400 * 31}, "2021-02-01 00:00:00"},
  };
  for (const char* zone : kZones) {
    useZone(zone);
    for (int32_t kind : {Calendar::kLocal, Calendar::kUtc}) {
      for (const auto& c : cases) {
        Calendar calendar(kind);
        for (int field = 0; field < Calendar::kFieldCount; ++field) {
          calendar.set(field, c.fields[field]);
        }
        EXPECT_EQ(c.want, fieldsOf(calendar)) << zone << " zone " << kind;
      }
    }
  }
}

// Every quarter of an hour of the days around the clock changes, in both
// directions: UTC fields give the time gmtime breaks them from, local fields
// the time localtime breaks them from (or, in the hour a local clock repeats,
// one of the two it names).
TEST_F(CalendarTest, ConvertsAcrossDaylightSavingChanges) {
  struct {
    const char* zone;
    int64_t days[2];  // days since 1970 of the two changes in 2021
  } zones[] = {
      {"America/New_York", {18700, 18938}},     // 14 March, 7 November
      {"Australia/Lord_Howe", {18721, 18903}},  // 4 April, 3 October (half an hour)
      {"Asia/Kolkata", {18700, 18938}},         // no change: a steady offset with half an hour
      {"UTC", {18700, 18938}},
  };
  for (const auto& z : zones) {
    useZone(z.zone);
    for (int64_t day : z.days) {
      for (int64_t t = (day - 1) * 86400; t < (day + 2) * 86400; t += 900) {
        time_t tt = static_cast<time_t>(t);
        struct tm utc, local;
        gmtime_r(&tt, &utc);
        localtime_r(&tt, &local);

        Calendar u(Calendar::kUtc);
        setFields(u, utc);
        EXPECT_EQ(t, u.getTime()) << z.zone << " UTC " << asctime(&utc);

        Calendar l(Calendar::kLocal);
        setFields(l, local);
        time_t got = l.getTime();
        struct tm back;
        localtime_r(&got, &back);
        EXPECT_TRUE(got == tt || (back.tm_hour == local.tm_hour && back.tm_min == local.tm_min &&
                                  back.tm_mday == local.tm_mday))
            << z.zone << " local " << asctime(&local);

        Calendar r(Calendar::kUtc);
        r.setTime(static_cast<int32_t>(t));
        EXPECT_EQ(utc.tm_hour, r.get(Calendar::kHour)) << z.zone << " " << t;
        EXPECT_EQ(utc.tm_mday, r.get(Calendar::kDay)) << z.zone << " " << t;
      }
    }
  }
}

TEST_F(CalendarTest, EpochInEachZone) {
  struct {
    const char* zone;
    int32_t localEpoch;  // what local fields 1970-01-01 00:00:00 name
  } cases[] = {
      {"UTC", 0},
      {"America/New_York", 5 * 3600},
      {"Asia/Kolkata", -(5 * 3600 + 30 * 60)},
      {"Australia/Lord_Howe", -10 * 3600},  // the zone kept standard time +10:00 until 1981
  };
  for (const auto& c : cases) {
    useZone(c.zone);
    Calendar utc(Calendar::kUtc), local(Calendar::kLocal);
    for (Calendar* calendar : {&utc, &local}) {
      calendar->set(Calendar::kYear, 1970);
      calendar->set(Calendar::kMonth, 1);
      calendar->set(Calendar::kDay, 1);
      calendar->set(Calendar::kHour, 0);
      calendar->set(Calendar::kMinute, 0);
      calendar->set(Calendar::kSecond, 0);
    }
    EXPECT_EQ(0, utc.getTime()) << c.zone;
    EXPECT_EQ(c.localEpoch, local.getTime()) << c.zone;
  }
}

// mktime answers -1 both for a failure and for the last second of 1969 UTC.
TEST_F(CalendarTest, LastSecondBefore1970IsAValidTime) {
  for (const char* zone : kZones) {
    useZone(zone);
    Calendar c(Calendar::kUtc);
    c.setTime(-1);
    EXPECT_EQ("1969-12-31 23:59:59", fieldsOf(c)) << zone;
    c.set(Calendar::kSecond, 59);
    EXPECT_EQ(-1, c.getTime()) << zone;
  }
  useZone("UTC");
  Calendar local(Calendar::kLocal);
  local.setTime(-1);
  local.set(Calendar::kMinute, 59);
  EXPECT_EQ(-1, local.getTime());
}

// Asia/Kolkata's offset was +5:21:10 until 1906: a conversion then must not
// leave the shared offset unable to settle for later ones.
TEST_F(CalendarTest, OffsetWithSecondsKeepsLaterConversionsExact) {
  useZone("Asia/Kolkata");
  const int32_t times[] = {-2115460800 /* 1902-12-19 12:00:00 */, 1236143167, -2115460800, 0};
  for (int32_t t : times) {
    time_t tt = t;
    struct tm utc;
    gmtime_r(&tt, &utc);
    Calendar c(Calendar::kUtc);
    setFields(c, utc);
    EXPECT_EQ(t, c.getTime());
  }
}

TEST_F(CalendarTest, DatesOutsideThe32BitRangeAreInvalid) {
  struct {
    int field;
    int32_t value;
  } cases[] = {
      {Calendar::kYear, 2039},      {Calendar::kYear, 1900},       {Calendar::kYear, INT32_MIN},
      {Calendar::kYear, INT32_MAX}, {Calendar::kMonth, INT32_MIN}, {Calendar::kDay, INT32_MAX},
  };
  for (const char* zone : kZones) {
    useZone(zone);
    for (int32_t kind : {Calendar::kLocal, Calendar::kUtc}) {
      for (const auto& c : cases) {
        Calendar calendar(kind);
        calendar.set(c.field, c.value);
        EXPECT_THROW_TEXT(calendar.getTime(), Exception, "Exception: Calendar: invalid date");
        EXPECT_THROW_TEXT(calendar.get(Calendar::kYear), Exception,
                          "Exception: Calendar: invalid date");
      }
    }
  }
  Calendar c;
  EXPECT_THROW_TEXT(c.get(6), Exception, "Exception: Calendar: invalid field");
  EXPECT_THROW_TEXT(c.set(-1, 0), Exception, "Exception: Calendar: invalid field");
}

// Setting one field keeps the others at the calendar's current value, also
// after a new time replaced fields that were read before.
TEST_F(CalendarTest, SetChangesOneFieldOfTheCurrentValue) {
  useZone("UTC");
  Calendar c(Calendar::kUtc);
  c.setTime(0);
  EXPECT_EQ(1970, c.get(Calendar::kYear));
  c.setTime(1236143167);
  c.set(Calendar::kDay, 10);
  EXPECT_EQ("2009-03-10 05:06:07", fieldsOf(c));
}

TEST_F(CalendarTest, ComparesByTimeAloneAcrossZones) {
  useZone("America/New_York");
  Calendar utc(Calendar::kUtc), local(Calendar::kLocal), later(Calendar::kUtc);
  utc.setTime(1236143167);
  local.set(Calendar::kYear, 2009);
  local.set(Calendar::kMonth, 3);
  local.set(Calendar::kDay, 4);
  local.set(Calendar::kHour, 0);
  local.set(Calendar::kMinute, 6);
  local.set(Calendar::kSecond, 7);
  later.setTime(1236143168);
  EXPECT_EQ(0, utc.compareTo(local));
  EXPECT_TRUE(utc.equals(local));
  EXPECT_TRUE(local.equals(utc));
  EXPECT_EQ(-1, local.compareTo(later));
  EXPECT_EQ(1, later.compareTo(utc));
  EXPECT_FALSE(later.equals(utc));
  Object other;
  EXPECT_FALSE(utc.equals(other));
}

TEST_F(CalendarTest, ToStringIsAsctimeInTheCalendarsZone) {
  useZone("America/New_York");
  Calendar utc(Calendar::kUtc), local(Calendar::kLocal);
  utc.setTime(1236143167);
  local.setTime(1236143167);
  EXPECT_EQ("Wed Mar  4 05:06:07 2009\n", str(utc.toString()));
  EXPECT_EQ("Wed Mar  4 00:06:07 2009\n", str(local.toString()));
}

}  // namespace
