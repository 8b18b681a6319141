// Array is a fixed-length array of values whose copies share one
// reference-counted storage, like String's text: copying an Array is intended
// and cheap, and a change through one copy is seen by all. The system uses
// Array<String>, the result of String::split.
//
// An index at or beyond the length raises an Exception
// "ArrayIndexOutOfBoundsException".
#ifndef VANTOREL_LANG_ARRAY_H
#define VANTOREL_LANG_ARRAY_H

#include <cstdint>

#include "lang/Exception.h"
#include "lang/Object.h"
#include "lang/String.h"

template <class T>
class Array : public Object {
 public:
  // `length` default-constructed elements (storage for at least one).
  explicit Array(uint32_t length) : length_(length), storage_(new Storage(length)) {}
  Array(const Array& other) : Object(other), length_(other.length_), storage_(other.storage_) {
    ++storage_->references;
  }
  Array& operator=(const Array& other) {
    ++other.storage_->references;  // first: self-assignment is harmless
    release();
    length_ = other.length_;
    storage_ = other.storage_;
    return *this;
  }
  ~Array() override { release(); }

  uint32_t length() const { return length_; }

  T& operator[](uint32_t index) {
    check(index);
    return storage_->elements[index];
  }
  const T& operator[](uint32_t index) const {
    check(index);
    return storage_->elements[index];
  }

  // "[" + elements' toString() joined by ", " + "]".
  String toString() const override {
    String text("[");
    for (uint32_t i = 0; i < length_; ++i) {
      if (i != 0) text += ", ";
      text += storage_->elements[i].toString();
    }
    text += "]";
    return text;
  }

 private:
  struct Storage {
    explicit Storage(uint32_t length) : references(1), elements(new T[length == 0 ? 1 : length]) {}
    ~Storage() { delete[] elements; }  // destroys the elements last to first
    uint32_t references;
    T* elements;
  };

  void check(uint32_t index) const {
    if (index >= length_) throw Exception("ArrayIndexOutOfBoundsException");
  }
  void release() {
    if (--storage_->references == 0) delete storage_;
  }

  uint32_t length_;
  // Shared by every copy; the last copy deletes it.
  Storage* storage_;
};

#endif  // VANTOREL_LANG_ARRAY_H
