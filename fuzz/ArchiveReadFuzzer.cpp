// Fuzz target: the archive reader over raw bytes, extracting every entry
// into a fresh directory. Bad input must end in an Exception; nothing may
// crash, leak, hang, allocate far beyond the input, or reach outside the
// directory (FuzzSandbox checks). A second pass walks the same bytes entry
// by entry as a listing does, resuming after damage at the next marker.
#include <cstddef>
#include <cstdint>

#include "archive/ArchiveReadVerbose.h"
#include "fuzz/FuzzSandbox.h"
#include "io/StringInputStream.h"
#include "lang/Exception.h"

namespace {

// Reads every entry, skipping to the next marker after damage confined to
// one entry, until the end entry or the end of the input.
void walkEntries(const uint8_t* data, uint32_t size) {
  try {
    StringInputStream source(data, size);
    ArchiveRead archive(&source, false);
    Archive::Entry entry;
    ArchiveRead::Body body;
    for (;;) {
      try {
        if (!archive.readHeader(entry)) return;
        archive.readBody(entry, body);
      } catch (const ArchiveRead::ExceptionRecoverable&) {
        archive.skipToMarker();
      }
    }
  } catch (const Exception&) {
    // The end of the input, or a header that is not an archive's.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The format frames sizes in 32 bits; libFuzzer inputs stay far below.
  if (size > UINT32_MAX) return 0;
  FuzzSandbox::instance().run([&] {
    StringInputStream source(data, static_cast<uint32_t>(size));
    ArchiveReadVerbose archive(&source, false);
    archive.extract();
  });
  walkEntries(data, static_cast<uint32_t>(size));
  return 0;
}
