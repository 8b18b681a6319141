// In-memory streams for tests: a source that hands out at most a given number
// of bytes per read and counts its calls, one that fails at a given offset,
// and a sink that records every call.
#ifndef VANTOREL_TESTS_SUPPORT_TESTSTREAMS_H
#define VANTOREL_TESTS_SUPPORT_TESTSTREAMS_H

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "io/InputStream.h"
#include "io/OutputStream.h"
#include "lang/Exception.h"

namespace testsupport {

class MemorySource : public InputStream {
 public:
  // Returns at most `chunk` bytes per read (0: as many as asked).
  explicit MemorySource(std::string data, uint32_t chunk = 0)
      : MemorySource(std::move(data), std::vector<uint32_t>{chunk}) {}
  // The i-th read returns at most chunks[i % chunks.size()] bytes (0: as
  // many as asked), as a pipe hands out whatever has arrived.
  MemorySource(std::string data, std::vector<uint32_t> chunks)
      : data_(std::move(data)), chunks_(std::move(chunks)) {}

  int read(void* buffer, uint32_t length) override {
    ++reads;
    requested.push_back(length);
    if (position_ >= data_.size()) return -1;
    size_t n = std::min<size_t>(length, data_.size() - position_);
    uint32_t chunk = chunks_[(reads - 1) % chunks_.size()];
    if (chunk != 0) n = std::min<size_t>(n, chunk);
    if (n == 0) return length == 0 ? 0 : -1;
    memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return static_cast<int>(n);
  }
  void close() override { ++closes; }

  size_t position() const { return position_; }

  int reads = 0;
  int closes = 0;
  std::vector<uint32_t> requested;

 private:
  std::string data_;
  std::vector<uint32_t> chunks_;
  size_t position_ = 0;
};

// Hands out its bytes up to `failAt`, then calls `fail` (which raises) on
// every read, as a stream below that breaks at that point.
class FailingSource : public MemorySource {
 public:
  FailingSource(std::string data, size_t failAt, std::function<void()> fail)
      : MemorySource(std::move(data)), failAt_(failAt), fail_(std::move(fail)) {}

  int read(void* buffer, uint32_t length) override {
    if (position() >= failAt_) fail_();
    return MemorySource::read(
        buffer, static_cast<uint32_t>(std::min<size_t>(length, failAt_ - position())));
  }

 private:
  size_t failAt_;
  std::function<void()> fail_;
};

class RecordingSink : public OutputStream {
 public:
  void write(const void* buffer, uint32_t length) override {
    if (failWrites) throw Exception("sink write failure");
    writes.push_back(length);
    data.append(static_cast<const char*>(buffer), length);
  }
  void flush() override { ++flushes; }
  void close() override { ++closes; }

  std::string data;
  std::vector<uint32_t> writes;
  int flushes = 0;
  int closes = 0;
  bool failWrites = false;
};

// Reads `in` to its end with reads of `length` bytes.
inline std::string readAll(InputStream& in, uint32_t length = 4096) {
  std::string all;
  std::vector<char> buffer(length);
  int count;
  while ((count = in.read(buffer.data(), length)) > 0) all.append(buffer.data(), count);
  return all;
}

}  // namespace testsupport

#endif  // VANTOREL_TESTS_SUPPORT_TESTSTREAMS_H
