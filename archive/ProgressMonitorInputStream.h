// ProgressMonitorInputStream reports every byte read through it to a
// ProgressMonitor. It passes at most total / 500 + 1 bytes per read(), so
// the monitor hears at least once per 0.2 % of the total however large the
// reads above it are.
//
//   ProgressMonitorText monitor(lzma.getRemaining(), &terminal);
//   ProgressMonitorInputStream progress(&lzma, &monitor);
//
// Borrows the wrapped stream and the monitor; both must outlive it. close()
// closes the wrapped stream.
#ifndef VANTOREL_ARCHIVE_PROGRESSMONITORINPUTSTREAM_H
#define VANTOREL_ARCHIVE_PROGRESSMONITORINPUTSTREAM_H

#include <algorithm>
#include <cstdint>

#include "archive/ProgressMonitor.h"
#include "io/FilterInputStream.h"

class ProgressMonitorInputStream : public FilterInputStream {
 public:
  ProgressMonitorInputStream(InputStream* in, ProgressMonitor* monitor)
      : FilterInputStream(in),
        monitor_(monitor),
        chunk_(monitor->getTotal() / kReportsPerTotal + 1) {}

  // The source's read() for at most one chunk; the bytes delivered are
  // counted and reported (the end of input is not).
  int read(void* buffer, uint32_t length) override {
    int count = in_->read(buffer, std::min(chunk_, length));
    if (count < 0) return count;
    count_ += static_cast<uint32_t>(count);
    monitor_->update(count_);
    return count;
  }

 private:
  // Reads are cut so that the monitor hears at least this often over the
  // total: once per 0.2 %.
  static constexpr uint32_t kReportsPerTotal = 500;

  // Borrowed; never null.
  ProgressMonitor* monitor_;
  // The bytes delivered so far.
  uint32_t count_ = 0;
  // The most bytes passed on per read(): the total / 500 + 1.
  uint32_t chunk_;
};

#endif  // VANTOREL_ARCHIVE_PROGRESSMONITORINPUTSTREAM_H
