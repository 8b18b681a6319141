// Crc32 is the archive's checksum: a 32-bit CRC with the polynomial
// 0x04C11DB7, processed most significant bit first (no reflection), initial
// value 0 and no final XOR. The three bytes "abc" give 0x2C17398C.
//
// update() runs eight bytes per step through eight tables (slicing-by-8);
// updateBytewise() is the plain one-table reference it must always agree
// with. The tables are constant data, computed at compile time.
#ifndef VANTOREL_ARCHIVE_CRC32_H
#define VANTOREL_ARCHIVE_CRC32_H

#include <cstdint>

class Crc32 {
 public:
  // The generator polynomial, without its x^32 term.
  static constexpr uint32_t kPolynomial = 0x04C11DB7;

  Crc32() : value_(0) {}

  void reset() { value_ = 0; }
  void update(const void* bytes, uint32_t length);
  // One table, one byte per step: the reference for update().
  void updateBytewise(const void* bytes, uint32_t length);
  uint32_t value() const { return value_; }

 private:
  uint32_t value_;
};

#endif  // VANTOREL_ARCHIVE_CRC32_H
