#include "archive/ArchiveWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <memory>

#include "archive/CipherOutputStream.h"
#include "io/DataOutputStream.h"
#include "io/FileInputStream.h"
#include "io/RandomAccessFile.h"
#include "io/StringOutputStream.h"
#include "lang/Exception.h"
#include "platform/DirectoryReader.h"

namespace {

// The widest name the 16-bit name-length field can carry.
constexpr uint32_t kMaxNameLength = 0xFFFF;

// The system's hash tables are all made with these.
constexpr uint32_t kTableCapacity = 101;
constexpr float kTableLoadFactor = 0.75f;

// The nanoseconds of a modification time.
long modificationNanoseconds(const struct stat& status) {
#ifdef __APPLE__
  return status.st_mtimespec.tv_nsec;
#else
  return status.st_mtim.tv_nsec;
#endif
}

// What a file that no entry type carries is called in the failure.
const char* specialKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "a file of this type";
}

}  // namespace

bool ArchiveWrite::InodePath::equals(const Object& other) const {
  const InodePath& that = static_cast<const InodePath&>(other);
  return inode_ == that.inode_ && device_ == that.device_;
}

uint32_t ArchiveWrite::InodePath::hashCode() const {
  // Inode numbers of one tree are mostly close together: the multiplication
  // spreads them over the buckets, the device is folded in for the rest.
  uint64_t mixed = (inode_ ^ (device_ << 32 | device_ >> 32)) * 0x9E3779B97F4A7C15u;
  return static_cast<uint32_t>(mixed >> 32);
}

ArchiveWrite::Listing::Listing() : inodes_(kTableCapacity, kTableLoadFactor) {}

ArchiveWrite::Listing::~Listing() = default;

void ArchiveWrite::Listing::add(const Path& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    int error = errno;
    RandomAccessFile probe(path, O_RDONLY);  // raises the open failure and its reason
    throw RandomAccessFile::Exception("File open error", error, path);
  }
  Item item;
  Entry& entry = item.entry;
  entry.name = path;
  if (S_ISDIR(status.st_mode)) entry.name.addTrailingSlash();
  // A name longer than its 16-bit field would make an archive whose every
  // later entry is misread.
  if (entry.name.length() > kMaxNameLength) {
    throw Exception(String("Archive: name too long: ") + entry.name);
  }

  if (S_ISREG(status.st_mode)) {
    if (status.st_nlink >= 2) {
      InodePath key(status.st_dev, status.st_ino, path);
      if (const Object* found = inodes_.get(key)) {
        item.text = static_cast<const InodePath*>(found)->getPath();
        entry.type = kHardLink;
        entry.size = item.text.length();
        items_.push_back(item);
        return;
      }
      InodePath* record = new InodePath(status.st_dev, status.st_ino, path);
      inodeList_.addElement(record);
      inodes_.put(record, record);
    }
    if (Archive::bodyLength(entry.name.length(), 0) + static_cast<uint64_t>(status.st_size) >
        UINT32_MAX) {
      throw Exception(String("Archive: file too large: ") + path);
    }
    entry.type = kFile;
    entry.permissions = status.st_mode;
    entry.time = static_cast<uint32_t>(status.st_mtime);
    entry.size = static_cast<uint32_t>(status.st_size);
    item.device = status.st_dev;
    item.inode = status.st_ino;
    item.size = status.st_size;
    item.seconds = status.st_mtime;
    item.nanoseconds = modificationNanoseconds(status);
    items_.push_back(item);
  } else if (S_ISDIR(status.st_mode)) {
    entry.type = kDirectory;
    entry.permissions = status.st_mode;
    items_.push_back(item);
    VectorAuto owned;
    {
      DirectoryReader reader(entry.name);
      String name;
      while (reader.next(name)) owned.addElement(new String(name));
    }
    for (uint32_t i = 0; i < owned.size(); ++i) {
      add(entry.name + *static_cast<String*>(owned.elementAt(i)));
    }
  } else if (S_ISLNK(status.st_mode)) {
    item.text = path.readLink();
    entry.type = kSymbolicLink;
    entry.size = item.text.length();
    items_.push_back(item);
  } else {
    throw Exception(path + ": cannot archive " + specialKind(status.st_mode));
  }
}

