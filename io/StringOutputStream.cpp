#include "io/StringOutputStream.h"

void StringOutputStream::write(const void* buffer, uint32_t length) {
  *target_ += String(static_cast<const char*>(buffer), length);
}
