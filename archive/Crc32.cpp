#include "archive/Crc32.h"

#include <array>

namespace {

using Table = std::array<uint32_t, 256>;
using Tables = std::array<Table, 8>;

// tables[0][i] is i shifted to the top byte and run through eight steps of
// the polynomial: the CRC of the byte i. tables[k][i] is the CRC of the byte i
// followed by k zero bytes, which lets eight bytes be folded in one step.
constexpr Tables makeTables() {
  Tables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i << 24;
    for (int step = 0; step < 8; ++step) {
      value = (value & 0x80000000u) != 0 ? (value << 1) ^ Crc32::kPolynomial : value << 1;
    }
    tables[0][i] = value;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}

constexpr Tables kTables = makeTables();

static_assert(kTables[0][1] == Crc32::kPolynomial, "the table's first step is the polynomial");

}  // namespace

void Crc32::updateBytewise(const void* bytes, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  uint32_t value = value_;
  for (uint32_t i = 0; i < length; ++i) value = (value << 8) ^ kTables[0][(value >> 24) ^ p[i]];
  value_ = value;
}

void Crc32::update(const void* bytes, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  uint32_t value = value_;
  while (length >= 8) {
    value ^= static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
             static_cast<uint32_t>(p[2]) << 8 | p[3];
    value = kTables[7][value >> 24] ^ kTables[6][(value >> 16) & 0xFF] ^
            kTables[5][(value >> 8) & 0xFF] ^ kTables[4][value & 0xFF] ^ kTables[3][p[4]] ^
            kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    p += 8;
    length -= 8;
  }
  while (length-- != 0) value = (value << 8) ^ kTables[0][(value >> 24) ^ *p++];
  value_ = value;
}
