// LzmaInputStream decompresses an LZMA-alone stream (a 13-byte header, then
// raw LZMA1 data) while it is read.
//
//   CipherInputStream plain(&file);
//   LzmaInputStream archive(&plain);  // reads and checks the header
//   uint32_t total = archive.getRemaining();  // the uncompressed size
//
// The stream ends after exactly the header's uncompressed size (its low 32
// bits), whatever follows in the source, or earlier at an end marker or when
// the source runs out (the reader above notices the shortfall). Failures are
// Exceptions: "data corrupt (invalid header)", "data corrupt
// (LzmaDec_AllocateProbs)" and "data corrupt (LzmaDec_DecodeToDic)"; after a
// decoding error every read raises it again.
//
// Memory: a 1024-byte input buffer, the decoder's probability table, and a
// dictionary buffer that grows as output arrives, up to the smaller of the
// header's dictionary size and uncompressed size, so a hostile header cannot
// make it allocate what the data never delivers. Read through a buffer:
// each read() hands out bytes from the dictionary buffer.
//
// Borrows the wrapped stream, which must outlive it; close() ends this stream
// and leaves the source open.
#ifndef VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H
#define VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H

#include <cstdint>
#include <memory>

#include "io/FilterInputStream.h"

class LzmaInputStream : public FilterInputStream {
 public:
  // Reads the header and prepares the decoder; raises when the header is
  // short or its properties are refused.
  explicit LzmaInputStream(InputStream* in);
  ~LzmaInputStream() override;

  // Every later read() returns -1; the source stays open.
  void close() override;
  // 1 to `length` bytes, 0 when length is 0, -1 at the end.
  int read(void* buffer, uint32_t length) override;

  // The uncompressed bytes still to come; right after construction, the
  // header's uncompressed size.
  uint32_t getRemaining() const { return remaining_; }

  // The bytes allocated for the dictionary buffer so far (for tests).
  uint32_t dictionaryCapacity() const;

 private:
  // The decoder's state and its buffers; defined beside the decoder, whose
  // headers stay out of this one.
  struct Decoder;

  // The bytes asked of the source at once.
  static constexpr uint32_t kInputSize = 1024;

  // Decodes until some output waits, the decoder has finished, or the
  // source has ended.
  void decode();
  // Called when the dictionary buffer is full and handed out: enlarges it
  // while it is below its final size, else starts it over from its start.
  void makeRoom();

  // Compressed bytes from the source.
  unsigned char input_[kInputSize];
  // The undecoded bytes in input_, from inputPosition_ on.
  uint32_t inputAvailable_ = 0;
  uint32_t inputPosition_ = 0;
  // Owned; never null.
  std::unique_ptr<Decoder> decoder_;
  // The next decoded byte to hand out; never beyond the decoder's position.
  uint32_t readPosition_ = 0;
  // The uncompressed bytes still to hand out.
  uint32_t remaining_ = 0;
  // The size the dictionary buffer may grow to: the smaller of the
  // dictionary size and the uncompressed size.
  uint32_t dictionaryLimit_ = 0;
  // Set by a decoding error; the decoder's state is then unusable.
  bool failed_ = false;
};

#endif  // VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H
