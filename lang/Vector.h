// Vector is a growable array of Object pointers; it never deletes its
// elements (VectorAuto does). Null elements are allowed.
//
// Index errors raise an Exception "Vector index out of bounds in " followed by
// the operation's word ("get", "set", "remove" or "add"). Indices are
// unsigned, so a negative index from a caller is out of bounds. Growth takes
// the capacity to max(size + 1, 2 * capacity).
#ifndef VANTOREL_LANG_VECTOR_H
#define VANTOREL_LANG_VECTOR_H

#include <cstdint>

#include "lang/Enumeration.h"
#include "lang/Object.h"

class Vector : public Object {
 public:
  class Enumeration : public ::Enumeration {
   public:
    // Borrows `vector`; walks the elements it had when made.
    explicit Enumeration(const Vector* vector)
        : vector_(vector), index_(0), count_(vector->size()) {}
    bool hasMoreElements() override { return index_ < count_; }
    // Raises "Vector: no such element" past the end, or the "get" index error
    // when the vector shrank meanwhile.
    Object* nextElement() override;

   private:
    const Vector* vector_;
    uint32_t index_;
    uint32_t count_;
  };

  // Capacity 10, size 0.
  Vector();
  // The same element pointers, size and capacity.
  Vector(const Vector& other);
  Vector& operator=(const Vector&) = delete;
  ~Vector() override;

  // Each element's equals accepts the other's element at the same index.
  // REQUIRES: `other` is a Vector without null elements.
  bool equals(const Object& other) const override;
  // "[" + elements' toString() joined by ", " + "]".
  String toString() const override;

  virtual void clear();
  // Removes the element and closes the gap; returns it.
  virtual Object* remove(uint32_t index);
  virtual void set(uint32_t index, Object* element);
  // Stores the address of `element`.
  virtual void set(uint32_t index, const Object& element);
  // A larger size fills with null; a smaller one drops the tail.
  virtual void setSize(uint32_t size);

  void addElement(Object* element);
  // Before `index`; index == size() appends.
  void insertElementAt(uint32_t index, Object* element);
  Object* elementAt(uint32_t index) const;
  // The first index at or after `from` whose element e has o.equals(e).
  int indexOf(const Object& o, uint32_t from = 0) const;
  // Whether some element e has e.equals(o).
  bool contains(const Object& o) const;
  // Removes the first element e with o.equals(e), through remove().
  bool removeElement(const Object& o);
  // In place by compareTo. REQUIRES: every element is a non-null Comparable.
  void sort();
  void trimToSize();
  Enumeration elements() const { return Enumeration(this); }
  // Removes and returns the last element; "empty stack (pop)" when empty.
  Object* pop();
  // The last element; "empty stack (peek)" when empty.
  Object* peek() const;

  uint32_t size() const { return size_; }
  uint32_t capacity() const { return capacity_; }
  bool isEmpty() const { return size_ == 0; }

 protected:
  [[noreturn]] static void throwIndexError(const char* word);
  void growFor(uint32_t needed);

  // capacity_ pointers, owned; elements not owned.
  Object** data_;
  uint32_t size_;
  uint32_t capacity_;
};

#endif  // VANTOREL_LANG_VECTOR_H
