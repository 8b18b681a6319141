// ArchiveWrite makes an archive: construct it on an output stream, add()
// each path (directories recursively), and destroy it (or call finish())
// to write the end entry. Names in the archive are the paths exactly as
// passed, plus the names of directory members joined below them; a directory
// is stored with a trailing "/".
//
// What a path becomes is first listed (Listing): the type, name, mode, time
// and link text of every object, read from the disk before anything is
// written. A caller that must look at a whole tree before it writes anything
// (installdata create refuses the names the installer would refuse) makes
// the Listing itself and hands it to write().
//
// Regular files with several links are stored once; every further name of
// the same file becomes a hard-link entry naming the first. Symbolic links
// are stored as their text. Each file is read whole into memory before its
// entry is written, and an archive holds one state of it: a file whose size
// or modification time is no longer what was listed, before or after it is
// read, or whose name now leads to another file, raises "NAME: file changed
// as we read it".
//
// The output stream is borrowed and must outlive the writer. With the cipher
// flag set, header blocks and bodies are enciphered with the default key.
#ifndef VANTOREL_ARCHIVE_ARCHIVEWRITE_H
#define VANTOREL_ARCHIVE_ARCHIVEWRITE_H

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "archive/Archive.h"
#include "lang/Hashtable.h"
#include "lang/Object.h"
#include "lang/VectorAuto.h"

class CipherOutputStream;
class DataOutputStream;
class InputStream;
class OutputStream;

class ArchiveWrite : public Archive {
 public:
  // A file with several links, and the name under which it was archived.
  // Two records are equal when they name the same file: the same inode on
  // the same device (inode numbers repeat across file systems); equal
  // records hash alike, so the names of a tree are matched in one look-up
  // each.
  class InodePath : public Object {
   public:
    InodePath(uint64_t device, uint64_t inode, const Path& path)
        : device_(device), inode_(inode), path_(path) {}
    bool equals(const Object& other) const override;
    uint32_t hashCode() const override;
    const Path& getPath() const { return path_; }

   private:
    uint64_t device_;
    uint64_t inode_;
    Path path_;
  };

  // The entries that paths become, in the order they are written, read
  // from the disk without writing anything. Not copied.
  class Listing {
   public:
    Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing();

    // Lists the object at `path` after what is listed already, recursively
    // for a directory. Raises "File open error: PATH: REASON" when it cannot
    // be examined, "NAME: cannot archive a FIFO" (a socket, a character
    // device, a block device) for what no entry type carries, "Archive:
    // name too long: NAME" and "Archive: file too large: NAME" for what the
    // format cannot hold.
    void add(const Path& path);

    uint32_t size() const { return static_cast<uint32_t>(items_.size()); }
    // The i-th entry as it is written: a regular file's size is its size
    // when listed; a link's size is that of its text.
    // REQUIRES: i < size().
    const Entry& entry(uint32_t i) const { return items_[i].entry; }
    // The i-th entry's content when it is not a file's: a symbolic link's
    // text, or the first name of a file with several links; empty for the
    // others.
    const String& text(uint32_t i) const { return items_[i].text; }

   private:
    friend class ArchiveWrite;

    struct Item {
      Entry entry;
      String text;
      // A regular file as listed: which file, and the size and modification
      // time it must still have when it has been read.
      dev_t device = 0;
      ino_t inode = 0;
      off_t size = 0;
      time_t seconds = 0;
      long nanoseconds = 0;
    };

    // The items, in archive order.
    std::vector<Item> items_;
    // The files with several links listed so far: each InodePath maps to
    // itself.
    Hashtable inodes_;
    // Owns the InodePaths in inodes_.
    VectorAuto inodeList_;
  };

  // Writes the file header to `out` at once.
  ArchiveWrite(OutputStream* out, bool cipher);
  // Writes the end entry unless finish() did, or an exception is unwinding:
  // an archive whose writing failed keeps no end entry, so that readers
  // report it as incomplete.
  ~ArchiveWrite() noexcept(false) override;

  // Archives the object at `path`, recursively for a directory: lists it
  // into this writer's own listing (so that hard links are found across
  // calls), then writes what it listed. Raises as Listing::add and write;
  // after a failure the archive is unfinished and the writer is dropped.
  void add(const Path& path);
  // Writes every entry of `listing`, reading each regular file when its
  // turn comes (never through a link at its name, and without waiting on a
  // FIFO); raises "NAME: file changed as we read it" as above, and the
  // file's open and read errors.
  void write(const Listing& listing);
  // Writes the end entry; later calls do nothing.
  void finish();
  // Writes one entry exactly as given, with `content` of entry.size bytes,
  // without looking at the disk (the name's length goes in the header).
  void writeEntry(const Entry& entry, const char* content);

  // Reads up to `size` bytes of the file open on `in` into `buffer`, fewer
  // only where the file ends; returns how many arrived.
  virtual uint32_t readContents(InputStream& in, char* buffer, uint32_t size);

 private:
  void writeItems(const Listing& listing, uint32_t from);
  void writeFile(const Listing::Item& item);

  // The enciphering stream on out_, owned; null without the cipher flag.
  CipherOutputStream* scrambler_;
  // The data stream on scrambler_ or out_, owned.
  DataOutputStream* data_;
  // What add() lists; its first written_ items are written.
  Listing listing_;
  uint32_t written_;
  // The archive's output; borrowed.
  OutputStream* out_;
  bool finished_;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVEWRITE_H
