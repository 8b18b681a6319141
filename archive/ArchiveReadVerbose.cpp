#include "archive/ArchiveReadVerbose.h"

#include <cinttypes>

namespace {

// Eleven blanks: the width of the size column and its separator.
constexpr char kIndent[] = "           ";

// A name or a link text from the archive, its control bytes escaped: no
// name can forge a line of the listing or reach the terminal as a command.
void put(FILE* out, const char* bytes, uint32_t length) {
  String shown = String(bytes, length).escapeControls();
  fwrite(shown.data(), 1, shown.length(), out);
}

}  // namespace

void ArchiveReadVerbose::list(FILE* out, const Entry& entry, const char* body) {
  const char* separator = nullptr;  // between the name and the content
  switch (entry.type) {
    case kFile:
      fprintf(out, "%10" PRIu32 " ", entry.size);
      break;
    case kDirectory:
      fputs(kIndent, out);
      break;
    case kHardLink:
      fputs(kIndent, out);
      separator = " link to ";
      break;
    case kSymbolicLink:
      fputs(kIndent, out);
      separator = " -> ";
      break;
    default:
      return;
  }
  put(out, body, entry.nameLength);
  if (separator != nullptr) {
    fputs(separator, out);
    put(out, body + entry.nameLength, entry.size);
  }
  fputc('\n', out);
}

void ArchiveReadVerbose::onEntry(const Entry& entry, const char* body) {
  if (verbose) list(stderr, entry, body);
}
