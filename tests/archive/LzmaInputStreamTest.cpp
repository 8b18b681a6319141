#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "archive/LzmaInputStream.h"
#include "io/RandomAccessFile.h"
#include "platform/ProgramLocation.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::FailingSource;
using testsupport::MemorySource;
using testsupport::readAll;

const char kDecodeFailed[] = "Exception: data corrupt (LzmaDec_DecodeToDic)";

// Offsets in the 13-byte LZMA-alone header.
constexpr size_t kDictionaryOffset = 1;
constexpr size_t kSizeOffset = 5;
constexpr size_t kHeaderSize = 13;

void patchLittleEndian(std::string& bytes, size_t offset, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

// Text that compresses well but not trivially: words drawn by a fixed
// generator.
std::string sampleText(size_t size) {
  static const char* const kWords[] = {"archive ", "entry ",  "cipher ", "block ",
                                       "stream ",  "header ", "\n",      "dictionary "};
  std::string text;
  uint32_t state = 12345;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += kWords[(state >> 16) % 8];
    if ((state >> 8) % 16 == 0) text += std::to_string(state % 100000);
  }
  text.resize(size);
  return text;
}

class LzmaInputStreamTest : public testsupport::TempDirTest {
 protected:
  // `data` compressed by xz as LZMA-alone (unknown size, with an end marker).
  std::string compress(const std::string& data, const std::string& options = "") {
    char xz[kProgramSearchBuffer];
    EXPECT_NE(0u, findProgramFile(nullptr, "xz", xz)) << "xz is not on PATH (scripts/setup)";
    testsupport::writeFile(dir_ + "/input", data);
    std::vector<std::string> argv = {xz, "--format=lzma", "--stdout"};
    if (!options.empty()) argv.push_back(options);
    argv.push_back(dir_ + "/input");
    testsupport::RunResult result = testsupport::run(argv);
    EXPECT_EQ(0, result.status) << result.err;
    return result.out;
  }
};