ArchiveWrite::ArchiveWrite(OutputStream* out, bool cipher)
    : Archive(cipher),
      scrambler_(nullptr),
      data_(nullptr),
      written_(0),
      out_(out),
      finished_(false) {
  out_->write(kFileHeader, kFileHeaderSize);
  if (cipher_) scrambler_ = new CipherOutputStream(out_);
  data_ = new DataOutputStream(scrambler_ != nullptr ? static_cast<OutputStream*>(scrambler_)
                                                     : out_);
}

ArchiveWrite::~ArchiveWrite() noexcept(false) {
  std::unique_ptr<CipherOutputStream> scrambler(scrambler_);
  std::unique_ptr<DataOutputStream> data(data_);
  if (std::uncaught_exceptions() == 0) finish();
}

void ArchiveWrite::finish() {
  if (finished_) return;
  finished_ = true;
  writeEntry(Entry(), nullptr);
}

void ArchiveWrite::writeEntry(const Entry& entry, const char* content) {
  crc_.reset();
  // Every earlier part is a whole number of blocks, so the cipher holds
  // nothing back when the marker bypasses it.
  out_->write(kMarker, kMarkerSize);

  String header;
  {
    StringOutputStream headerOut(&header);
    DataOutputStream fields(&headerOut);
    fields.writeUnsigned(entry.type * 512 + (entry.permissions & 0x1FF), 2);
    fields.writeUnsigned(entry.name.length() & 0xFFFF, 2);
    fields.writeUnsigned(entry.size, 4);
    fields.writeUnsigned(entry.time, 4);
    crc_.update(header.data(), kHeaderCheckedSize);
    fields.writeUnsigned(crc_.value(), 4);
  }
  data_->write(header.data(), kHeaderBlockSize);

  crc_.update(entry.name.data(), entry.name.length());
  data_->write(entry.name.data(), entry.name.length());
  if (entry.size != 0) {
    crc_.update(content, entry.size);
    data_->write(content, entry.size);
  }
  data_->writeUnsigned(crc_.value(), 4);
  static const char kZero = 0;
  uint64_t written = static_cast<uint64_t>(entry.size) + entry.name.length() + kCrcSize;
  for (; written % 8 != 0; ++written) data_->write(&kZero, 1);
}

uint32_t ArchiveWrite::readContents(InputStream& in, char* buffer, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    int count = in.read(buffer + done, size - done);
    if (count < 0) break;
    done += static_cast<uint32_t>(count);
  }
  return done;
}

namespace {

[[noreturn]] void changed(const Path& name) {
  throw Exception(name + ": file changed as we read it");
}

}  // namespace

void ArchiveWrite::writeFile(const Listing::Item& item) {
  const Entry& entry = item.entry;
  // Whether the file open on `descriptor` is still the file listed, with
  // the size and modification time it had then.
  auto asListed = [&item](int descriptor) {
    struct stat status;
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_dev == item.device && status.st_ino == item.inode &&
           status.st_size == item.size && status.st_mtime == item.seconds &&
           modificationNanoseconds(status) == item.nanoseconds;
  };
  // What the name leads to now must be the file listed: a link put in its
  // place is not followed, and a FIFO does not hold the open up.
  RandomAccessFile file;
  if (!file.open(entry.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)) {
    if (errno == ELOOP) changed(entry.name);
    RandomAccessFile::raise("open", entry.name);
  }
  if (!asListed(file.getDescriptor())) changed(entry.name);
  FileInputStream in(file.getDescriptor());
  std::unique_ptr<char[]> buffer(new char[entry.size == 0 ? 1 : entry.size]);
  // Shorter or longer than listed, or touched meanwhile.
  char more;
  if (readContents(in, buffer.get(), entry.size) != entry.size || in.read(&more, 1) > 0 ||
      !asListed(file.getDescriptor())) {
    changed(entry.name);
  }
  writeEntry(entry, buffer.get());
  file.close();
}

void ArchiveWrite::writeItems(const Listing& listing, uint32_t from) {
  for (uint32_t i = from; i < listing.size(); ++i) {
    const Listing::Item& item = listing.items_[i];
    if (item.entry.type == kFile) {
      writeFile(item);
    } else {
      writeEntry(item.entry, item.text.data());
    }
  }
}

void ArchiveWrite::add(const Path& path) {
  listing_.add(path);
  writeItems(listing_, written_);
  written_ = listing_.size();
}

void ArchiveWrite::write(const Listing& listing) { writeItems(listing, 0); }
