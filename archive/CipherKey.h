// CipherKey is a 128-bit TEA key and the block operations that use it: the
// published Tiny Encryption Algorithm, 32 cycles, on 8-byte blocks read as two
// little-endian 32-bit words.
//
//   CipherKey key;                  // the default key of install.data
//   key.encipher(plain, scrambled);  // one 8-byte block
//
// The stream classes CipherInputStream and CipherOutputStream apply it to
// every block of a stream (no chaining, no initialisation vector). A key is a
// plain value: copying it is intended.
#ifndef VANTOREL_ARCHIVE_CIPHERKEY_H
#define VANTOREL_ARCHIVE_CIPHERKEY_H

#include <cstdint>

class CipherKey {
 public:
  // The bytes of one TEA block.
  static constexpr uint32_t kBlockSize = 8;

  // The default key, fixed when the program is built; the tool that makes
  // install.data scrambles it with the same key.
  CipherKey();
  CipherKey(uint32_t k0, uint32_t k1, uint32_t k2, uint32_t k3) : k_{k0, k1, k2, k3} {}

  // One block each; `in` and `out` may be the same 8 bytes.
  void encipher(const void* in, void* out) const;
  void decipher(const void* in, void* out) const;

  // `blocks` consecutive blocks; `in` and `out` may be the same bytes.
  void decipherBlocks(const void* in, void* out, uint32_t blocks) const;

 private:
  // k0 to k3.
  uint32_t k_[4];
};

#endif  // VANTOREL_ARCHIVE_CIPHERKEY_H
