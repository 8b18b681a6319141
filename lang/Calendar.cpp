#include "lang/Calendar.h"

#include <climits>
#include <cstring>
#include <ctime>

#include "lang/Exception.h"

namespace {

constexpr char kInvalidDate[] = "Calendar: invalid date";
constexpr char kInvalidField[] = "Calendar: invalid field";

// asctime writes 25 characters and a terminating zero (C standard, 7.27.3.1).
constexpr size_t kAsctimeBuffer = 26;

// The offset cache is "not yet computed" while it holds this value.
constexpr int32_t kOffsetUnknown = -1;

// The UTC conversion's correction loop gives up after this many attempts:
// a day's worth of one-minute steps.
constexpr int kMaxAttempts = 1440;
// Only the first attempts may correct the offset by whole hours.
constexpr int kHourAttempts = 2;

constexpr int64_t kSecondsPerDay = 86400;

// Seconds that local time lags UTC, shared by every UTC calendar of the
// process; computed on the first UTC conversion and corrected by later ones.
int32_t gUtcOffset = kOffsetUnknown;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar;
// month 1 to 12, any day. Counted in 400-year eras of 146097 days, with the
// year starting in March so that the leap day ends it.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  int64_t era = floorDiv(year, 400);
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The inverse of daysFromCivil for day 1 to the month's last.
void civilFromDays(int64_t days, int64_t* year, int64_t* month, int64_t* day) {
  days += 719468;
  int64_t era = floorDiv(days, 146097);
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = yearOfEra + era * 400 + (*month <= 2);
}

bool fitsInt(int64_t value) { return value >= INT_MIN && value <= INT_MAX; }

// The broken-down time of the fields, daylight saving left for mktime to
// decide.
struct tm brokenDown(const int32_t* fields) {
  int64_t year = static_cast<int64_t>(fields[Calendar::kYear]) - 1900;
  int64_t month = static_cast<int64_t>(fields[Calendar::kMonth]) - 1;
  if (!fitsInt(year) || !fitsInt(month)) throw Exception(kInvalidDate);
  struct tm b;
  memset(&b, 0, sizeof b);
  b.tm_year = static_cast<int>(year);
  b.tm_mon = static_cast<int>(month);
  b.tm_mday = fields[Calendar::kDay];
  b.tm_hour = fields[Calendar::kHour];
  b.tm_min = fields[Calendar::kMinute];
  b.tm_sec = fields[Calendar::kSecond];
  b.tm_isdst = -1;
  return b;
}

// The fields of the UTC time they name, carried over the way mktime carries
// them (second 60 is the next minute's 0, day 32 the next month's first) but
// without a time zone: a local clock change must not move UTC fields that
// happen to fall into the hour it skips.
struct tm normalisedUtc(const int32_t* fields) {
  int64_t month = static_cast<int64_t>(fields[Calendar::kMonth]) - 1;
  int64_t year = fields[Calendar::kYear] + floorDiv(month, 12);
  int64_t days = daysFromCivil(year, floorMod(month, 12) + 1, 1) + fields[Calendar::kDay] - 1;
  int64_t seconds = ((days * 24 + fields[Calendar::kHour]) * 60 + fields[Calendar::kMinute]) * 60 +
                    fields[Calendar::kSecond];
  int64_t dayNumber = floorDiv(seconds, kSecondsPerDay);
  int64_t secondOfDay = seconds - dayNumber * kSecondsPerDay;
  int64_t day;
  civilFromDays(dayNumber, &year, &month, &day);
  if (!fitsInt(year - 1900)) throw Exception(kInvalidDate);
  struct tm b;
  memset(&b, 0, sizeof b);
  b.tm_year = static_cast<int>(year - 1900);
  b.tm_mon = static_cast<int>(month - 1);
  b.tm_mday = static_cast<int>(day);
  b.tm_hour = static_cast<int>(secondOfDay / 3600);
  b.tm_min = static_cast<int>(secondOfDay / 60 % 60);
  b.tm_sec = static_cast<int>(secondOfDay % 60);
  b.tm_isdst = -1;
  return b;
}

// mktime, telling its failure apart from the valid time -1 (one second
// before 1970 UTC) by the weekday it fills in only on success.
bool tryMktime(struct tm* b, time_t* result) {
  b->tm_wday = -1;
  *result = mktime(b);
  return *result != static_cast<time_t>(-1) || b->tm_wday != -1;
}

// mktime, raising "Calendar: invalid date" unless the result is a 32-bit
// time.
int32_t checkedMktime(struct tm* b) {
  time_t result;
  if (!tryMktime(b, &result) || result < INT32_MIN || result > INT32_MAX) {
    throw Exception(kInvalidDate);
  }
  return static_cast<int32_t>(result);
}

// The time broken down in UTC (zone kUtc) or local time.
bool breakDown(int32_t seconds, int32_t zone, struct tm* out) {
  time_t t = seconds;
  const struct tm* parts = zone == Calendar::kUtc ? gmtime(&t) : localtime(&t);
  if (parts == nullptr) return false;
  *out = *parts;
  return true;
}

void checkField(int field) {
  if (field < 0 || field >= Calendar::kFieldCount) throw Exception(kInvalidField);
}

}  // namespace

