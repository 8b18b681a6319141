#include "archive/ArchiveRead.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/CipherInputStream.h"
#include "archive/FilterInputStreamLimit.h"
#include "io/DataInputStream.h"
#include "io/RandomAccessFile.h"
#include "io/StringInputStream.h"

namespace {

// A body buffer starts this large (or smaller, for a smaller body) and
// doubles as the bytes arrive.
constexpr uint64_t kFirstBodyChunk = 1 << 20;
// Bodies from this size on live in pages of their own.
constexpr uint64_t kMappedBodySize = 1 << 20;

// Directories made on the way to an entry.
constexpr uint32_t kIntermediateDirectoryMode = 0755;

// The file header of the older archive format that this reader refuses.
constexpr char kOldMagic[] = "qzrLog";
// What a transfer in text mode makes of the file header.
constexpr char kTranslatedHeader[] = "qzrArc\r\n";

// Whether a name from the archive is safe to create below the working
// directory: not empty, relative, no ".." component and no zero byte; only a
// directory may end with "/" or have "." as its last component.
bool isSafeName(const Path& name, bool directory) {
  uint32_t n = name.length();
  if (n == 0 || name.charAt(0) == '/' || memchr(name.data(), 0, n) != nullptr) return false;
  Path::Component cursor;
  String last;
  while (name.nextComponent(cursor)) {
    if (cursor.name().equals(String(".."))) return false;
    last = cursor.name();
  }
  if (!directory && (name.charAt(n - 1) == '/' || last.equals(String(".")))) return false;
  return true;
}

// Whether a relative path stays below the working directory when its "."
// and ".." components are taken as they read (no link consulted).
bool staysInside(const Path& path) {
  if (path.isEmpty() || path.charAt(0) == '/' || memchr(path.data(), 0, path.length()) != nullptr) {
    return false;
  }
  int depth = 0;
  Path::Component cursor;
  while (path.nextComponent(cursor)) {
    if (cursor.name().equals(String(".."))) {
      if (--depth < 0) return false;
    } else if (!cursor.name().equals(String("."))) {
      ++depth;
    }
  }
  return true;
}

[[noreturn]] void refuseName(const String& name) {
  throw Exception(String("Archive: unsafe entry name: ") + name);
}

[[noreturn]] void refuseTarget(const String& target) {
  throw Exception(String("Archive: unsafe link target: ") + target);
}

// A link where a directory belongs would lead the extraction anywhere on the
// disk.
[[noreturn]] void refuseLinkInTheWay(const String& prefix) {
  throw Exception(String("Archive: symbolic link in the way: ") + prefix);
}

// Raises when a directory component of `path` is a symbolic link: nothing
// is ever created, removed or read through a link that was on the disk
// before, or that the archive made.
void requireNoLinkOnTheWay(const Path& path) {
  int slash = -1;
  while ((slash = path.indexOf('/', slash + 1)) > 0) {
    Path prefix(path.substring(0, static_cast<uint32_t>(slash)));
    struct stat status;
    if (lstat(prefix.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) refuseLinkInTheWay(prefix);
  }
}

uint32_t readBigEndian(DataInputStream& in, uint32_t width) {
  return static_cast<uint32_t>(in.readUnsigned(width));
}

}  // namespace

ArchiveRead::Body::~Body() {
  if (mapped_ != 0) {
    munmap(data_, static_cast<size_t>(mapped_));
  } else {
    free(data_);
  }
}

void ArchiveRead::Body::reserve(uint64_t capacity) {
  if (capacity <= capacity_) return;
  if (capacity > SIZE_MAX - kMappedBodySize) throw std::bad_alloc();
  if (capacity < kMappedBodySize) {
    char* grown = static_cast<char*>(realloc(data_, static_cast<size_t>(capacity)));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = grown;
    capacity_ = capacity;
    return;
  }
  uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t length = (capacity + page - 1) / page * page;
  void* grown = MAP_FAILED;
#ifdef __linux__
  // The kernel moves the pages already filled instead of copying them.
  if (mapped_ != 0) {
    grown =
        mremap(data_, static_cast<size_t>(mapped_), static_cast<size_t>(length), MREMAP_MAYMOVE);
  }
#endif
  if (grown == MAP_FAILED) {
    grown = mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED) throw std::bad_alloc();
    if (size_ != 0) memcpy(grown, data_, static_cast<size_t>(size_));
    if (mapped_ != 0) {
      munmap(data_, static_cast<size_t>(mapped_));
    } else {
      free(data_);
    }
  }
  data_ = static_cast<char*>(grown);
  capacity_ = length;
  mapped_ = length;
}

