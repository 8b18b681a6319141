// ArchiveRead reads an archive and turns it into files, directories and
// links below the current working directory. Construct it on a stream
// positioned at the archive's first byte (the file header is checked at
// once) and call extract() once; or walk the entries yourself with
// readHeader() and readBody() to list or verify an archive without writing.
//
// Every entry's header and body CRCs are verified before anything is done
// with it. Entry names are checked before anything is created for them: a
// name that is empty, absolute, climbs with "..", holds a zero byte, or (for
// anything but a directory) ends with "/" or "." is refused, and so is a
// symbolic link met where the archive expects a directory, whether it was
// on the disk before or an earlier entry makes it. The disk is reached only
// through a DestinationTree, so nothing is followed or raced: every name is
// resolved through directory descriptors, and files are created
// exclusively. Symbolic links are made last, after every other entry.
// Directories the archive makes without their owner's rights get them while
// the extraction runs and their exact modes at the end. Nothing is rolled
// back after a failure.
//
// The input stream is borrowed and must outlive the reader; the reader reads
// it through a 4096-byte buffer of its own.
#ifndef VANTOREL_ARCHIVE_ARCHIVEREAD_H
#define VANTOREL_ARCHIVE_ARCHIVEREAD_H

#include <cstdint>
#include <memory>

#include "archive/Archive.h"
#include "io/BufferedInputStream.h"
#include "lang/Exception.h"
#include "lang/Hashtable.h"
#include "lang/VectorAuto.h"

class ArchiveCheck;
class DestinationTree;
class InputStream;
class RandomAccessFile;

class ArchiveRead : public Archive {
 public:
  // Damage confined to one entry ("Archive corrupt"): a wrong marker, a wrong
  // header or body CRC, or an unknown type. Reading may resume with
  // skipToMarker().
  class ExceptionRecoverable : public Exception {
   public:
    ExceptionRecoverable() : Exception("Archive corrupt") {}
  };

  // One entry's name followed by its content. The buffer grows as the bytes
  // arrive, so a damaged size field cannot make the reader allocate more than
  // the data that is really there.
  class Body {
   public:
    Body() = default;
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;
    ~Body();

    const char* data() const { return data_; }
    uint64_t size() const { return size_; }

   private:
    friend class ArchiveRead;
    // Makes room for at least `capacity` bytes, keeping the first size_.
    // Large buffers are whole pages of their own, which on Linux grow in
    // place of the old ones, so the memory in use is never the old size
    // plus the new one.
    void reserve(uint64_t capacity);

    char* data_ = nullptr;  // owned: malloc'd, or mapped when mapped_ != 0
    uint64_t size_ = 0;
    uint64_t capacity_ = 0;
    uint64_t mapped_ = 0;  // the length of the mapping, a multiple of pages
  };

  // Reads and checks the file header; raises its Exception on a bad one.
  ArchiveRead(InputStream* in, bool cipher);
  ~ArchiveRead() noexcept(false) override;

  // Reads and creates every entry up to the end entry, then the symbolic
  // links, below the current working directory, and gives the directories
  // it made their exact modes. Raises on the first failure.
  void extract();
  // The same into `tree`, which must outlive the call, except the modes:
  // the directories wait for the tree's applyDirectoryModes(), which its
  // owner calls once it has put into them whatever else it puts there.
  void extract(DestinationTree& tree);

  // Raises the refusal that extraction raises for `entry` (read, with its
  // content at `content`) before it touches the disk for it: the rules of
  // ArchiveCheck, applied by this reader's own check. Entries are checked in
  // archive order, each once: extraction checks every entry itself;
  // installdata verify calls this.
  void checkEntry(const Entry& entry, const char* content);

  // Reads the next entry header (marker and header block) into `entry`,
  // verifying its CRC; returns false at the end entry.
  bool readHeader(Entry& entry);
  // Reads and verifies the body of the entry whose header was just read;
  // sets entry.name from it. A body the process has no memory for raises
  // "Archive: not enough memory for NAME (SIZE bytes)".
  void readBody(Entry& entry, Body& body);
  // Recovery after ExceptionRecoverable: reads on in 8-byte steps to the next
  // marker, so that the next readHeader() starts with the header block.
  void skipToMarker();

 protected:
  // Writes a regular file's content to the file just opened for it.
  virtual void writeContents(const char* bytes, uint32_t count, RandomAccessFile& file);
  // Called for every verified entry before anything is created for it;
  // `body` is the name followed by the content.
  virtual void onEntry(const Entry& entry, const char* body);

  // Creates the directories of `path` that are not known to exist: 0755 on
  // the way, `mode` for the last one. An existing directory is left as it is.
  // REQUIRES: inside extract().
  void makeDirectories(const Path& path, uint32_t mode);

 private:
  void readFileHeader();
  void processEntry(Entry& entry, VectorAuto& linkTargets, VectorAuto& linkNames);
  // Makes the parent directories of `name` and removes whatever is there.
  void prepareName(const Path& name);
  void makeSymbolicLink(const Path& target, const Path& name);

  // The directories this extraction made or found, each with a trailing
  // "/", mapped to itself: a record that spares asking the disk again, never
  // a proof that a name is safe (the tree checks every name it uses).
  Hashtable directories_;
  // Owns the Paths in directories_.
  VectorAuto directoryList_;
  // The archive, through a buffer of its own.
  BufferedInputStream input_;
  // Whether the next header read starts with the marker.
  bool expectMarker_;
  // The body of the entry being extracted; it keeps the room of the largest
  // so far, so later bodies reuse memory already in place.
  Body body_;
  // The tree written into, borrowed for the time of extract(); null before
  // and after.
  DestinationTree* tree_;
  // The installer's rules for the names, and the links the entries so far
  // make.
  std::unique_ptr<ArchiveCheck> check_;
};

#endif  // VANTOREL_ARCHIVE_ARCHIVEREAD_H
