#include "lang/Integer.h"

#include <cstdlib>

Integer::Integer(const String& text, int radix)
    : value_(static_cast<int32_t>(strtol(text.c_str(), nullptr, radix))) {}

bool Integer::equals(const Object& other) const {
  return value_ == static_cast<const Integer&>(other).value_;
}

uint32_t Integer::hashCode() const { return static_cast<uint32_t>(value_); }

String Integer::toString() const { return String::valueOf(value_); }
