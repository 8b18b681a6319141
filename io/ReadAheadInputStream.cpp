#include "io/ReadAheadInputStream.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Blocks, for the calling thread, every signal that arrives from outside,
// and restores the mask it had when it goes. A thread started meanwhile
// inherits the mask, so no such signal is ever handled on it, not even
// before its first instruction. The signals a thread raises itself by a
// fault stay open: blocking them would turn a crash into a hang.
class AsynchronousSignalsBlocked {
 public:
  AsynchronousSignalsBlocked() {
    sigset_t signals;
    sigfillset(&signals);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&signals, fault);
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
  }
  AsynchronousSignalsBlocked(const AsynchronousSignalsBlocked&) = delete;
  AsynchronousSignalsBlocked& operator=(const AsynchronousSignalsBlocked&) = delete;
  ~AsynchronousSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

}  // namespace

ReadAheadInputStream::ReadAheadInputStream(InputStream* in, uint32_t chunkSize, uint32_t chunks)
    : FilterInputStream(in),
      chunkSize_(chunkSize),
      chunks_(chunks),
      resumeAt_(chunks - std::max(1u, chunks / 4)),
      ring_(new char[static_cast<size_t>(chunkSize) * chunks]),
      counts_(new uint32_t[chunks]) {}

ReadAheadInputStream::~ReadAheadInputStream() { stop(); }

void ReadAheadInputStream::stop() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  freed_.notify_one();
  worker_.join();
}

void ReadAheadInputStream::close() {
  stop();
  closed_ = true;
  in_->close();
}

void ReadAheadInputStream::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A full ring is taken up again once a quarter of it is free, not
    // chunk by chunk: fewer wake-ups, each followed by several reads.
    if (ready_ == chunks_) {
      freed_.wait(lock, [this] { return stopping_ || ready_ <= resumeAt_; });
    }
    if (stopping_) return;
    // The reader only ever moves head_ and ready_ together, so this chunk
    // stays free while the lock is released.
    uint32_t index = (head_ + ready_) % chunks_;
    lock.unlock();

    // One read of the source per chunk: what arrives is handed on at once,
    // so that a slow source (a pipe) never holds back bytes that are there.
    char* chunk = ring_.get() + static_cast<size_t>(index) * chunkSize_;
    uint32_t count = 0;
    bool ended = false;
    std::exception_ptr failure;
    try {
      int got = in_->read(chunk, chunkSize_);
      if (got < 1) {
        ended = true;
      } else {
        count = static_cast<uint32_t>(got);
      }
    } catch (...) {
      // Kept whole, type and all, for the reader's thread.
      failure = std::current_exception();
    }

    lock.lock();
    if (stopping_) return;
    if (count != 0) {
      counts_[index] = count;
      ++ready_;
    }
    if (ended || failure) {
      finished_ = true;
      failure_ = failure;
    }
    lock.unlock();
    filled_.notify_one();
    if (ended || failure) return;
    lock.lock();
  }
}

int ReadAheadInputStream::read(void* buffer, uint32_t length) {
  if (length == 0) return 0;
  if (closed_) return in_->read(buffer, length);
  if (!started_) {
    started_ = true;
    AsynchronousSignalsBlocked blocked;
    worker_ = std::thread(&ReadAheadInputStream::work, this);
  }
  while (left_ == 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) {
      // Every byte of the held chunk is handed out: it goes back to the
      // worker.
      holding_ = false;
      head_ = (head_ + 1) % chunks_;
      --ready_;
      if (ready_ == resumeAt_) {
        lock.unlock();
        freed_.notify_one();
        lock.lock();
      }
    }
    filled_.wait(lock, [this] { return ready_ != 0 || finished_; });
    if (ready_ == 0) {
      // Everything before the end, or before the failure, has been read.
      if (failure_) std::rethrow_exception(failure_);
      return -1;
    }
    holding_ = true;
    next_ = ring_.get() + static_cast<size_t>(head_) * chunkSize_;
    left_ = counts_[head_];
  }
  uint32_t count = std::min({left_, length, static_cast<uint32_t>(INT_MAX)});
  memcpy(buffer, next_, count);
  next_ += count;
  left_ -= count;
  return static_cast<int>(count);
}
