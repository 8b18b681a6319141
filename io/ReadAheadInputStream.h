// ReadAheadInputStream reads the stream it wraps on a thread of its own, so
// that the work of the streams below it (decompressing, descrambling,
// reading the disk) runs on another core while the reader above works on
// what has already arrived.
//
//   LzmaInputStream lzma(&plain);
//   ReadAheadInputStream ahead(&lzma, 256 * 1024, 16);  // at most 4 MiB ahead
//   ArchiveRead reader(&ahead, false);
//
// The worker starts with the first read(). It fills a ring of `chunks`
// buffers of `chunkSize` bytes, each in as many reads of the source as it
// takes, and waits while all of them are full (a reader waits for a whole
// chunk, or for the end): it never runs more than
// chunks * chunkSize bytes ahead of the reader. The reader sees exactly the
// bytes the source delivers, in order; the source's end, or the exception
// that one of its reads raised, comes after the last byte read before it, at
// the same point in the byte sequence as without the worker. The exception
// object is carried to the reader's thread whole (type and text), and
// raised again by every later read().
//
// Threads: one reader thread calls read() and close(); the source is read by
// the worker only, from the first read() until the worker is stopped (by
// close() or the destructor, which wait for the source's read in progress
// and start no other).
// The worker blocks every asynchronous signal, so a process's signal
// handlers run on its other threads, never on a worker.
//
// Borrows the wrapped stream, which must outlive this filter; destroying the
// filter stops and joins the worker first, also after a failure.
#ifndef VANTOREL_IO_READAHEADINPUTSTREAM_H
#define VANTOREL_IO_READAHEADINPUTSTREAM_H

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "io/FilterInputStream.h"

class ReadAheadInputStream : public FilterInputStream {
 public:
  // REQUIRES: chunkSize > 0, chunks > 0.
  ReadAheadInputStream(InputStream* in, uint32_t chunkSize, uint32_t chunks);
  ReadAheadInputStream(const ReadAheadInputStream&) = delete;
  ReadAheadInputStream& operator=(const ReadAheadInputStream&) = delete;
  // Stops and joins the worker.
  ~ReadAheadInputStream() override;

  // Stops the worker, drops what it read ahead, and closes the source;
  // later reads go to the source directly.
  void close() override;
  // 1 to `length` bytes of what the worker read, -1 at the source's end;
  // raises the source's exception once the bytes before it are read. 0 when
  // length is 0.
  int read(void* buffer, uint32_t length) override;

 private:
  // The worker's loop: reads into free chunks until the source ends or
  // fails, or it is told to stop.
  void work();
  // Tells the worker to stop and waits for it.
  void stop();

  const uint32_t chunkSize_;
  const uint32_t chunks_;
  // A worker that found the ring full reads again once no more than this
  // many chunks are filled: a quarter of the ring (at least one) is free.
  const uint32_t resumeAt_;
  // chunks_ buffers of chunkSize_ bytes, one after the other; owned.
  std::unique_ptr<char[]> ring_;
  // The byte count of each chunk.
  std::unique_ptr<uint32_t[]> counts_;

  std::mutex mutex_;
  // Signalled when a chunk is filled, or the worker has finished.
  std::condition_variable filled_;
  // Signalled when the reader frees a chunk, or the worker must stop.
  std::condition_variable freed_;
  // Guarded by mutex_: the chunk the reader takes next (or holds), and the
  // number of filled chunks from there on, the held one included. The
  // worker fills chunk (head_ + ready_) % chunks_.
  uint32_t head_ = 0;
  uint32_t ready_ = 0;
  // Guarded by mutex_: the worker has met the source's end or failure_, and
  // fills nothing more.
  bool finished_ = false;
  // Guarded by mutex_: what the source raised; empty at its end.
  std::exception_ptr failure_;
  // Guarded by mutex_: the worker must stop.
  bool stopping_ = false;

  // Reader side: whether the worker was started, whether close() stopped
  // it, and the held chunk's bytes not yet handed out.
  bool started_ = false;
  bool closed_ = false;
  bool holding_ = false;
  const char* next_ = nullptr;
  uint32_t left_ = 0;

  std::thread worker_;
};

#endif  // VANTOREL_IO_READAHEADINPUTSTREAM_H
