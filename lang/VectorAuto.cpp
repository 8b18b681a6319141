#include "lang/VectorAuto.h"

#include "lang/String.h"

VectorAuto::~VectorAuto() { clear(); }

void VectorAuto::clear() {
  // Size first: a destructor that looks at this vector sees it empty.
  uint32_t count = size_;
  size_ = 0;
  for (uint32_t i = 0; i < count; ++i) delete data_[i];
}

Object* VectorAuto::remove(uint32_t index) {
  Object* removed = elementAt(index);
  Vector::remove(index);
  delete removed;
  return nullptr;
}

void VectorAuto::set(uint32_t index, Object* element) {
  Object* old = elementAt(index);
  Vector::set(index, element);
  delete old;
}

void VectorAuto::setSize(uint32_t size) {
  while (size_ > size) delete Vector::remove(size_ - 1);
  while (size_ < size) addElement(new String());
}
