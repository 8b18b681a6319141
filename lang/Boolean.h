// Boolean boxes a bool as an Object. The two process-wide instances
// Boolean::TRUE and Boolean::FALSE are built before main and live until exit;
// equality is identity, as for any Object.
#ifndef VANTOREL_LANG_BOOLEAN_H
#define VANTOREL_LANG_BOOLEAN_H

#include "lang/Object.h"
#include "lang/String.h"

class Boolean : public Object {
 public:
  explicit Boolean(bool value) : value_(value) {}

  bool booleanValue() const { return value_; }
  // "true" or "false".
  String toString() const override;

  // True exactly when the text is "true" ignoring ASCII case.
  static bool parseBoolean(const String& text);

  static const Boolean TRUE;
  static const Boolean FALSE;

 private:
  bool value_;
};

#endif  // VANTOREL_LANG_BOOLEAN_H