TEST_F(LzmaInputStreamTest, XzStreamsDecodeExactly) {
  struct {
    const char* name;
    const char* options;
    size_t size;
    uint32_t dictionary;
  } cases[] = {
      // 100 times the dictionary: the buffer is reused from its start.
      {"small dictionary", "--lzma1=dict=4KiB", 400000, 4096},
      {"large dictionary", "--lzma1=preset=6", 400000, 8u << 20},
      {"other lc, lp, pb", "--lzma1=dict=64KiB,lc=0,lp=2,pb=0", 300000, 64u << 10},
      {"one byte", "", 1, 8u << 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string data = sampleText(c.size);
    std::string lzma = compress(data, c.options);
    ASSERT_LE(kHeaderSize, lzma.size());
    MemorySource source(lzma, {1, 1000, 3, 4096, 13});
    LzmaInputStream in(&source);
    EXPECT_EQ(0xFFFFFFFFu, in.getRemaining()) << "xz writes an unknown size";
    EXPECT_EQ(data, readAll(in, 777));
    char byte;
    EXPECT_EQ(-1, in.read(&byte, 1));
    EXPECT_EQ(0u, in.getRemaining()) << "the end marker ends the stream";
    // A stream longer than its dictionary keeps it twice (see the header).
    EXPECT_GE(2 * c.dictionary, in.dictionaryCapacity());
  }
}

// The decoded size stands in the header; the stream ends there whatever
// follows (an end marker, the cipher's zero padding, more data).
TEST_F(LzmaInputStreamTest, DeclaredSizeEndsTheStream) {
  std::string data = sampleText(50000);
  std::string lzma = compress(data, "--lzma1=dict=4KiB") + std::string(7, '\0');
  for (uint32_t size : {50000u, 49000u, 4095u, 1u}) {
    std::string known = lzma;
    patchLittleEndian(known, kSizeOffset, size, 8);
    MemorySource source(known);
    LzmaInputStream in(&source);
    EXPECT_EQ(size, in.getRemaining());
    EXPECT_EQ(data.substr(0, size), readAll(in)) << size;
    EXPECT_EQ(0u, in.getRemaining());
    EXPECT_GE(size <= 4096 ? size : 2 * 4096u, in.dictionaryCapacity()) << size;
  }
}

// A hostile header declares a 4 GiB dictionary and output; the buffer grows
// only with the output that actually arrives.
TEST_F(LzmaInputStreamTest, HugeDeclaredSizesAllocateOnlyWhatArrives) {
  std::string data = sampleText(300000);
  std::string lzma = compress(data, "--lzma1=dict=4KiB");
  patchLittleEndian(lzma, kDictionaryOffset, 0xFFFFFFFFu, 4);
  patchLittleEndian(lzma, kSizeOffset, 0xFFFFFFFFu, 8);
  MemorySource source(lzma);
  LzmaInputStream in(&source);
  char head[10];
  in.readFully(head, sizeof head);
  EXPECT_EQ(data.substr(0, 10), std::string(head, 10));
  EXPECT_GE(64u * 1024, in.dictionaryCapacity());
  EXPECT_EQ(data.substr(10), readAll(in));
  EXPECT_GE(512u * 1024, in.dictionaryCapacity());
}

TEST_F(LzmaInputStreamTest, ZeroDeclaredSizeIsEmpty) {
  std::string lzma = compress("abc");
  patchLittleEndian(lzma, kSizeOffset, 0, 8);
  MemorySource source(lzma);
  LzmaInputStream in(&source);
  char byte;
  EXPECT_EQ(0, in.read(&byte, 0));
  EXPECT_EQ(-1, in.read(&byte, 1));
}

TEST_F(LzmaInputStreamTest, BadHeadersAreRefused) {
  std::string valid = compress("abc");
  std::string badProperties = valid;
  badProperties[0] = static_cast<char>(225);
  struct {
    const char* name;
    std::string data;
    const char* text;
  } cases[] = {
      {"empty", "", "Exception: data corrupt (invalid header)"},
      {"12 bytes", valid.substr(0, 12), "Exception: data corrupt (invalid header)"},
      {"properties 225", badProperties, "Exception: data corrupt (LzmaDec_AllocateProbs)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource source(c.data, {5});
    EXPECT_THROW_TEXT(LzmaInputStream in(&source), Exception, c.text);
  }
  badProperties[0] = static_cast<char>(224);  // lc 8, lp 4, pb 4: the largest accepted
  MemorySource source(badProperties);
  EXPECT_NO_THROW(LzmaInputStream in(&source));
}

TEST_F(LzmaInputStreamTest, DecodingErrorStaysAnError) {
  std::string lzma = compress(sampleText(1000));
  lzma[kHeaderSize] = '\x80';  // the range coder's first byte must be 0
  MemorySource source(lzma);
  LzmaInputStream in(&source);
  char buffer[64];
  EXPECT_THROW_TEXT(in.read(buffer, sizeof buffer), Exception, kDecodeFailed);
  EXPECT_THROW_TEXT(in.read(buffer, sizeof buffer), Exception, kDecodeFailed);
}

// Damage anywhere in the data raises, ends the stream early or yields other
// bytes, but never reads or writes outside the buffers.
TEST_F(LzmaInputStreamTest, DamagedDataFailsSafely) {
  std::string data = sampleText(20000);
  std::string lzma = compress(data, "--lzma1=dict=4KiB");
  for (size_t position = kHeaderSize + 1; position < lzma.size(); position += lzma.size() / 40) {
    std::string damaged = lzma;
    damaged[position] = static_cast<char>(damaged[position] ^ 0x55);
    patchLittleEndian(damaged, kSizeOffset, data.size(), 8);
    MemorySource source(damaged);
    LzmaInputStream in(&source);
    try {
      EXPECT_GE(data.size(), readAll(in).size()) << "damage at " << position;
    } catch (const Exception& e) {
      EXPECT_EQ(kDecodeFailed, testsupport::str(e.toString())) << "damage at " << position;
    }
  }
}

// What a reader gets: the bytes, then "end" or the exception's text.
struct Outcome {
  std::string bytes, end;
  bool operator==(const Outcome& other) const { return bytes == other.bytes && end == other.end; }
};

Outcome outcome(LzmaInputStream& in) {
  Outcome result;
  char buffer[4096];
  try {
    for (int count; (count = in.read(buffer, sizeof buffer)) > 0;) {
      result.bytes.append(buffer, count);
    }
    result.end = "end";
  } catch (const Exception& e) {
    result.end = testsupport::str(e.toString());
  }
  return result;
}

// A source that hands out `data` and raises a file error once a read
// reaches `failAt`, after the bytes before it (as a read-ahead does).
FailingSource failingFile(std::string data, size_t failAt) {
  return FailingSource(std::move(data), failAt,
                       [] { throw RandomAccessFile::Exception("File read error", EIO, "x.data"); });
}

// The fast calls (64 KiB of input each) meet every failure where a decoder
// fed 1024 bytes at a time meets it: the same bytes first, then the same
// end or exception. Damage, truncation, a failing source and a declared
// size shorter than the data, over a dictionary the output wraps around.
TEST_F(LzmaInputStreamTest, FastCallsFailWhereOneKilobytePiecesFail) {
  // Text with noise in it, so that the compressed data spans several fast
  // calls.
  std::string data = sampleText(500000);
  uint32_t noise = 7;
  for (size_t i = 0; i < data.size(); i += 5) {
    noise = noise * 1103515245u + 12345u;
    data[i] = static_cast<char>(noise >> 16);
  }
  std::string lzma = compress(data, "--lzma1=dict=16KiB");
  ASSERT_LT(3u * 65536, lzma.size()) << "several fast calls";
  uint32_t seed = 99;
  int failures = 0;
  for (int round = 0; round < 48; ++round) {
    seed = seed * 1103515245u + 12345u;
    size_t position = kHeaderSize + (seed >> 8) % (lzma.size() - kHeaderSize);
    std::string damaged = lzma;
    size_t failAt = std::string::npos;
    switch (round % 3) {
      case 0:
        damaged[position] = static_cast<char>(damaged[position] ^ (1 << (seed % 8)));
        break;
      case 1:
        damaged.resize(position);
        break;
      case 2:
        failAt = position;
        break;
    }
    bool shortened = round % 4 == 0;
    if (shortened) patchLittleEndian(damaged, kSizeOffset, (seed >> 4) % data.size(), 8);
    SCOPED_TRACE(testing::Message() << "round " << round << " at " << position);
    FailingSource fastSource = failingFile(damaged, failAt);
    FailingSource pieceSource = failingFile(damaged, failAt);
    LzmaInputStream fast(&fastSource), pieces(&pieceSource, true);
    Outcome got = outcome(fast);
    EXPECT_TRUE(got == outcome(pieces)) << "fast calls delivered " << got.bytes.size() << " bytes";
    if (failAt != std::string::npos) {
      // The piece the source's failure broke is never decoded: the bytes
      // are those of the data cut at the start of that piece.
      size_t cut = kHeaderSize + (failAt - kHeaderSize) / 1024 * 1024;
      FailingSource cutSource = failingFile(damaged.substr(0, cut), std::string::npos);
      LzmaInputStream cutStream(&cutSource);
      EXPECT_TRUE(got.bytes == outcome(cutStream).bytes) << "source failure at " << failAt;
      // Unless the declared size ends the stream before that piece.
      if (!shortened) {
        EXPECT_EQ("File read error: x.data: Input/output error", got.end);
      }
    }
    if (got.end != "end") ++failures;
  }
  EXPECT_LE(20, failures) << "most damage is met as a failure";
}

TEST_F(LzmaInputStreamTest, CloseEndsTheStreamAndLeavesTheSourceOpen) {
  MemorySource source(compress("some text"));
  LzmaInputStream in(&source);
  char buffer[4];
  ASSERT_EQ(4, in.read(buffer, 4));
  in.close();
  EXPECT_EQ(0u, in.getRemaining());
  EXPECT_EQ(-1, in.read(buffer, 4));
  EXPECT_EQ(0, source.closes);
}

// The LZMA-alone streams of the xz-utils test suite, which nobody here wrote.
TEST(LzmaInputStreamCorpusTest, DeliversWhatEachFileHolds) {
  std::string dir = testsupport::sharedTestData();
  if (dir.empty()) GTEST_SKIP() << "../shared/testdata is absent: the LZMA corpus cannot be read";
  const std::string kText = "Hello\nWorld!\n";
  struct {
    const char* file;
    std::string delivered;
  } cases[] = {
      {"good-known_size-without_eopm.lzma", kText},
      {"good-known_size-with_eopm.lzma", kText},
      {"good-unknown_size-with_eopm.lzma", kText},
      {"bad-unknown_size-without_eopm.lzma", kText},
      {"bad-too_big_size-with_eopm.lzma", kText},
      {"bad-too_small_size-without_eopm-1.lzma", "Hello\nWorld!"},
      {"bad-too_small_size-without_eopm-2.lzma", "Hel"},
      {"bad-too_small_size-without_eopm-3.lzma", "Hello\nYel"},
  };
  for (const auto& c : cases) {
    for (uint32_t chunk : {0u, 1u}) {
      MemorySource source(testsupport::readFile(dir + "/lzma/" + c.file), chunk);
      LzmaInputStream in(&source);
      EXPECT_EQ(c.delivered, readAll(in, chunk == 0 ? 4096 : 1)) << c.file;
      char byte;
      EXPECT_EQ(-1, in.read(&byte, 1)) << c.file;
    }
  }
}

}  // namespace