Calendar::Calendar(int32_t zone)
    : fieldsValid_(false),
      fields_{0, 0, 1, 0, 0, 0},
      timeValid_(true),
      time_(static_cast<int32_t>(time(nullptr))),
      zone_(zone) {}

void Calendar::set(int field, int32_t value) {
  checkField(field);
  if (!fieldsValid_) computeFields();
  fields_[field] = value;
  fieldsValid_ = true;
  timeValid_ = false;
}

int32_t Calendar::get(int field) const {
  checkField(field);
  if (!timeValid_) computeTime();
  if (!fieldsValid_) computeFields();
  return fields_[field];
}

int32_t Calendar::getTime() const {
  if (!timeValid_) computeTime();
  return time_;
}

void Calendar::setTime(int32_t seconds) {
  time_ = seconds;
  timeValid_ = true;
  fieldsValid_ = false;
}

int Calendar::compareTo(const Comparable& other) const {
  int32_t mine = getTime();
  int32_t theirs = static_cast<const Calendar&>(other).getTime();
  return mine < theirs ? -1 : (mine > theirs ? 1 : 0);
}

bool Calendar::equals(const Object& other) const {
  const Calendar* calendar = dynamic_cast<const Calendar*>(&other);
  return calendar != nullptr && compareTo(*calendar) == 0;
}

String Calendar::toString() const {
  struct tm parts;
  char text[kAsctimeBuffer];
  if (!breakDown(getTime(), zone_, &parts) || asctime_r(&parts, text) == nullptr) return String();
  return String(text);
}

void Calendar::computeFields() const {
  struct tm parts;
  if (!breakDown(time_, zone_, &parts)) throw Exception(kInvalidDate);
  fields_[kYear] = parts.tm_year + 1900;
  fields_[kMonth] = parts.tm_mon + 1;
  fields_[kDay] = parts.tm_mday;
  fields_[kHour] = parts.tm_hour;
  fields_[kMinute] = parts.tm_min;
  fields_[kSecond] = parts.tm_sec;
  fieldsValid_ = true;
}

void Calendar::computeTime() const {
  if (zone_ == kUtc) {
    computeUtcTime();
  } else {
    struct tm b = brokenDown(fields_);
    time_ = checkedMktime(&b);
  }
  timeValid_ = true;
  fieldsValid_ = false;
}

// mktime reads fields as local time. To read them as UTC, shift them by the
// cached offset between the two, convert, and check the result with gmtime;
// when it is off (the offset changed with daylight saving or the zone's
// history), correct the offset and try again.
void Calendar::computeUtcTime() const {
  const struct tm b = normalisedUtc(fields_);
  if (gUtcOffset == kOffsetUnknown) {
    struct tm copy = b;
    time_t t;
    if (tryMktime(&copy, &t)) {
      struct tm utc, local;
      time_t utcAsLocal, localAsLocal;
      gmtime_r(&t, &utc);
      localtime_r(&t, &local);
      if (tryMktime(&utc, &utcAsLocal) && tryMktime(&local, &localAsLocal)) {
        gUtcOffset = static_cast<int32_t>(utcAsLocal - localAsLocal);
      }
    }
  }
  const int want[kFieldCount] = {b.tm_year, b.tm_mon, b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec};
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    struct tm shifted = b;
    int64_t second = static_cast<int64_t>(b.tm_sec) - gUtcOffset;
    if (!fitsInt(second)) throw Exception(kInvalidDate);
    shifted.tm_sec = static_cast<int>(second);
    time_ = checkedMktime(&shifted);

    struct tm g;
    time_t t = time_;
    gmtime_r(&t, &g);
    const int got[kFieldCount] = {g.tm_year, g.tm_mon, g.tm_mday, g.tm_hour, g.tm_min, g.tm_sec};
    int first = 0;
    while (first < kFieldCount && want[first] == got[first]) ++first;
    if (first == kFieldCount) return;

    if (attempt < kHourAttempts && want[kHour] != got[kHour]) {
      int d = want[kHour] - got[kHour];
      if (want[kDay] != got[kDay]) d += d >= 0 ? -24 : 24;
      gUtcOffset -= d * 3600;
    } else if (first == kSecond) {
      // Some zones' past offsets had seconds in them (Asia/Kolkata until
      // 1906, Europe/Amsterdam until 1937): one-minute steps would jump over
      // them for ever, so close a difference in the seconds exactly.
      gUtcOffset -= want[kSecond] - got[kSecond];
    } else {
      gUtcOffset += want[first] < got[first] ? 60 : -60;
    }
  }
}
