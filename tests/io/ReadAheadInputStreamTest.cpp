// The read-ahead filter: the same bytes as its source, the source's end and
// failure at the same point, a bounded lead, and a worker that is always
// stopped and joined and never takes a signal. These tests also run under
// ThreadSanitizer (scripts/tsan).
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/RandomAccessFile.h"
#include "io/ReadAheadInputStream.h"
#include "lang/Exception.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

std::string sample(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 9));
  return bytes;
}

// A source that the worker reads while the test watches: it hands out at
// most `piece` bytes per read, then ends, or raises `failure` once `limit`
// bytes are out. Counters are atomic, the test reads them from its thread.
class WatchedSource : public InputStream {
 public:
  enum class Failure { kNone, kPlain, kFile };

  explicit WatchedSource(std::string data, uint32_t piece = 0, Failure failure = Failure::kNone)
      : data_(std::move(data)), piece_(piece), failure_(failure) {}

  int read(void* buffer, uint32_t length) override {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    if (!sigismember(&mask, SIGINT)) sigintOpen = true;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (++reads_ > holdAfter_) gate_.wait(lock, [this] { return open_; });
    }
    size_t at = position.load();
    if (at >= data_.size()) {
      if (failure_ == Failure::kPlain) throw Exception("data corrupt (LzmaDec_DecodeToDic)");
      if (failure_ == Failure::kFile) {
        throw RandomAccessFile::Exception("File read error", EIO, "install.data");
      }
      return -1;
    }
    size_t n = std::min<size_t>(length, data_.size() - at);
    if (piece_ != 0) n = std::min<size_t>(n, piece_);
    memcpy(buffer, data_.data() + at, n);
    position += n;
    return static_cast<int>(n);
  }
  void close() override { ++closes; }

  // Holds every read after the first `reads` until open(): the worker then
  // waits inside read().
  void holdAfter(int reads) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAfter_ = reads;
    open_ = false;
  }
  void open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    gate_.notify_all();
  }

  std::atomic<size_t> position{0};
  std::atomic<int> closes{0};
  // Whether some read ran with SIGINT not blocked.
  std::atomic<bool> sigintOpen{false};

 private:
  std::string data_;
  uint32_t piece_;
  Failure failure_;
  std::mutex mutex_;
  std::condition_variable gate_;
  bool open_ = false;
  int reads_ = 0;
  int holdAfter_ = 1 << 30;
};

std::string readAll(InputStream& in, uint32_t length) {
  std::string all;
  std::vector<char> buffer(length);
  for (int count; (count = in.read(buffer.data(), length)) > 0;) all.append(buffer.data(), count);
  return all;
}

