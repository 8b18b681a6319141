// Builds archives in memory for the archive tests, and reads them back;
// wraps them as install.data.
#ifndef VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H
#define VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveRead.h"
#include "archive/ArchiveWrite.h"
#include "archive/CipherInputStream.h"
#include "archive/CipherOutputStream.h"
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

inline std::string encipher(const std::string& plain) {
  RecordingSink sink;
  {
    CipherOutputStream cipher(&sink);
    cipher.write(plain.data(), static_cast<uint32_t>(plain.size()));
  }
  return sink.data;
}

inline std::string decipher(const std::string& scrambled) {
  MemorySource source(scrambled);
  CipherInputStream plain(&source);
  return readAll(plain);
}

// install.data around `archive`: LZMA-alone made by xz in the private
// directory `scratch`, with the exact size in its header (xz writes "size
// unknown"; the installer takes the size as its progress total), then
// enciphered. Raises std::runtime_error when xz fails.
inline std::string installDataOf(const std::string& archive, const std::string& scratch) {
  std::ofstream(scratch + "/archive.raw", std::ios::binary) << archive;
  std::string command =
      "xz --format=lzma -c '" + scratch + "/archive.raw' > '" + scratch + "/archive.lzma'";
  if (system(command.c_str()) != 0) throw std::runtime_error("xz failed: " + command);
  std::ifstream in(scratch + "/archive.lzma", std::ios::binary);
  std::string lzma((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t kSizeOffset = 5, kSizeWidth = 8;
  if (lzma.size() <= kSizeOffset + kSizeWidth) throw std::runtime_error("xz made no header");
  for (size_t i = 0; i < kSizeWidth; ++i) {
    lzma[kSizeOffset + i] = static_cast<char>(i < 4 ? archive.size() >> (8 * i) : 0);
  }
  return encipher(lzma);
}

}  // namespace testsupport

#endif  // VANTOREL_TESTS_ARCHIVE_ARCHIVETESTSUPPORT_H
