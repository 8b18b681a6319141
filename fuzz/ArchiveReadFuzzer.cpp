// Fuzz target: the archive reader over raw bytes, extracting every entry
// into a fresh directory. Bad input must end in an Exception; nothing may
// crash, leak, hang, allocate far beyond the input, or reach outside the
// directory (FuzzSandbox checks).
#include <cstddef>
#include <cstdint>

#include "archive/ArchiveReadVerbose.h"
#include "fuzz/FuzzSandbox.h"
#include "io/StringInputStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The format frames sizes in 32 bits; libFuzzer inputs stay far below.
  if (size > UINT32_MAX) return 0;
  FuzzSandbox::instance().run([&] {
    StringInputStream source(data, static_cast<uint32_t>(size));
    ArchiveReadVerbose archive(&source, false);
    archive.extract();
  });
  return 0;
}
