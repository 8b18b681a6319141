#include "lang/Vector.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "lang/Comparable.h"
#include "lang/Exception.h"
#include "lang/String.h"

namespace {

constexpr uint32_t kInitialCapacity = 10;

int compareElements(const void* a, const void* b) {
  const Comparable* left = *static_cast<Comparable* const*>(a);
  const Comparable* right = *static_cast<Comparable* const*>(b);
  return left->compareTo(*right);
}

}  // namespace

Object* Vector::Enumeration::nextElement() {
  if (index_ >= count_) throw Exception("Vector: no such element");
  return vector_->elementAt(index_++);
}

Vector::Vector()
    : data_(new Object*[kInitialCapacity]), size_(0), capacity_(kInitialCapacity) {}

Vector::Vector(const Vector& other)
    : Object(other),
      data_(new Object*[other.capacity_]),
      size_(other.size_),
      capacity_(other.capacity_) {
  if (size_ != 0) memcpy(data_, other.data_, size_ * sizeof(Object*));
}

Vector::~Vector() { delete[] data_; }

void Vector::throwIndexError(const char* word) {
  throw Exception(String("Vector index out of bounds in ") + word);
}

void Vector::growFor(uint32_t needed) {
  if (needed <= capacity_) return;
  uint64_t doubled = static_cast<uint64_t>(capacity_) * 2;
  uint64_t capacity = doubled > needed ? doubled : needed;
  if (capacity > UINT32_MAX / sizeof(Object*)) throw std::bad_alloc();
  Object** grown = new Object*[capacity];
  if (size_ != 0) memcpy(grown, data_, size_ * sizeof(Object*));
  delete[] data_;
  data_ = grown;
  capacity_ = static_cast<uint32_t>(capacity);
}

bool Vector::equals(const Object& other) const {
  const Vector& that = static_cast<const Vector&>(other);
  if (size_ != that.size_) return false;
  for (uint32_t i = 0; i < size_; ++i) {
    if (!data_[i]->equals(*that.data_[i])) return false;
  }
  return true;
}

String Vector::toString() const {
  String text("[");
  for (uint32_t i = 0; i < size_; ++i) {
    if (i != 0) text += ", ";
    text += data_[i] == nullptr ? String("null") : data_[i]->toString();
  }
  text += "]";
  return text;
}

void Vector::clear() { size_ = 0; }

Object* Vector::remove(uint32_t index) {
  if (index >= size_) throwIndexError("remove");
  Object* removed = data_[index];
  memmove(data_ + index, data_ + index + 1, (size_ - index - 1) * sizeof(Object*));
  --size_;
  return removed;
}

void Vector::set(uint32_t index, Object* element) {
  if (index >= size_) throwIndexError("set");
  data_[index] = element;
}

void Vector::set(uint32_t index, const Object& element) {
  set(index, const_cast<Object*>(&element));
}

void Vector::setSize(uint32_t size) {
  if (size > capacity_) {
    uint64_t doubled = static_cast<uint64_t>(capacity_) * 2;
    growFor(static_cast<uint32_t>(doubled > size && doubled <= UINT32_MAX ? doubled : size));
  }
  for (uint32_t i = size_; i < size; ++i) data_[i] = nullptr;
  size_ = size;
}

void Vector::addElement(Object* element) {
  growFor(size_ + 1);
  data_[size_++] = element;
}

void Vector::insertElementAt(uint32_t index, Object* element) {
  if (index > size_) throwIndexError("add");
  growFor(size_ + 1);
  memmove(data_ + index + 1, data_ + index, (size_ - index) * sizeof(Object*));
  data_[index] = element;
  ++size_;
}

Object* Vector::elementAt(uint32_t index) const {
  if (index >= size_) throwIndexError("get");
  return data_[index];
}

int Vector::indexOf(const Object& o, uint32_t from) const {
  for (uint32_t i = from; i < size_; ++i) {
    if (o.equals(*data_[i])) return static_cast<int>(i);
  }
  return -1;
}

bool Vector::contains(const Object& o) const {
  for (uint32_t i = 0; i < size_; ++i) {
    if (data_[i] != nullptr && data_[i]->equals(o)) return true;
  }
  return false;
}

bool Vector::removeElement(const Object& o) {
  int index = indexOf(o);
  if (index < 0) return false;
  remove(static_cast<uint32_t>(index));
  return true;
}

void Vector::sort() {
  if (size_ > 1) qsort(data_, size_, sizeof(Object*), compareElements);
}

void Vector::trimToSize() {
  if (capacity_ <= size_) return;
  uint32_t capacity = size_ == 0 ? 1 : size_;
  Object** trimmed = new Object*[capacity];
  if (size_ != 0) memcpy(trimmed, data_, size_ * sizeof(Object*));
  delete[] data_;
  data_ = trimmed;
  capacity_ = capacity;
}

Object* Vector::pop() {
  if (size_ == 0) throw Exception("empty stack (pop)");
  return data_[--size_];
}

Object* Vector::peek() const {
  if (size_ == 0) throw Exception("empty stack (peek)");
  return data_[size_ - 1];
}
