// DateFormat turns a point in time into text: a date, a date and time, or a
// time of day, in local time.
//
// In the "C" locale the text is ISO 8601 style ("2009-03-04 05:06:07" for a
// date and time); in any other locale it is the locale's own representation
// (strftime's %x, %c and %X), as the time category of the current locale
// (setlocale) names it at the moment of formatting:
//
//   DateFormat format(DateFormat::kDateTime);
//   String text = format.format(calendar.getTime());
#ifndef VANTOREL_LANG_DATEFORMAT_H
#define VANTOREL_LANG_DATEFORMAT_H

#include <cstdint>

#include "lang/Calendar.h"
#include "lang/Object.h"
#include "lang/String.h"

class DateFormat : public Object {
 public:
  // Styles.
  static constexpr int32_t kDate = 0;
  static constexpr int32_t kDateTime = 1;
  static constexpr int32_t kTime = 2;

  // Style kDate.
  DateFormat();
  // Raises "DateFormat: invalid style" unless the style is one of the three.
  explicit DateFormat(int32_t style);

  // The seconds since 1970-01-01 00:00 UTC as text in the style, in local
  // time; empty if the text would not fit in 98 bytes.
  String format(int32_t seconds);

  int32_t getStyle() const { return style_; }

 private:
  // Holds the last time formatted; local time.
  Calendar calendar_;
  // kDate, kDateTime or kTime.
  int32_t style_;
};

#endif  // VANTOREL_LANG_DATEFORMAT_H
