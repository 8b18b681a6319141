#include "archive/ArchiveRead.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/ArchiveCheck.h"
#include "archive/CipherInputStream.h"
#include "archive/FilterInputStreamLimit.h"
#include "io/DataInputStream.h"
#include "io/RandomAccessFile.h"
#include "io/StringInputStream.h"
#include "platform/DestinationTree.h"

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
    : Archive(cipher),
      directories_(101, 0.75f),
      input_(in),
      expectMarker_(true),
      tree_(nullptr),
      check_(new ArchiveCheck) {
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
  // them by more than it already holds. Room that cannot be had ends the
  // extraction with the entry it was for: its name, the first bytes of the
  // body, is in place by then (the first chunk holds any name), or read
  // into room of its own.
  auto makeRoom = [&](uint64_t capacity) {
    try {
      body.reserve(capacity);
      return;
    } catch (const std::bad_alloc&) {
    }
    if (body.size_ < entry.nameLength) {
      body.reserve(entry.nameLength);
      in.readFully(body.data_ + body.size_, static_cast<uint32_t>(entry.nameLength - body.size_));
      body.size_ = entry.nameLength;
    }
    throw Exception(String("Archive: not enough memory for ") +
                    String(body.data_, entry.nameLength) + " (" + String::valueOf(entry.size) +
                    " bytes)");
  };
  body.size_ = 0;
  makeRoom(n < kFirstBodyChunk ? n : kFirstBodyChunk);
  while (body.size_ < n) {
    if (body.size_ == body.capacity_) makeRoom(body.capacity_ * 2 < n ? body.capacity_ * 2 : n);
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
  // A new directory in a known one, as an archive's order nearly always has
  // it: a name with one "/" after each component is its own key, and its
  // parent's key is its text up to the "/" before its last component.
  uint32_t n = path.length();
  if (n >= 2 && path.charAt(n - 1) == '/' && memmem(path.data(), n, "//", 2) == nullptr) {
    uint32_t slash = n - 1;
    while (slash > 0 && path.charAt(slash - 1) != '/') --slash;
    if (slash > 0 && directories_.get(Path(path.substring(0, slash))) != nullptr) {
      tree_->makeDirectory(path.substring(0, n - 1), mode);
      Path* made = new Path(path);
      directoryList_.addElement(made);
      directories_.put(made, made);
      return;
    }
  }
  // The prefixes of the path, component by component, each as the table
  // keeps it: the components so far joined by "/", with a trailing "/".
  std::vector<Path> prefixes;
  {
    Path::Component cursor;
    Path prefix;
    uint32_t start = 0;
    bool clean = true;  // each prefix is the path's own text up to a "/"
    while (path.nextComponent(cursor)) {
      uint32_t end = start + cursor.name().length();
      clean = clean && (prefixes.empty() ? start == 0 : start == prefixes.back().length());
      start = cursor.position();
      if (clean && end < path.length()) {
        prefix = path.substring(0, end + 1);
      } else {
        prefix = (prefixes.empty() ? Path() : prefixes.back()) + cursor.name() + "/";
      }
      prefixes.push_back(prefix);
    }
  }
  // From the deepest directory already known: in an archive's order that is
  // nearly always the parent, so a deep name costs one look-up, not one per
  // directory.
  size_t first = prefixes.size();
  while (first > 0 && directories_.get(prefixes[first - 1]) == nullptr) --first;
  for (size_t i = first; i < prefixes.size(); ++i) {
    const Path& known = prefixes[i];
    // An existing directory is left as it is; a link there is refused.
    bool last = i + 1 == prefixes.size();
    tree_->makeDirectory(known.substring(0, known.length() - 1),
                         last ? mode : kIntermediateDirectoryMode);
    Path* made = new Path(known);
    directoryList_.addElement(made);
    directories_.put(made, made);
  }
}

void ArchiveRead::prepareName(const Path& name) {
  Path directory;
  name.split(&directory, nullptr, nullptr);
  if (!directory.isEmpty()) makeDirectories(directory, kIntermediateDirectoryMode);
  tree_->remove(name);
}

void ArchiveRead::checkEntry(const Entry& entry, const char* content) {
  check_->check(entry, content);
}

void ArchiveRead::extract() {
  DestinationTree tree(Path("."));
  extract(tree);
  tree.applyDirectoryModes();
}

void ArchiveRead::extract(DestinationTree& tree) {
  struct Borrowed {
    DestinationTree*& tree;
    ~Borrowed() { tree = nullptr; }
  } borrowed{tree_};
  tree_ = &tree;
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
  checkEntry(entry, content);
  switch (entry.type) {
    case kDirectory:
      makeDirectories(name, entry.permissions);
      break;
    case kFile: {
      prepareName(name);
      RandomAccessFile file = tree_->createFile(name);
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
      prepareName(name);
      // Where the file system has no hard links, a copy; never one made
      // from a symbolic link, which the link itself names instead.
      if (!tree_->makeHardLink(target, name) && !tree_->copyFile(target, name)) {
        ArchiveCheck::refuseTarget(target);
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
  if (tree_->makeSymbolicLink(text, name)) return;
  // Where links cannot be made, the file they name (relative to the link's
  // directory) is linked or copied in their place, as long as it lies inside
  // the installation. What stands at the name now (an earlier link of the
  // same name, a file) gives way to it; a directory does not.
  Path target;
  if (!ArchiveCheck::resolveInside(name.getDirectory() + text, target)) {
    ArchiveCheck::refuseTarget(text);
  }
  struct stat status;
  if (tree_->getStatus(name, status) && !S_ISDIR(status.st_mode)) tree_->remove(name);
  if (tree_->makeHardLink(target, name)) return;
  if (!tree_->copyFile(target, name)) ArchiveCheck::refuseTarget(text);
}
