// Integer boxes a signed 32-bit value as an Object, so that numbers can be
// stored in the containers and compared and hashed by value.
#ifndef VANTOREL_LANG_INTEGER_H
#define VANTOREL_LANG_INTEGER_H

#include <cstdint>

#include "lang/Object.h"
#include "lang/String.h"

class Integer : public Object {
 public:
  explicit Integer(int32_t value) : value_(value) {}
  // strtol of the text in `radix`, trailing characters ignored; text that is
  // not a number gives 0 (out-of-range values clamp as strtol does).
  Integer(const String& text, int radix);

  int32_t intValue() const { return value_; }

  // `other` is taken to be an Integer.
  bool equals(const Object& other) const override;
  // The value itself.
  uint32_t hashCode() const override;
  // "%d".
  String toString() const override;

 private:
  int32_t value_;
};

#endif  // VANTOREL_LANG_INTEGER_H
