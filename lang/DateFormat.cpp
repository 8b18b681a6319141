#include "lang/DateFormat.h"

#include <clocale>
#include <cstring>
#include <ctime>

#include "lang/Exception.h"

namespace {

// strftime writes into a buffer of this size.
constexpr size_t kFormatBuffer = 99;

struct Formats {
  // The locale's own representation, used outside the "C" locale.
  const char* locale;
  // The fixed ISO 8601 style form of the "C" locale.
  const char* fixed;
};

// Indexed by style.
constexpr Formats kFormats[] = {
    {"%x", "%Y-%m-%d"},
    {"%c", "%Y-%m-%d %H:%M:%S"},
    {"%X", "%H:%M:%S"},
};

}  // namespace

DateFormat::DateFormat() : DateFormat(kDate) {}

DateFormat::DateFormat(int32_t style) : calendar_(Calendar::kLocal), style_(style) {
  if (style < kDate || style > kTime) throw Exception("DateFormat: invalid style");
}

String DateFormat::format(int32_t seconds) {
  const Formats& formats = kFormats[style_];
  const char* locale = setlocale(LC_TIME, nullptr);
  const char* pattern =
      locale != nullptr && strcmp(locale, "C") == 0 ? formats.fixed : formats.locale;
  calendar_.setTime(seconds);
  time_t t = seconds;
  const struct tm* parts = calendar_.getZone() == Calendar::kUtc ? gmtime(&t) : localtime(&t);
  char text[kFormatBuffer];
  if (parts == nullptr) return String();
  size_t length = strftime(text, sizeof text, pattern, parts);
  return String(text, static_cast<uint32_t>(length));
}
