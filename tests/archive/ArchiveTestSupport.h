// Builds archives in memory for the archive tests, and reads them back.
#ifndef VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H
#define VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H

#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveRead.h"
#include "archive/ArchiveWrite.h"
#include "tests/support/TestStreams.h"

namespace testsupport {

struct EntrySpec {
  uint32_t type;
  std::string name;
  std::string content;
  uint32_t mode = 0;
  uint32_t time = 0;
};

// The archive of `entries`, with its end entry unless `end` is false.
inline std::string buildArchive(const std::vector<EntrySpec>& entries, bool cipher = false,
                                bool end = true) {
  RecordingSink sink;
  struct Crash {};
  try {
    ArchiveWrite archive(&sink, cipher);
    for (const EntrySpec& spec : entries) {
      Archive::Entry entry;
      entry.type = spec.type;
      entry.name = Path(spec.name.data(), static_cast<uint32_t>(spec.name.size()));
      entry.size = static_cast<uint32_t>(spec.content.size());
      entry.permissions = spec.mode;
      entry.time = spec.time;
      archive.writeEntry(entry, spec.content.data());
    }
    // A writer that stops while an exception unwinds leaves no end entry,
    // as one that crashed would.
    if (!end) throw Crash();
  } catch (const Crash&) {
  }
  return sink.data;
}

}  // namespace testsupport

#endif  // VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H