ArchiveRead::ArchiveRead(InputStream* in, bool cipher)
    : Archive(cipher), directories_(101, 0.75f), input_(in), expectMarker_(true) {
  readFileHeader();
}

ArchiveRead::~ArchiveRead() noexcept(false) = default;

void ArchiveRead::readFileHeader() {
  // Bytes that do not arrive count as zero. The header is read until all
  // eight are there or the input ends: a stream may deliver it in pieces.
  char header[kFileHeaderSize] = {};
  uint32_t done = 0;
  while (done < kFileHeaderSize) {
    int count = input_.read(header + done, kFileHeaderSize - done);
    if (count < 1) break;
    done += static_cast<uint32_t>(count);
  }
  if (memcmp(header, kFileHeader, kFileHeaderSize) == 0) return;
  if (memcmp(header, kTranslatedHeader, kFileHeaderSize) == 0) {
    throw Exception("newline translation detected");
  }
  if (memcmp(header, kFileHeader, kFileHeaderSize - 1) == 0) {
    throw Exception(String("Archive version unsupported: ") + String(header[7]));
  }
  if (memcmp(header, kOldMagic, sizeof kOldMagic - 1) == 0) throw Exception("Archive too old");
  throw Exception("Archive header missing");
}

bool ArchiveRead::readHeader(Entry& entry) {
  crc_.reset();
  if (expectMarker_) {
    char marker[kMarkerSize];
    try {
      input_.readFully(marker, kMarkerSize);
    } catch (const Exception&) {
      throw Exception("missing EOF marker (writer crashed)");
    }
    if (memcmp(marker, kMarker, kMarkerSize) != 0) throw ExceptionRecoverable();
  }
  expectMarker_ = true;

  char block[kHeaderBlockSize];
  {
    FilterInputStreamLimit segment(&input_, kHeaderBlockSize);
    if (cipher_) {
      CipherInputStream plain(&segment);
      plain.readFully(block, kHeaderBlockSize);
    } else {
      segment.readFully(block, kHeaderBlockSize);
    }
  }
  StringInputStream bytes(block, kHeaderBlockSize);
  DataInputStream fields(&bytes);
  uint32_t typeAndMode = readBigEndian(fields, 2);
  entry.type = typeAndMode >> 9;
  entry.permissions = typeAndMode & 0x1FF;
  entry.nameLength = readBigEndian(fields, 2);
  entry.size = readBigEndian(fields, 4);
  entry.time = readBigEndian(fields, 4);
  uint32_t stored = readBigEndian(fields, 4);
  crc_.update(block, kHeaderCheckedSize);
  if (crc_.value() != stored) throw ExceptionRecoverable();
  return entry.type != kEnd;
}

void ArchiveRead::readBody(Entry& entry, Body& body) {
  uint64_t n = static_cast<uint64_t>(entry.nameLength) + entry.size;
  uint64_t total = bodyLength(entry.nameLength, entry.size);
  // No writer makes a body that a 32-bit segment cannot frame.
  if (total > UINT32_MAX) throw ExceptionRecoverable();

  FilterInputStreamLimit segment(&input_, static_cast<uint32_t>(total));
  CipherInputStream plain(&segment);
  InputStream& in = cipher_ ? static_cast<InputStream&>(plain) : segment;

  // The buffer grows with the bytes that really arrive, never ahead of
  // them by more than it already holds.
  body.size_ = 0;
  body.reserve(n < kFirstBodyChunk ? n : kFirstBodyChunk);
  while (body.size_ < n) {
    if (body.size_ == body.capacity_) body.reserve(body.capacity_ * 2 < n ? body.capacity_ * 2 : n);
    uint64_t room = body.capacity_ - body.size_;
    uint64_t chunk = room < n - body.size_ ? room : n - body.size_;
    in.readFully(body.data_ + body.size_, static_cast<uint32_t>(chunk));
    body.size_ += chunk;
  }
  unsigned char crcBytes[kCrcSize];
  in.readFully(crcBytes, kCrcSize);
  uint32_t stored = static_cast<uint32_t>(crcBytes[0]) << 24 |
                    static_cast<uint32_t>(crcBytes[1]) << 16 |
                    static_cast<uint32_t>(crcBytes[2]) << 8 | crcBytes[3];
  for (uint64_t padding = total - n - kCrcSize; padding != 0; --padding) {
    char discarded;
    in.readFully(&discarded, 1);
  }
  if (n != 0) crc_.update(body.data_, static_cast<uint32_t>(n));
  if (crc_.value() != stored) throw ExceptionRecoverable();
  entry.name = Path(body.data_, entry.nameLength);
}

