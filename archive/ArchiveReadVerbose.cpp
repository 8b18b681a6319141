#include "archive/ArchiveReadVerbose.h"

#include <cinttypes>

namespace {

// Eleven blanks: the width of the size column and its separator.
constexpr char kIndent[] = "           ";

void put(FILE* out, const char* bytes, uint32_t length) { fwrite(bytes, 1, length, out); }

}  // namespace

void ArchiveReadVerbose::list(FILE* out, const Entry& entry, const char* body) {
  const char* content = body + entry.nameLength;
  switch (entry.type) {
    case kFile:
      fprintf(out, "%10" PRIu32 " ", entry.size);
      put(out, body, entry.nameLength);
      break;
    case kDirectory:
      fputs(kIndent, out);
      put(out, body, entry.nameLength);
      break;
    case kHardLink:
      fputs(kIndent, out);
      put(out, body, entry.nameLength);
      fputs(" link to ", out);
      put(out, content, entry.size);
      break;
    case kSymbolicLink:
      fputs(kIndent, out);
      put(out, body, entry.nameLength);
      fputs(" -> ", out);
      put(out, content, entry.size);
      break;
    default:
      return;
  }
  fputc('\n', out);
}

void ArchiveReadVerbose::onEntry(const Entry& entry, const char* body) {
  if (verbose) list(stderr, entry, body);
}
