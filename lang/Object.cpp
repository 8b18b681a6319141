#include "lang/Object.h"

#include <cstdint>

#include "lang/String.h"

Object::~Object() = default;

bool Object::equals(const Object& other) const { return this == &other; }

uint32_t Object::hashCode() const {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

String Object::toString() const { return String("Object@") + String::toHexString(hashCode()); }
