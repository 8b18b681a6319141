#include "io/LineReader.h"

#include "lang/StringBuffer.h"

namespace {

// The end-of-file mark of old text files (control-Z).
constexpr char kEndOfFileMark = 0x1A;

}  // namespace

String readLine(InputStream& in) {
  StringBuffer line;
  char byte;
  while (in.read(&byte, 1) == 1 && byte != kEndOfFileMark) {
    line.append(byte);
    if (byte == '\n') break;
  }
  return line.toString();
}
