// CipherOutputStream scrambles what is written to it: every 8-byte block is
// enciphered with TEA under one key (see CipherKey) and written to the
// wrapped stream in one call. Up to 7 bytes wait for the rest of their block;
// close() (or destruction) completes that block with zero bytes, so the
// scrambled stream's length is always a multiple of 8.
//
//   BufferedOutputStream buffered(&file);
//   CipherOutputStream scrambled(&buffered);  // the default key
//   scrambled.write(data, size);
//   scrambled.close();  // pads, writes and closes the wrapped stream
//
// It writes one call per block, so put a buffered stream below it. flush()
// always raises: a partial block cannot be written. Borrows the wrapped
// stream, which must outlive it; destruction writes a waiting block but
// neither flushes nor closes the wrapped stream.
#ifndef VANTOREL_ARCHIVE_CIPHEROUTPUTSTREAM_H
#define VANTOREL_ARCHIVE_CIPHEROUTPUTSTREAM_H

#include <cstdint>

#include "archive/CipherKey.h"
#include "io/FilterOutputStream.h"

class CipherOutputStream : public FilterOutputStream {
 public:
  // Enciphers with the default key.
  explicit CipherOutputStream(OutputStream* out) : FilterOutputStream(out) {}
  CipherOutputStream(OutputStream* out, const CipherKey& key)
      : FilterOutputStream(out), key_(key) {}
  // Pads and writes a waiting block. An Exception from that write is
  // dropped; any other failure (out of memory) propagates, except while
  // another exception unwinds.
  ~CipherOutputStream() noexcept(false) override;

  // Pads and writes a waiting block, then closes the wrapped stream.
  void close() override;
  // Raises Exception "CipherOutputStream::flush not possible".
  void flush() override;
  void write(const void* buffer, uint32_t length) override;

 private:
  // Enciphers `block` and writes it in one call.
  void writeBlock(const unsigned char* block);
  // Completes the pending block with zeros and writes it.
  void writePadded();

  CipherKey key_;
  // The bytes of a block not yet complete.
  unsigned char pending_[CipherKey::kBlockSize];
  // The bytes in pending_; below 8 between calls.
  uint32_t fill_ = 0;
};

#endif  // VANTOREL_ARCHIVE_CIPHEROUTPUTSTREAM_H
