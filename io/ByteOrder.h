// Small helpers that read and write fixed-width unsigned integers in a named
// byte order, so that no code casts a struct or an integer pointer over bytes.
//
// The system's binary records are big-endian (the data streams and the
// archive); the TEA blocks and the LZMA-alone header are little-endian.
// Every helper works on unaligned bytes.
#ifndef VANTOREL_IO_BYTEORDER_H
#define VANTOREL_IO_BYTEORDER_H

#include <cstdint>

// The 32-bit value of bytes[0..3], bytes[0] least significant.
inline uint32_t loadLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Stores `value` in bytes[0..3], least significant byte first.
inline void storeLittleEndian32(unsigned char* bytes, uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

// The unsigned value of bytes[0..width-1], most significant byte first.
// REQUIRES: width <= 8.
inline uint64_t loadBigEndian(const unsigned char* bytes, uint32_t width) {
  uint64_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value = value << 8 | bytes[i];
  return value;
}

// Stores the `width` low-order bytes of `value` in bytes[0..width-1], most
// significant first; higher bits are dropped.
// REQUIRES: width <= 8.
inline void storeBigEndian(unsigned char* bytes, uint64_t value, uint32_t width) {
  for (uint32_t i = width; i > 0; --i) {
    bytes[i - 1] = static_cast<unsigned char>(value);
    value >>= 8;
  }
}

#endif  // VANTOREL_IO_BYTEORDER_H
