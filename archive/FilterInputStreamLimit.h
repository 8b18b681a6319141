// FilterInputStreamLimit lets a reader consume exactly one segment of a
// stream: at most `limit` bytes pass, then read() returns -1 without touching
// the source, which stays positioned right after the segment.
//
//   FilterInputStreamLimit block(&in, 16);
//   CipherInputStream plain(&block);  // stops at the segment's end
//
// Borrows the wrapped stream, which must outlive it; destruction leaves the
// source open, close() closes it.
#ifndef VANTOREL_ARCHIVE_FILTERINPUTSTREAMLIMIT_H
#define VANTOREL_ARCHIVE_FILTERINPUTSTREAMLIMIT_H

#include <algorithm>
#include <cstdint>

#include "io/FilterInputStream.h"

class FilterInputStreamLimit : public FilterInputStream {
 public:
  FilterInputStreamLimit(InputStream* in, uint32_t limit)
      : FilterInputStream(in), remaining_(limit) {}

  // The source's read() for at most the bytes left in the segment; -1 once
  // the segment is spent.
  int read(void* buffer, uint32_t length) override {
    if (remaining_ == 0) return -1;
    int count = in_->read(buffer, std::min(remaining_, length));
    if (count > 0) remaining_ -= static_cast<uint32_t>(count);
    return count;
  }

 private:
  // The bytes of the segment not yet read.
  uint32_t remaining_;
};

#endif  // VANTOREL_ARCHIVE_FILTERINPUTSTREAMLIMIT_H
