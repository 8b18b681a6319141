#include "lang/Boolean.h"

const Boolean Boolean::TRUE(true);
const Boolean Boolean::FALSE(false);

String Boolean::toString() const { return String::valueOf(value_); }

bool Boolean::parseBoolean(const String& text) { return text.equalsIgnoreCase("true"); }