// Waits until `done` holds, for at most ten seconds.
template <class Predicate>
bool eventually(Predicate done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(ReadAheadInputStreamTest, DeliversTheSourceBytesInOrder) {
  struct {
    size_t size;
    uint32_t piece, chunkSize, chunks, readLength;
  } cases[] = {
      {0, 0, 16, 2, 10},         {1, 0, 16, 2, 10},       {100000, 0, 4096, 4, 4096},
      {100000, 7, 4096, 4, 100}, {10000, 0, 1, 1, 3},     {65536, 0, 4096, 16, 65536},
      {99999, 4096, 1000, 3, 1}, {5000, 0, 64, 2, 70000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.size << " bytes in pieces of " << c.piece << ", " << c.chunks << " chunks of "
                 << c.chunkSize << ", reads of " << c.readLength);
    std::string data = sample(c.size);
    WatchedSource source(data, c.piece);
    ReadAheadInputStream in(&source, c.chunkSize, c.chunks);
    EXPECT_EQ(data, readAll(in, c.readLength));
    char byte;
    EXPECT_EQ(-1, in.read(&byte, 1)) << "the end stays the end";
    EXPECT_EQ(0, in.read(&byte, 0));
  }
}

// The reader meets the source's failure right after the last byte the
// source delivered before it, with the exception's own type and text, and
// again on every later read.
TEST(ReadAheadInputStreamTest, FailureComesAfterTheBytesBeforeIt) {
  std::string data = sample(10000);
  {
    WatchedSource source(data, 300, WatchedSource::Failure::kFile);
    ReadAheadInputStream in(&source, 4096, 2);
    std::string got(data.size(), '\0');
    in.readFully(&got[0], static_cast<uint32_t>(got.size()));
    EXPECT_EQ(data, got);
    char byte;
    EXPECT_THROW_TEXT(in.read(&byte, 1), RandomAccessFile::Exception,
                      "File read error: install.data: Input/output error");
    EXPECT_THROW_TEXT(in.read(&byte, 1), RandomAccessFile::Exception,
                      "File read error: install.data: Input/output error");
  }
  {
    WatchedSource source(data, 0, WatchedSource::Failure::kPlain);
    ReadAheadInputStream in(&source, 3000, 2);
    EXPECT_THROW_TEXT(readAll(in, 777), Exception, "Exception: data corrupt (LzmaDec_DecodeToDic)");
  }
  {
    // A reader that stops short of the failure never sees it.
    WatchedSource source(data, 0, WatchedSource::Failure::kPlain);
    ReadAheadInputStream in(&source, 1024, 64);
    char head[10];
    in.readFully(head, sizeof head);
    EXPECT_TRUE(eventually([&] { return source.position == data.size(); }));
  }
}

TEST(ReadAheadInputStreamTest, WorkerStaysWithinTheRing) {
  std::string data = sample(1 << 20);
  WatchedSource source(data);
  ReadAheadInputStream in(&source, 1000, 8);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(0u, source.position) << "nothing is read before the first read()";

  char byte;
  ASSERT_EQ(1, in.read(&byte, 1));
  ASSERT_TRUE(eventually([&] { return source.position == 8000; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(8000u, source.position) << "eight chunks ahead, no more";

  // A full ring is taken up again once a quarter of it is free: one chunk
  // emptied is not enough, two are.
  std::string rest(1999, '\0');
  in.readFully(&rest[0], 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(8000u, source.position) << "one chunk free";
  in.readFully(&rest[0], 999);
  ASSERT_EQ(1, in.read(&byte, 1));
  EXPECT_TRUE(eventually([&] { return source.position == 10000; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(10000u, source.position);
  EXPECT_FALSE(source.sigintOpen) << "the worker must leave SIGINT to the reader's thread";
}

// A slow source (a pipe) holds nothing back: what one read of it returns is
// handed on at once, however large the chunks.
TEST(ReadAheadInputStreamTest, BytesAreHandedOnAsTheyArrive) {
  std::string data = sample(100000);
  WatchedSource source(data, 10);
  source.holdAfter(1);
  std::thread opener;
  {
    ReadAheadInputStream in(&source, 65536, 4);
    char head[10];
    ASSERT_EQ(10, in.read(head, sizeof head)) << "ten bytes, and the source holds the rest";
    EXPECT_EQ(data.substr(0, 10), std::string(head, 10));
    opener = std::thread([&] { source.open(); });
  }
  opener.join();
}

// The destructor stops the worker whatever it is doing: never started,
// waiting for room, inside a read of the source, or done after a failure.
// The source is not read after the filter is gone.
TEST(ReadAheadInputStreamTest, DestructionStopsAndJoinsTheWorker) {
  std::string data = sample(100000);
  {
    WatchedSource source(data);
    { ReadAheadInputStream in(&source, 1024, 2); }
    EXPECT_EQ(0u, source.position);
  }
  {
    WatchedSource source(data);
    {
      ReadAheadInputStream in(&source, 1024, 2);
      char byte;
      ASSERT_EQ(1, in.read(&byte, 1));
      ASSERT_TRUE(eventually([&] { return source.position == 2048; }));
    }
    EXPECT_EQ(2048u, source.position);
  }
  {
    // The worker waits inside its 16th read until the gate opens while the
    // destructor waits for it.
    WatchedSource source(data, 100);
    source.holdAfter(15);
    std::thread opener;
    {
      ReadAheadInputStream in(&source, 1024, 32);
      char byte;
      ASSERT_EQ(1, in.read(&byte, 1));
      ASSERT_TRUE(eventually([&] { return source.position == 1500; }));
      opener = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.open();
      });
    }
    opener.join();
    EXPECT_EQ(1600u, source.position) << "the read in progress ends, and no other starts";
  }
  {
    WatchedSource source(data, 0, WatchedSource::Failure::kPlain);
    ReadAheadInputStream in(&source, 4096, 2);
    EXPECT_THROW(readAll(in, 4096), Exception);
  }
}

TEST(ReadAheadInputStreamTest, CloseStopsTheWorkerAndClosesTheSource) {
  std::string data = sample(50000);
  WatchedSource source(data);
  ReadAheadInputStream in(&source, 1000, 2);
  char head[10];
  in.readFully(head, sizeof head);
  ASSERT_TRUE(eventually([&] { return source.position == 2000; }));
  in.close();
  EXPECT_EQ(1, source.closes);
  size_t at = source.position;
  EXPECT_EQ(2000u, at);
  char next[5];
  ASSERT_EQ(5, in.read(next, 5)) << "after close(), reads go to the source";
  EXPECT_EQ(data.substr(at, 5), std::string(next, 5));
}

// The reader's own signal mask is what it was: starting the worker does not
// leave SIGINT blocked on the reader's thread.
TEST(ReadAheadInputStreamTest, ReaderKeepsItsSignalMask) {
  sigset_t before, after;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  WatchedSource source(sample(100));
  ReadAheadInputStream in(&source, 16, 2);
  char byte;
  ASSERT_EQ(1, in.read(&byte, 1));
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  EXPECT_EQ(sigismember(&before, SIGINT), sigismember(&after, SIGINT));
  EXPECT_EQ(sigismember(&before, SIGTERM), sigismember(&after, SIGTERM));
  readAll(in, 100);
  EXPECT_FALSE(source.sigintOpen);
}

}  // namespace
