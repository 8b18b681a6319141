// KeyValue is the memo record of Path::relativeTo: the directory part of a
// path and the base it was made relative to (the key), and the directory
// part of the result (the value). Two records are equal when their keys are
// equal under the Path case rule; the value is not compared.
//
// Copying is intended: the three fields are Path values.
#ifndef VANTOREL_PLATFORM_KEYVALUE_H
#define VANTOREL_PLATFORM_KEYVALUE_H

#include <cstdint>

#include "lang/Object.h"
#include "platform/Path.h"

class KeyValue : public Object {
 public:
  KeyValue(const Path& keyDirectory, const Path& base, const Path& value)
      : keyDirectory_(keyDirectory), base_(base), value_(value) {}
  ~KeyValue() override;

  // `other` is read as a KeyValue: key directories and bases equal.
  bool equals(const Object& other) const override;
  // The wrapping sum of the hash codes of key directory and base.
  uint32_t hashCode() const override;

  const Path& getKeyDirectory() const { return keyDirectory_; }
  const Path& getBase() const { return base_; }
  // The record's value; a memo table maps the record to this very object.
  const Path& getValue() const { return value_; }
  Path& getValue() { return value_; }

 private:
  Path keyDirectory_;
  Path base_;
  Path value_;
};

#endif  // VANTOREL_PLATFORM_KEYVALUE_H
