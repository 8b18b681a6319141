// CipherInputStream descrambles the stream it wraps while it is read: every
// 8-byte block is deciphered with TEA under one key (see CipherKey).
//
//   FileInputStream file(path);
//   CipherInputStream plain(&file);  // the default key
//   LzmaInputStream archive(&plain);
//
// It reads its source in chunks of up to 128 bytes and keeps one chunk
// deciphered. A read() returns as many bytes as asked unless the source
// ends. A source may return blocks in pieces (a pipe, a terminal): the
// stream reads on until it holds whole blocks, and only a partial block at
// the very end of the source is handed out as far as it goes (its missing
// bytes deciphered as zeros). A stream written by CipherOutputStream always
// ends on a whole block.
//
// Borrows the wrapped stream, which must outlive it; close() closes it.
#ifndef VANTOREL_ARCHIVE_CIPHERINPUTSTREAM_H
#define VANTOREL_ARCHIVE_CIPHERINPUTSTREAM_H

#include <cstdint>

#include "archive/CipherKey.h"
#include "io/FilterInputStream.h"

class CipherInputStream : public FilterInputStream {
 public:
  // Deciphers with the default key.
  explicit CipherInputStream(InputStream* in) : FilterInputStream(in) {}
  CipherInputStream(InputStream* in, const CipherKey& key) : FilterInputStream(in), key_(key) {}

  // `length` bytes unless the source ends first; -1 when the source is at
  // its end and nothing is buffered. A length of 0 returns 0 while
  // deciphered bytes are waiting, else -1.
  int read(void* buffer, uint32_t length) override;

 private:
  // The most bytes asked of the source at once: 16 blocks.
  static constexpr uint32_t kChunkSize = 128;

  // Reads the next chunk of whole blocks (or the source's last bytes) into
  // plain_ and deciphers it; returns whether the source delivered anything.
  bool fill();

  CipherKey key_;
  // The deciphered chunk.
  unsigned char plain_[kChunkSize];
  // The next byte of plain_ to hand out; position_ <= count_.
  uint32_t position_ = 0;
  // The valid bytes in plain_.
  uint32_t count_ = 0;
};

#endif  // VANTOREL_ARCHIVE_CIPHERINPUTSTREAM_H
