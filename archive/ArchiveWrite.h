// ArchiveWrite makes an archive: construct it on an output stream, add()
// each path (directories recursively), and destroy it (or call finish())
// to write the end entry. Names in the archive are the paths exactly as
// passed, plus the names of directory members joined below them; a directory
// is stored with a trailing "/".
//
// Regular files with several links are stored once; every further name of
// the same file becomes a hard-link entry naming the first. Symbolic links
// are stored as their text. Each file is read whole into memory before its
// entry is written.
//
// The output stream is borrowed and must outlive the writer. With the cipher
// flag set, header blocks and bodies are enciphered with the default key.
#ifndef VANTOREL_ARCHIVE_ARCHIVEWRITE_H
#define VANTOREL_ARCHIVE_ARCHIVEWRITE_H

#include <cstdint>

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
  // records hash alike, so that each name of a tree is matched in one
  // look-up.
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

  // Writes the file header to `out` at once.
  ArchiveWrite(OutputStream* out, bool cipher);
  // Writes the end entry unless finish() did, or an exception is unwinding:
  // an archive whose writing failed keeps no end entry, so that readers
  // report it as incomplete.
  ~ArchiveWrite() noexcept(false) override;

  // Archives the object at `path`, recursively for a directory.
  void add(const Path& path);
  // Writes the end entry; later calls do nothing.
  void finish();
  // Writes one entry exactly as given, with `content` of entry.size bytes,
  // without looking at the disk (the name's length goes in the header).
  void writeEntry(const Entry& entry, const char* content);

  // Fills `buffer` with the `size` bytes of the file open on `in`; raises
  // "unexpected end of input" when the file has become shorter.
  virtual void readContents(InputStream& in, char* buffer, uint32_t size);

 private:
  void addFile(Entry& entry, uint32_t size);

  // The enciphering stream on out_, owned; null without the cipher flag.
  CipherOutputStream* scrambler_;
  // The data stream on scrambler_ or out_, owned.
  DataOutputStream* data_;
  // The files with several links archived so far: each InodePath maps to
  // itself.
  Hashtable inodes_;
  // Owns the InodePaths in inodes_.
  VectorAuto inodeList_;
  // The archive's output; borrowed.
  OutputStream* out_;
  bool finished_;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVEWRITE_H
