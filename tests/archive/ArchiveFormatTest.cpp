// The archive's bytes as written, and what the reader makes of damaged ones.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <functional>

#include "archive/ArchiveRead.h"
#include "archive/ArchiveWrite.h"
#include "archive/Crc32.h"
#include "archive/ProgressMonitor.h"
#include "archive/ProgressMonitorInputStream.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::buildArchive;
using testsupport::EntrySpec;
using testsupport::MemorySource;
using testsupport::str;

const std::string kFileHeader("qzrArc\n2", 8);
const std::string kMarker("zYxWvUtS", 8);

std::string bigEndian(uint32_t value, int width) {
  std::string bytes;
  for (int i = width - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// A header block with these fields and its right CRC.
std::string headerBlock(uint32_t type, uint32_t mode, uint32_t nameLength, uint32_t size,
                        uint32_t time, Crc32* crc) {
  std::string block = bigEndian(type * 512 + mode, 2) + bigEndian(nameLength, 2) +
                      bigEndian(size, 4) + bigEndian(time, 4);
  crc->reset();
  crc->updateBytewise(block.data(), 12);
  return block + bigEndian(crc->value(), 4);
}

struct Read {
  std::vector<Archive::Entry> entries;
  std::vector<std::string> bodies;
};

// Reads every entry of `bytes`, `chunk` bytes at most per source read.
Read readAll(const std::string& bytes, bool cipher = false, uint32_t chunk = 0) {
  MemorySource source(bytes, chunk);
  ArchiveRead archive(&source, cipher);
  Read read;
  Archive::Entry entry;
  ArchiveRead::Body body;
  while (archive.readHeader(entry)) {
    archive.readBody(entry, body);
    read.entries.push_back(entry);
    read.bodies.emplace_back(body.data(), body.size());
  }
  return read;
}

TEST(ArchiveFormatTest, AnArchiveWithoutEntriesIsFortyBytes) {
  std::string archive = buildArchive({});
  EXPECT_EQ(kFileHeader + kMarker + std::string(24, '\0'), archive);
  EXPECT_TRUE(readAll(archive).entries.empty());
}

TEST(ArchiveFormatTest, EntryBytesFollowTheLayout) {
  std::string archive =
      buildArchive({{Archive::kFile, "ab", "xyz", 0100644, 0x01020304}}, false, false);
  Crc32 crc;
  std::string header = headerBlock(3, 0644, 2, 3, 0x01020304, &crc);
  crc.updateBytewise("abxyz", 5);
  std::string body = "abxyz" + bigEndian(crc.value(), 4) + std::string(7, '\0');
  EXPECT_EQ(kFileHeader + kMarker + header + body, archive);
}

TEST(ArchiveFormatTest, BodiesArePaddedToEightBytes) {
  struct {
    std::string name;
    std::string content;
    size_t padding;
  } cases[] = {{"abcd", "efgh", 4}, {"a", "bcd", 0}, {"", "", 4}, {"abc", "", 1}};
  for (const auto& c : cases) {
    std::string archive =
        buildArchive({{Archive::kFile, c.name, c.content, 0644, 0}}, false, false);
    EXPECT_EQ(8 + 8 + 16 + c.name.size() + c.content.size() + 4 + c.padding, archive.size())
        << c.name << "/" << c.content;
  }
}

TEST(ArchiveFormatTest, EnciphersHeaderBlocksAndBodiesButNotMarkers) {
  std::vector<EntrySpec> entries = {{Archive::kDirectory, "d/", "", 040755, 0},
                                    {Archive::kFile, "d/f", "hello world", 0600, 77},
                                    {Archive::kSymbolicLink, "d/l", "f", 0, 0}};
  std::string plain = buildArchive(entries);
  std::string scrambled = buildArchive(entries, true);
  ASSERT_EQ(plain.size(), scrambled.size());
  EXPECT_EQ(plain.substr(0, 16), scrambled.substr(0, 16)) << "file header and first marker";
  EXPECT_NE(plain.substr(16, 16), scrambled.substr(16, 16));
  EXPECT_EQ(kMarker, scrambled.substr(scrambled.size() - 32, 8));

  Read read = readAll(scrambled, true);
  ASSERT_EQ(3u, read.entries.size());
  EXPECT_EQ("d/f", str(read.entries[1].name));
  EXPECT_EQ("d/fhello world", read.bodies[1]);
  EXPECT_EQ(0600u, read.entries[1].permissions);
  EXPECT_EQ(77u, read.entries[1].time);
  EXPECT_EQ(Archive::kSymbolicLink, read.entries[2].type);
  EXPECT_THROW_TEXT(readAll(scrambled, false), Exception, "Exception: Archive corrupt");
}

TEST(ArchiveFormatTest, FileHeaderVariantsAreNamed) {
  struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {std::string("qzrArc\r\n", 8) + kMarker, "Exception: newline translation detected"},
      {std::string("qzrArc\n3", 8), "Exception: Archive version unsupported: 3"},
      {"qzrLog\n1", "Exception: Archive too old"},
      {"qzrArc", "Exception: Archive header missing"},
      {"", "Exception: Archive header missing"},
      {"PK\x03\x04xxxx", "Exception: Archive header missing"},
  };
  for (const auto& c : cases) {
    MemorySource source(c.bytes);
    EXPECT_THROW_TEXT(ArchiveRead(&source, false), Exception, c.text);
  }
}

class CountingMonitor : public ProgressMonitor {
 public:
  explicit CountingMonitor(uint32_t total) : ProgressMonitor(total) {}
  void update(uint32_t) override {}
};

// The installer reads the archive through a progress stream that passes on at
// most total/500 + 1 bytes per read: the file header of a small archive
// arrives in pieces and must still be recognised.
TEST(ArchiveFormatTest, FileHeaderMayArriveInPieces) {
  std::string archive = buildArchive({{Archive::kFile, "f", "x", 0644, 0}});
  EXPECT_EQ(1u, readAll(archive, false, 1).entries.size());

  MemorySource source(archive);
  CountingMonitor monitor(static_cast<uint32_t>(archive.size()));
  ProgressMonitorInputStream progress(&source, &monitor);
  ArchiveRead reader(&progress, false);
  Archive::Entry entry;
  EXPECT_TRUE(reader.readHeader(entry));
}

// Damage at each place of an archive of two entries, and what the reader
// reports for it.
TEST(ArchiveFormatTest, DamageIsReportedByWhereItIs) {
  const std::string good = buildArchive({{Archive::kFile, "first", "content one", 0644, 1},
                                         {Archive::kFile, "second", "two", 0644, 2}});
  // first entry: marker 8..15, header 16..31, body 32..55 (5 + 11 + 4 + 4)
  auto flip = [](size_t at, char mask) {
    return [=](std::string a) {
      a.at(at) = static_cast<char>(a.at(at) ^ mask);
      return a;
    };
  };
  struct {
    const char* name;
    std::function<std::string(std::string)> damage;
    const char* text;  // nullptr: reads fine
  } cases[] = {
      {"MarkerBit", flip(9, 1), "Exception: Archive corrupt"},
      {"HeaderBit", flip(21, 0x10), "Exception: Archive corrupt"},
      {"HeaderCrcBit", flip(31, 1), "Exception: Archive corrupt"},
      {"NameBit", flip(33, 2), "Exception: Archive corrupt"},
      {"ContentBit", flip(40, 4), "Exception: Archive corrupt"},
      {"BodyCrcBit", flip(48, 8), "Exception: Archive corrupt"},
      {"PaddingByte", flip(53, 'p'), nullptr},
      {"CutBeforeMarker", [](std::string a) { return a.substr(0, 56); },
       "Exception: missing EOF marker (writer crashed)"},
      {"CutInMarker", [](std::string a) { return a.substr(0, 60); },
       "Exception: missing EOF marker (writer crashed)"},
      {"CutInHeader", [](std::string a) { return a.substr(0, 20); },
       "Exception: unexpected end of input"},
      {"CutInBody", [](std::string a) { return a.substr(0, 40); },
       "Exception: unexpected end of input"},
      {"NoEndEntry", [](std::string a) { return a.substr(0, a.size() - 32); },
       "Exception: missing EOF marker (writer crashed)"},
  };
  for (const auto& c : cases) {
    std::string damaged = c.damage(good);
    if (c.text == nullptr) {
      EXPECT_EQ(2u, readAll(damaged).entries.size()) << c.name;
    } else {
      SCOPED_TRACE(c.name);
      EXPECT_THROW_TEXT(readAll(damaged), Exception, c.text);
    }
  }
}

TEST(ArchiveFormatTest, ReadingResumesAtTheNextMarker) {
  std::string archive = buildArchive({{Archive::kFile, "first", "content one", 0644, 1},
                                      {Archive::kFile, "second", "two", 0644, 2}});
  archive[40] ^= 4;  // the first entry's content
  MemorySource source(archive);
  ArchiveRead reader(&source, false);
  Archive::Entry entry;
  ArchiveRead::Body body;
  ASSERT_TRUE(reader.readHeader(entry));
  EXPECT_THROW(reader.readBody(entry, body), ArchiveRead::ExceptionRecoverable);
  reader.skipToMarker();
  ASSERT_TRUE(reader.readHeader(entry));
  reader.readBody(entry, body);
  EXPECT_EQ("second", str(entry.name));
  EXPECT_FALSE(reader.readHeader(entry));
}

// A header may declare more than the data holds: the reader fails when the
// data runs out, and never allocates what the header claims up front.
TEST(ArchiveFormatTest, DeclaredSizesBeyondTheDataFailCleanly) {
  struct {
    uint32_t nameLength;
    uint32_t size;
    const char* text;
  } cases[] = {
      {5, 0xFFFF0000u, "Exception: unexpected end of input"},
      {5, 0xFFFFFFF0u, "Exception: Archive corrupt"},  // its body cannot be framed
      {0xFFFF, 0xFFFFFFFFu, "Exception: Archive corrupt"},  // its body cannot be framed
      {0xFFFF, 0, "Exception: unexpected end of input"},
  };
  for (const auto& c : cases) {
    Crc32 crc;
    std::string archive = kFileHeader + kMarker +
                          headerBlock(Archive::kFile, 0644, c.nameLength, c.size, 0, &crc) +
                          std::string(64, 'z');
    SCOPED_TRACE(c.size);
    EXPECT_THROW_TEXT(readAll(archive), Exception, c.text);
  }
}

// Hands out `head`, then zero bytes without end.
class ZeroTail : public InputStream {
 public:
  explicit ZeroTail(std::string head) : head_(std::move(head)) {}
  int read(void* buffer, uint32_t length) override {
    if (length == 0) return 0;
    uint32_t n = 0;
    if (position_ < head_.size()) {
      n = static_cast<uint32_t>(std::min<size_t>(length, head_.size() - position_));
      memcpy(buffer, head_.data() + position_, n);
    } else {
      n = length;
      memset(buffer, 0, n);
    }
    position_ += n;
    return static_cast<int>(n);
  }

 private:
  std::string head_;
  size_t position_ = 0;
};

// A body larger than the memory the process may have: the failure names
// the entry and its size, not the allocator's exception. The data limit is
// set in a child, a little above what the process uses already.
TEST(ArchiveFormatTest, BodyBeyondTheMemoryLimitIsNamed) {
  std::ifstream status("/proc/self/status");
  if (!status) GTEST_SKIP() << "no /proc/self/status to read the data size from";
  EXPECT_EQ(0, testsupport::inChild([] {
              std::ifstream in("/proc/self/status");
              uint64_t dataKiB = 0;
              for (std::string word; in >> word;) {
                if (word == "VmData:") in >> dataKiB;
              }
              ASSERT_NE(0u, dataKiB);
              struct rlimit limit;
              ASSERT_EQ(0, getrlimit(RLIMIT_DATA, &limit));
              limit.rlim_cur = (dataKiB << 10) + (96u << 20);
              ASSERT_EQ(0, setrlimit(RLIMIT_DATA, &limit));
              const uint32_t kSize = 0xF0000000u;
              Crc32 crc;
              ZeroTail source(kFileHeader + kMarker +
                              headerBlock(Archive::kFile, 0644, 8, kSize, 0, &crc) + "big\nfile");
              ArchiveRead archive(&source, false);
              Archive::Entry entry;
              ArchiveRead::Body body;
              ASSERT_TRUE(archive.readHeader(entry));
              EXPECT_THROW_TEXT(
                  archive.readBody(entry, body), Exception,
                  "Exception: Archive: not enough memory for big\nfile (4026531840 bytes)");
            }));
}

}  // namespace
