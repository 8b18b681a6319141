// Enumeration walks the elements of a container: call hasMoreElements()
// before each nextElement(). Vector::Enumeration and Hashtable::Enumeration
// implement it; an enumeration borrows its container, which must outlive it
// and must not change while it is walked.
#ifndef VANTOREL_LANG_ENUMERATION_H
#define VANTOREL_LANG_ENUMERATION_H

class Object;

class Enumeration {
 public:
  virtual ~Enumeration() = default;
  virtual bool hasMoreElements() = 0;
  // Raises an Exception when no element is left.
  virtual Object* nextElement() = 0;
};

#endif  // VANTOREL_LANG_ENUMERATION_H
