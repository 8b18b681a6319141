// Object is the root of the class library's value and container classes.
//
// It gives every object identity equality, an address hash and a text form.
// Value classes (String, Integer, ...) override what they need; containers
// (Vector, Hashtable) compare their elements only through these virtual
// operations. Exceptions and the stream classes stand outside this tree.
//
// We depart from the base style in two ways: errors travel as exceptions, and
// methods are lowerCamelCase, after the runtime this library is shaped on.
#ifndef VANTOREL_LANG_OBJECT_H
#define VANTOREL_LANG_OBJECT_H

#include <cstdint>

class String;

class Object {
 public:
  Object() = default;
  Object(const Object&) = default;
  Object& operator=(const Object&) = default;
  virtual ~Object();

  // True only when `other` is this very object.
  virtual bool equals(const Object& other) const;

  // The object's address, cut to 32 bits.
  virtual uint32_t hashCode() const;

  // "Object@" followed by hashCode() in lower-case hexadecimal.
  virtual String toString() const;
};

#endif  // VANTOREL_LANG_OBJECT_H
