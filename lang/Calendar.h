// Calendar is a point in time that can be read and set either as seconds
// since 1970-01-01 00:00 UTC or as six broken-down fields (year, month, day,
// hour, minute, second), in local time or in UTC.
//
// Both forms convert lazily: whichever was set last is the valid one and the
// other is computed when asked for. Setting a field marks the time stale;
// reading a field after that computes the time first, which normalises the
// fields the way the C library does (day 31 of a 30-day month reads back as
// day 1 of the next month):
//
//   Calendar c(Calendar::kUtc);
//   c.set(Calendar::kYear, 2009);
//   ...
//   int32_t seconds = c.getTime();
//
// Local fields follow the process time zone (TZ) as mktime and localtime see
// it. UTC fields are converted through mktime as well, with one process-wide
// offset between local and UTC time that is computed once and then corrected
// whenever a conversion finds it off; the process is single-threaded, so that
// cache is not locked.
//
// Copying a Calendar is intended: it is a small value.
#ifndef VANTOREL_LANG_CALENDAR_H
#define VANTOREL_LANG_CALENDAR_H

#include <cstdint>

#include "lang/Comparable.h"
#include "lang/String.h"

class Calendar : public Comparable {
 public:
  // Field numbers for get and set.
  static constexpr int kYear = 0;    // the full year, e.g. 2009
  static constexpr int kMonth = 1;   // 1 to 12
  static constexpr int kDay = 2;     // 1 to 31
  static constexpr int kHour = 3;    // 0 to 23
  static constexpr int kMinute = 4;  // 0 to 59
  static constexpr int kSecond = 5;  // 0 to 59
  static constexpr int kFieldCount = 6;

  // Zones: kUtc reads and sets the fields in UTC; any other value in the
  // process's local time.
  static constexpr int32_t kLocal = 0;
  static constexpr int32_t kUtc = 1;

  // The current time; the fields are computed from it when first needed.
  explicit Calendar(int32_t zone = kLocal);

  // Stores one field; the time becomes stale. The other fields keep the
  // calendar's value: they are computed from the time first if it is the
  // valid form. Fields out of their usual range are allowed and carry over
  // when the time is computed.
  // Raises "Calendar: invalid field" for a field number outside 0 to 5.
  void set(int field, int32_t value);
  // The field, after computing the time from stale fields (normalising them)
  // and the fields from the time. Raises "Calendar: invalid date" when the
  // fields name no time in the 32-bit range, "Calendar: invalid field" for a
  // field number outside 0 to 5.
  int32_t get(int field) const;

  // Seconds since 1970-01-01 00:00 UTC, computed from the fields if needed
  // (raising "Calendar: invalid date" as get does).
  int32_t getTime() const;
  // Sets the time; the fields become stale.
  void setTime(int32_t seconds);

  int32_t getZone() const { return zone_; }

  // By time alone, whatever the zones: -1, 0 or 1.
  // REQUIRES: `other` is a Calendar.
  int compareTo(const Comparable& other) const override;
  // Whether `other` is a Calendar of the same time.
  bool equals(const Object& other) const override;
  // The C library's asctime text of the time in this calendar's zone, ending
  // with its line feed, e.g. "Wed Mar  4 05:06:07 2009\n".
  String toString() const override;

 private:
  // Computes time_ from the fields; the fields become stale so that the
  // next read gives them normalised.
  void computeTime() const;
  void computeUtcTime() const;
  void computeFields() const;

  // Whether fields_ hold this calendar's value. At least one of fieldsValid_
  // and timeValid_ is always true.
  mutable bool fieldsValid_;
  // Year, month, day, hour, minute, second, indexed by the field numbers.
  mutable int32_t fields_[kFieldCount];
  // Whether time_ holds this calendar's value.
  mutable bool timeValid_;
  mutable int32_t time_;
  int32_t zone_;
};

#endif  // VANTOREL_LANG_CALENDAR_H
