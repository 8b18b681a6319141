#include "io/RandomAccessFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

#include "io/FileLocking.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::str;
using testsupport::writeFile;

class RandomAccessFileTest : public testsupport::TempDirTest {};

TEST_F(RandomAccessFileTest, FailuresNameTheOperationTheFileAndTheReason) {
  writeFile("data", "0123456789");
  RandomAccessFile closed("data", O_RDONLY);
  closed.close();
  RandomAccessFile readOnly("data", O_RDONLY);
  char buffer[16];
  const std::string ebadf = strerror(EBADF);
  struct {
    std::function<void()> call;
    std::string text;
  } cases[] = {
      {[] { RandomAccessFile("missing", O_RDONLY); },
       "File open error: missing: " + std::string(strerror(ENOENT))},
      {[] { RandomAccessFile("no/such/dir/f", O_WRONLY | O_CREAT); },
       "File create error: no/such/dir/f: " + std::string(strerror(ENOENT))},
      {[&] {
         RandomAccessFile f("data", O_RDONLY);
         f.seek(6);
         f.readFully(buffer, 10);
       },
       "File unexpected end of input error: data"},
      {[&] { closed.read(buffer, 4); }, "File read error: data: " + ebadf},
      {[&] { closed.position(); }, "File seek error: data: " + ebadf},
      {[&] { closed.seek(0); }, "File seek error: data: " + ebadf},
      {[&] { closed.size(); }, "File fstat error: data: " + ebadf},
      {[&] { closed.truncate(0); }, "File ftruncate error: data: " + ebadf},
      {[&] { readOnly.writeFully("x", 1); }, "File write error: data: " + ebadf},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception, expected: " << c.text;
    } catch (const Exception& e) {  // caught as the base: toString is virtual
      EXPECT_EQ(c.text, str(e.toString()));
    }
  }
}

TEST_F(RandomAccessFileTest, ReadsWritesPositionsAndSizes) {
  RandomAccessFile file("f", O_RDWR | O_CREAT | O_TRUNC);
  file.writeFully("hello world", 11);
  EXPECT_EQ(11u, file.size());
  EXPECT_EQ(11u, file.position());
  file.seek(6);
  char buffer[8] = {};
  EXPECT_EQ(5, file.read(buffer, 8));
  EXPECT_EQ("world", std::string(buffer, 5));
  EXPECT_EQ(-1, file.read(buffer, 1));
  EXPECT_EQ(0, file.read(buffer, 0));
  file.seek(0);
  EXPECT_EQ("hello world", str(file.readAll()));
  file.truncate(5);
  file.seek(0);
  EXPECT_EQ("hello", str(file.readAll()));
  file.close();
  file.close();  // closing twice is harmless
  EXPECT_EQ(-1, file.getDescriptor());

  struct stat status;
  ASSERT_EQ(0, stat("f", &status));
  EXPECT_EQ(0600u, status.st_mode & 07777) << "new files are 0600 under umask 022";
}

TEST_F(RandomAccessFileTest, OpenReportsFailureByItsResultAndDoesNotLeak) {
  RandomAccessFile file;
  EXPECT_FALSE(file.open("missing", O_RDONLY));
  writeFile("a", "A");
  writeFile("b", "B");
  ASSERT_TRUE(file.open("a", O_RDONLY));
  int first = file.getDescriptor();
  int after = dup(0);  // takes the lowest free number, now above `first`
  ASSERT_TRUE(file.open("b", O_RDONLY));
  EXPECT_EQ(first, file.getDescriptor()) << "the first descriptor was closed and reused";
  EXPECT_EQ("B", str(file.readAll()));
  ::close(after);
}

// A file whose system writes take at most three bytes: writeFully must go on
// after each partial write with the bytes not yet written.
class TrickleFile : public RandomAccessFile {
 public:
  using RandomAccessFile::RandomAccessFile;
  int write(int descriptor, const void* buffer, uint32_t length) override {
    ++calls;
    return RandomAccessFile::write(descriptor, buffer, length < 3 ? length : 3);
  }
  int calls = 0;
};

TEST_F(RandomAccessFileTest, PartialWritesContinueWithTheRest) {
  {
    TrickleFile file("t", O_WRONLY | O_CREAT | O_TRUNC);
    file.writeFully("abcdefghij", 10);
    file.writeFully("", 0);
    EXPECT_EQ(4, file.calls);
  }
  EXPECT_EQ("abcdefghij", readFile("t"));
}

TEST_F(RandomAccessFileTest, BorrowedDescriptorStaysOpen) {
  int fd = ::open(".", O_RDONLY);
  { RandomAccessFile borrowed(fd); }
  EXPECT_EQ(0, fcntl(fd, F_GETFD) == -1 ? 1 : 0) << "still open";
  ::close(fd);
}

