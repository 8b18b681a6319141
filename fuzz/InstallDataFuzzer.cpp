// Fuzz target: the installer's whole input chain over raw bytes, as it reads
// install.data: TEA deciphering, LZMA decompression, the progress count and
// the archive reader extracting into a fresh directory. The decoder sees
// hostile data: a header may declare any dictionary and size, and the
// compressed data may be anything.
#include <cstddef>
#include <cstdint>

#include "archive/ArchiveReadVerbose.h"
#include "archive/CipherInputStream.h"
#include "archive/LzmaInputStream.h"
#include "archive/ProgressMonitorInputStream.h"
#include "archive/ProgressMonitorText.h"
#include "fuzz/FuzzSandbox.h"
#include "io/OutputStream.h"
#include "io/StringInputStream.h"

namespace {

// Stands for the terminal that shows the percentage.
class DiscardingOutputStream : public OutputStream {
 public:
  void write(const void*, uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  FuzzSandbox::instance().run([&] {
    StringInputStream file(data, static_cast<uint32_t>(size));
    CipherInputStream plain(&file);
    LzmaInputStream lzma(&plain);
    DiscardingOutputStream terminal;
    ProgressMonitorText monitor(lzma.getRemaining(), &terminal);
    ProgressMonitorInputStream progress(&lzma, &monitor);
    ArchiveReadVerbose archive(&progress, false);
    archive.extract();
  });
  return 0;
}
