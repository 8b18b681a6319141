#include "lang/Exception.h"

Exception::~Exception() = default;

String Exception::toString() const {
  String text("Exception");
  if (!message_.isEmpty()) {
    text += ": ";
    text += message_;
  }
  return text;
}
