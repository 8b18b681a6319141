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
// Failure points: a stream fed to the decoder 1024 bytes at a time (the
// pieces in which this stream used to read its source, each decoder call
// also ending where its dictionary buffer grew or started over) meets a
// decoding error, or a failure of its source, after delivering the output
// of every call before the failing one. That is where the reader above
// meets it, and it decides what the reader reports (a failure where the
// archive expects a marker reads as a crashed writer). For speed the
// decoder is fed 64 KiB per call; when such a call fails, the call is
// decoded again from a copy of the decoder's state taken before it, piece
// by piece, to find that same point. A stream whose probability table is
// too large to copy cheaply (a hostile header), or whose output wraps
// around a dictionary above 8 MiB, is decoded piece by piece throughout.
//
// Memory: a 64 KiB input buffer, the decoder's probability table and its
// copy, and a dictionary buffer that grows as output arrives, up to the
// header's uncompressed size, or for a longer stream up to the dictionary
// size (twice that when it is at most 8 MiB, so that a failed call has not
// overwritten what it is decoded again from). A hostile header thus cannot
// make it allocate what the data never delivers. Read through a buffer:
// each read() hands out bytes from the dictionary buffer.
//
// Borrows the wrapped stream, which must outlive it; close() ends this stream
// and leaves the source open.
#ifndef VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H
#define VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "io/FilterInputStream.h"

class LzmaInputStream : public FilterInputStream {
 public:
  // Reads the header and prepares the decoder; raises when the header is
  // short or its properties are refused. With `pieceByPiece` the decoder
  // is fed 1024 bytes per call throughout: slower, with the same results.
  explicit LzmaInputStream(InputStream* in, bool pieceByPiece = false);
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

  // The compressed bytes read from the source at once and handed to the
  // decoder in one call.
  static constexpr uint32_t kInputSize = 64 * 1024;

  // Decodes until some output waits, the decoder has finished or failed,
  // or the input has ended.
  void decode();
  // Called when the dictionary buffer is full and handed out: enlarges it
  // while it is below its final size, else starts it over from its start.
  void makeRoom();
  // The next output position (counted from the start) at which the
  // piece-by-piece decoder's buffer grew or started over: a call of
  // either decoder ends there.
  uint64_t nextBoundary() const;
  // Refills the input buffer from the source; false when no input is left.
  bool refill();
  // One decoder call on all buffered input; on failure, finds the failure
  // point (see above) and returns false.
  bool decodeChunk(int* status);
  // One decoder call on the rest of the current 1024-byte piece, stopping
  // at `limit` in the dictionary buffer and at the next output position
  // where the piece-by-piece decoder's buffer grew or started over. Returns
  // false on failure, with the decoder's position put back to where the
  // call began.
  bool decodePiece(int* status, size_t limit);

  // Compressed bytes from the source: kInputSize, owned.
  std::unique_ptr<unsigned char[]> input_;
  // The undecoded bytes in input_, from inputPosition_ on.
  uint32_t inputAvailable_ = 0;
  uint32_t inputPosition_ = 0;
  // The offset in the compressed data (after the header) of input_[0].
  uint64_t inputOffset_ = 0;
  // The source has ended, or failed (sourceFailure_): input_ holds the
  // last bytes there are.
  bool sourceDone_ = false;
  // What the source raised, to be raised again where the piece it broke is
  // needed.
  std::exception_ptr sourceFailure_;
  // Owned; never null.
  std::unique_ptr<Decoder> decoder_;
  // The next decoded byte to hand out; never beyond the decoder's position.
  uint32_t readPosition_ = 0;
  // The uncompressed bytes still to hand out.
  uint32_t remaining_ = 0;
  // The header's uncompressed size.
  uint32_t declared_ = 0;
  // The bytes decoded since the start, including those not yet handed out.
  uint64_t produced_ = 0;
  // The size the dictionary buffer may grow to.
  uint64_t dictionaryLimit_ = 0;
  // The piece-by-piece decoder's dictionary buffer: its first size, and the
  // size it grew to (the smaller of the dictionary and uncompressed sizes).
  uint32_t pieceFirstSize_ = 0;
  uint32_t pieceLimit_ = 0;
  // Whether the decoder is fed 1024 bytes per call throughout.
  bool pieceByPiece_ = false;
  // Set at the failure point; the decoder's state is then unusable, and
  // once the bytes before the point are handed out every read raises.
  bool failed_ = false;
};

#endif  // VANTOREL_ARCHIVE_LZMAINPUTSTREAM_H
