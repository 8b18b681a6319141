// Archive is what the archive writer and reader share: the running checksum,
// the cipher flag, the format's fixed bytes and the in-memory form of one
// entry. The layout is described in archive/ArchiveFormat.md.
//
// An archive is an 8-byte file header, then one entry per file-system object
// (directory, regular file, hard link, symbolic link), then an end entry.
// Every entry starts with an 8-byte marker and is a multiple of 8 bytes long.
// When the cipher flag is set the archive enciphers each entry's header
// block and body itself; install.data instead enciphers the whole compressed
// stream and keeps the flag clear.
#ifndef VANTOREL_ARCHIVE_ARCHIVE_H
#define VANTOREL_ARCHIVE_ARCHIVE_H

#include <cstdint>

#include "archive/Crc32.h"
#include "platform/Path.h"

class Archive {
 public:
  // The file header: "qzrArc", a line feed and the format version "2".
  static constexpr char kFileHeader[] = "qzrArc\n2";
  // The marker in front of every entry.
  static constexpr char kMarker[] = "zYxWvUtS";
  static constexpr uint32_t kFileHeaderSize = 8;
  static constexpr uint32_t kMarkerSize = 8;
  // Type, mode, name length, size, time and the header CRC.
  static constexpr uint32_t kHeaderBlockSize = 16;
  // The bytes of the header block that its CRC covers.
  static constexpr uint32_t kHeaderCheckedSize = 12;
  static constexpr uint32_t kCrcSize = 4;

  // The 7-bit type field of an entry.
  enum Type : uint32_t {
    kEnd = 0,
    kDirectory = 1,
    kHardLink = 2,
    kFile = 3,
    kSymbolicLink = 4,
  };

  // One entry in memory, shared by the writer and the reader.
  struct Entry {
    uint32_t size = 0;  // content bytes
    uint32_t type = kEnd;
    uint32_t time = 0;  // modification time, seconds since the epoch
    Path name;
    uint32_t nameLength = 0;  // as read from the header
    uint32_t permissions = 0;  // the writer keeps st_mode; 9 bits travel
  };

  // The padded body length of an entry: name + content + CRC rounded up to a
  // multiple of 8, computed in 64 bits so that no header can make it wrap.
  static uint64_t bodyLength(uint32_t nameLength, uint32_t size) {
    return (static_cast<uint64_t>(nameLength) + size + kCrcSize + 7) & ~static_cast<uint64_t>(7);
  }

  explicit Archive(bool cipher) : cipher_(cipher) {}
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  virtual ~Archive() noexcept(false) = default;

 protected:
  // Runs over one entry: reset before its header block, continued over its
  // name and content.
  Crc32 crc_;
  // Whether header blocks and bodies are enciphered by the archive itself.
  bool cipher_;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVE_H