void ArchiveRead::skipToMarker() {
  char group[kMarkerSize];
  do {
    input_.readFully(group, kMarkerSize);
  } while (memcmp(group, kMarker, kMarkerSize) != 0);
  expectMarker_ = false;
}

void ArchiveRead::writeContents(const char* bytes, uint32_t count, RandomAccessFile& file) {
  file.writeFully(bytes, count);
}

void ArchiveRead::onEntry(const Entry&, const char*) {}

void ArchiveRead::makeDirectories(const Path& path, uint32_t mode) {
  if (directories_.get(path) != nullptr) return;
  Path prefix;
  Path::Component cursor;
  while (path.nextComponent(cursor)) {
    prefix = prefix + cursor.name();
    Path copy = prefix.withTrailingSlash();
    if (directories_.get(copy) == nullptr) {
      struct stat status;
      bool exists = lstat(prefix.c_str(), &status) == 0;
      if (exists && S_ISLNK(status.st_mode)) refuseLinkInTheWay(prefix);
      if (!exists || !S_ISDIR(status.st_mode)) {
        bool last = cursor.position() >= path.length();
        prefix.makeDirectory(static_cast<uint16_t>(last ? mode : kIntermediateDirectoryMode));
      }
      Path* known = new Path(copy);
      directoryList_.addElement(known);
      directories_.put(known, known);
    }
    prefix = copy;
  }
}

void ArchiveRead::prepareName(const Path& name) {
  // The parents first: removing through a link on the way would reach
  // outside the installation.
  Path directory;
  name.split(&directory, nullptr, nullptr);
  if (!directory.isEmpty()) makeDirectories(directory, kIntermediateDirectoryMode);
  name.remove();
}

void ArchiveRead::extract() {
  VectorAuto linkTargets;
  VectorAuto linkNames;
  for (;;) {
    Entry entry;
    if (!readHeader(entry)) break;
    processEntry(entry, linkTargets, linkNames);
  }
  for (uint32_t i = 0; i < linkNames.size(); ++i) {
    makeSymbolicLink(*static_cast<Path*>(linkTargets.elementAt(i)),
                     *static_cast<Path*>(linkNames.elementAt(i)));
  }
}

void ArchiveRead::processEntry(Entry& entry, VectorAuto& linkTargets, VectorAuto& linkNames) {
  readBody(entry, body_);
  onEntry(entry, body_.data());
  const Path& name = entry.name;
  const char* content = body_.data() + entry.nameLength;
  bool directory = entry.type == kDirectory;
  if (entry.type >= kDirectory && entry.type <= kSymbolicLink && !isSafeName(name, directory)) {
    refuseName(name);
  }
  switch (entry.type) {
    case kDirectory:
      makeDirectories(name, entry.permissions);
      break;
    case kFile: {
      prepareName(name);
      RandomAccessFile file(name, O_WRONLY | O_CREAT | O_TRUNC);
      writeContents(content, entry.size, file);
      // On the open file, saving two lookups of its name; the bits come
      // after the content, so a file without write permission still fills.
      name.setModificationTime(entry.time, file.getDescriptor());
      name.setPermissions(static_cast<uint16_t>(entry.permissions), file.getDescriptor());
      file.close();
      break;
    }
    case kHardLink: {
      Path target(content, entry.size);
      if (!isSafeName(target, false)) refuseTarget(target);
      prepareName(name);
      requireNoLinkOnTheWay(target);
      if (link(target.c_str(), name.c_str()) != 0) {
        struct stat status;
        if (lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) refuseTarget(target);
        target.copyTo(name);
      }
      break;
    }
    case kSymbolicLink:
      prepareName(name);
      linkTargets.addElement(new Path(content, entry.size));
      linkNames.addElement(new Path(name));
      break;
    default:
      throw ExceptionRecoverable();
  }
}

void ArchiveRead::makeSymbolicLink(const Path& text, const Path& name) {
  // An earlier link may have replaced a directory on the way.
  requireNoLinkOnTheWay(name);
  if (symlink(text.c_str(), name.c_str()) == 0) return;
  // Where links cannot be made, the file they name (relative to the link's
  // directory) is linked or copied in their place, as long as it lies inside
  // the installation.
  Path target = name.getDirectory() + text;
  if (!staysInside(target)) refuseTarget(text);
  requireNoLinkOnTheWay(target);
  struct stat status;
  if (lstat(name.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) name.remove();
  if (link(target.c_str(), name.c_str()) == 0) return;
  if (lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) refuseTarget(text);
  target.copyTo(name);
}
