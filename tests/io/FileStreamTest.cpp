#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::str;
using testsupport::writeFile;

class FileStreamTest : public testsupport::TempDirTest {};

TEST_F(FileStreamTest, WritesAndReadsFiles) {
  {
    FileOutputStream out("f");
    out.write("abc", 3);
    out.write("", 0);
    out.flush();
  }
  EXPECT_EQ("abc", readFile("f"));
  {
    FileOutputStream again("f");  // emptied
  }
  EXPECT_EQ("", readFile("f"));
  writeFile("g", "12345");
  FileInputStream in("g");
  char buffer[8];
  EXPECT_EQ(0, in.read(buffer, 0));
  EXPECT_EQ(5, in.read(buffer, 8));
  EXPECT_EQ(-1, in.read(buffer, 1));
  EXPECT_THROW_TEXT(FileInputStream("missing"), Exception,
                    std::string("File open error: missing: ") + strerror(ENOENT));
}

TEST_F(FileStreamTest, StreamOnADescriptorLeavesItOpen) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  {
    FileOutputStream out(fds[1]);
    out.write("hi", 2);
  }
  {
    FileInputStream in(fds[0]);
    char buffer[2];
    EXPECT_EQ(2, in.read(buffer, 2));
  }
  EXPECT_EQ(1, ::write(fds[1], "x", 1)) << "both ends still open";
  close(fds[0]);
  close(fds[1]);
}

void onAlarm(int) {}

// Signals that interrupt a blocking pipe write after part of it went through
// make write() return short; every byte must still arrive once, in order.
TEST_F(FileStreamTest, PartialWritesOnAPipeLoseAndRepeatNothing) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::string data(4 << 20, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 12));
  std::string received;
  std::thread reader([&] {
    char buffer[1000];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<size_t>(n));
      if (received.size() % 64000 < 1000) usleep(200);
    }
  });
  struct sigaction action = {};
  action.sa_handler = onAlarm;
  action.sa_flags = SA_RESTART;
  struct sigaction previous;
  sigaction(SIGALRM, &action, &previous);
  struct itimerval timer = {{0, 500}, {0, 500}};
  setitimer(ITIMER_REAL, &timer, nullptr);
  {
    FileOutputStream out(fds[1]);
    out.write(data.data(), static_cast<uint32_t>(data.size()));
  }
  struct itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

}  // namespace
