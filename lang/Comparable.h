// Comparable is an Object with a total order: compareTo returns a negative
// number, zero or a positive number as this object sorts before, with or after
// the other. String, Path and Calendar implement it; Vector::sort relies on it.
#ifndef VANTOREL_LANG_COMPARABLE_H
#define VANTOREL_LANG_COMPARABLE_H

#include "lang/Object.h"

class Comparable : public Object {
 public:
  // REQUIRES: `other` is of a class this one knows how to compare with.
  virtual int compareTo(const Comparable& other) const = 0;
};

#endif  // VANTOREL_LANG_COMPARABLE_H