// Runs `body` in a child process and returns its exit status.
int inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RandomAccessFileTest, TryLockIsRefusedWhileAnotherProcessHoldsTheRange) {
  writeFile("locked", std::string(100, 'x'));
  RandomAccessFile file("locked", O_RDWR);
  RandomAccessFile::Lock lock = file.tryLock(10, 20, false);
  ASSERT_TRUE(lock.held());
  EXPECT_EQ(0, inChild([] {
              RandomAccessFile other("locked", O_RDWR);
              bool overlapping = other.tryLock(15, 5, true).held();
              bool apart = other.tryLock(40, 5, false).held();
              return !overlapping && apart ? 0 : 1;
            }));
  lock.release();
  EXPECT_EQ(0, inChild([] {
              RandomAccessFile other("locked", O_RDWR);
              return other.tryLock(15, 5, false).held() ? 0 : 1;
            }));
}

TEST_F(RandomAccessFileTest, LockWaitsUntilTheRangeIsFree) {
  writeFile("locked", std::string(100, 'x'));
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t pid = fork();
  if (pid == 0) {
    RandomAccessFile other("locked", O_RDWR);
    RandomAccessFile::Lock held = other.lock(0, 50, false);
    char byte = 1;
    (void)!::write(ready[1], &byte, 1);
    usleep(300 * 1000);
    _exit(0);  // the system drops the lock with the process
  }
  char byte;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  RandomAccessFile file("locked", O_RDWR);
  EXPECT_FALSE(file.tryLock(0, 10, false).held());
  auto start = std::chrono::steady_clock::now();
  RandomAccessFile::Lock lock = file.lock(0, 10, false);
  EXPECT_TRUE(lock.held());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100))
      << "lock() returned before the other process let go";
  waitpid(pid, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
}

// Stands for a file system that refuses byte-range locks.
int refuseByteRangeLocks(int, int, struct flock*) {
  errno = ENOTSUP;
  return -1;
}

class WholeFileFallbackTest : public RandomAccessFileTest {
 protected:
  void SetUp() override {
    RandomAccessFileTest::SetUp();
    previous_ = fileLocking::byteRangeLock;
    fileLocking::byteRangeLock = refuseByteRangeLocks;
  }
  void TearDown() override {
    fileLocking::byteRangeLock = previous_;
    RandomAccessFileTest::TearDown();
  }
  fileLocking::ByteRangeLock previous_;
};

TEST_F(WholeFileFallbackTest, NestedLocksAreCountedAndHoldTheWholeFile) {
  writeFile("locked", std::string(100, 'x'));
  auto otherProcessCanLock = [] {
    return inChild([] {
             RandomAccessFile other("locked", O_RDWR);
             return other.tryLock(90, 1, true).held() ? 0 : 1;
           }) == 0;
  };
  RandomAccessFile file("locked", O_RDWR);
  RandomAccessFile::Lock first = file.tryLock(0, 10, true);
  RandomAccessFile::Lock second = file.tryLock(50, 10, true);
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(second.held()) << "the second lock on one descriptor only counts";
  EXPECT_EQ(2u, fileLocking::fallbackCount(file.getDescriptor()));
  EXPECT_FALSE(otherProcessCanLock()) << "the fallback is exclusive and spans the file";
  first.release();
  EXPECT_FALSE(otherProcessCanLock());
  second.release();
  EXPECT_EQ(0u, fileLocking::fallbackCount(file.getDescriptor()));
  EXPECT_TRUE(otherProcessCanLock());
}

TEST_F(WholeFileFallbackTest, ClosingForgetsTheCount) {
  writeFile("locked", "x");
  RandomAccessFile file("locked", O_RDWR);
  RandomAccessFile::Lock lock = file.tryLock(0, 1, false);
  int descriptor = file.getDescriptor();
  EXPECT_EQ(1u, fileLocking::fallbackCount(descriptor));
  file.close();
  EXPECT_EQ(0u, fileLocking::fallbackCount(descriptor));
}

TEST(FileLockingTest, RejectsBadCommandsAndDescriptors) {
  struct flock record = {};
  record.l_type = F_WRLCK;
  errno = 0;
  EXPECT_EQ(-1, fileLocking::lockPrimitive(3, F_DUPFD, &record));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, fileLocking::lockPrimitive(99, F_SETLK, &record));
  EXPECT_EQ(ENFILE, errno);
  EXPECT_EQ(-1, fileLocking::lockPrimitive(-1, F_SETLK, &record)) << "a closed file's -1";
  EXPECT_EQ(EBADF, errno);
}

}  // namespace
