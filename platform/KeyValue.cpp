#include "platform/KeyValue.h"

KeyValue::~KeyValue() = default;

bool KeyValue::equals(const Object& other) const {
  const KeyValue& record = static_cast<const KeyValue&>(other);
  return keyDirectory_.equals(record.keyDirectory_) && base_.equals(record.base_);
}

uint32_t KeyValue::hashCode() const { return keyDirectory_.hashCode() + base_.hashCode(); }
