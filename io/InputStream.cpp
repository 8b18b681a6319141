#include "io/InputStream.h"

#include "lang/Exception.h"

void InputStream::readFully(void* buffer, uint32_t length) {
  char* bytes = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    int count = read(bytes + done, length - done);
    if (count < 1) throw Exception("unexpected end of input");
    done += static_cast<uint32_t>(count);
  }
}
