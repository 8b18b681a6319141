// LzmaOutputStream compresses what is written to it into raw LZMA1 data on
// the wrapped stream, with liblzma's encoder at a preset level (0 to 9,
// optionally extreme). It writes no header: writeHeader() produces the
// 13-byte LZMA-alone header for a given uncompressed size, which the caller
// places in front (installdata patches it in once the size is known).
//
// close() finishes the compressed data (ending with an end-of-payload
// marker) and closes the wrapped stream, which is borrowed and must outlive
// this filter.
#ifndef VANTOREL_TOOLS_LZMAOUTPUTSTREAM_H
#define VANTOREL_TOOLS_LZMAOUTPUTSTREAM_H

#include <cstdint>

#include "io/FilterOutputStream.h"

class LzmaOutputStream : public FilterOutputStream {
 public:
  static constexpr uint32_t kHeaderSize = 13;

  LzmaOutputStream(OutputStream* out, uint32_t level, bool extreme);
  ~LzmaOutputStream() noexcept(false) override;

  void write(const void* buffer, uint32_t length) override;
  // Compressed data cannot be flushed midway without cost; does nothing.
  void flush() override {}
  // Finishes the compressed data, then closes the wrapped stream.
  void close() override;
  // Finishes the compressed data without closing the wrapped stream; later
  // writes raise.
  void finish();

  // The LZMA-alone header of this encoder's settings for `size` bytes.
  void writeHeader(unsigned char header[kHeaderSize], uint64_t size) const;
  // Uncompressed bytes written so far.
  uint64_t getWritten() const { return written_; }

 private:
  struct State;
  void run(bool finish);

  State* state_;  // owned
  uint64_t written_;
  bool finished_;
};

#endif  // VANTOREL_TOOLS_LZMAOUTPUTSTREAM_H
