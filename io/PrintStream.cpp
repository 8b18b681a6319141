#include "io/PrintStream.h"

#include <exception>

#include "io/FileOutputStream.h"

PrintStream::PrintStream(const String& path)
    : PrintStream(std::unique_ptr<OutputStream>(new FileOutputStream(path))) {}

PrintStream::~PrintStream() noexcept(false) {
  if (owned_ == nullptr) return;  // the base writes the buffer out
  // Deletes the file stream last, also when writing the buffer fails.
  struct Closer {
    OutputStream* stream;
    ~Closer() noexcept(false) { delete stream; }
  } closer{owned_};
  owned_ = nullptr;
  try {
    BufferedOutputStream::flush();  // the file stream has nothing to flush
  } catch (...) {
    if (std::uncaught_exceptions() == 0) throw;
  }
}
