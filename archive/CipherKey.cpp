#include "archive/CipherKey.h"

#include "BuildConstants.h"
#include "io/ByteOrder.h"

#if defined(__x86_64__) || defined(__i386__)
#define VANTOREL_CIPHER_X86 1
#include <immintrin.h>
#endif

namespace {

// The TEA key schedule constant, 2^32 divided by the golden ratio.
constexpr uint32_t kDelta = 0x9E3779B9u;
// TEA's 32 cycles.
constexpr uint32_t kCycles = 32;
// The sum after the last cycle: kCycles * kDelta, wrapped.
constexpr uint32_t kFinalSum = kDelta * kCycles;
static_assert(kFinalSum == 0xC6EF3720u, "TEA runs 32 cycles");

// Blocks that the interleaved kernel deciphers side by side: enough
// independent work to keep a processor's arithmetic units busy while each
// block's cycles wait for the one before.
constexpr uint32_t kInterleavedBlocks = 8;

void decipherOne(const uint32_t* k, const unsigned char* from, unsigned char* to) {
  uint32_t v0 = loadLittleEndian32(from);
  uint32_t v1 = loadLittleEndian32(from + 4);
  uint32_t sum = kFinalSum;
  for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
    v1 -= ((v0 << 4) + k[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k[3]);
    v0 -= ((v1 << 4) + k[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k[1]);
    sum -= kDelta;
  }
  storeLittleEndian32(to, v0);
  storeLittleEndian32(to + 4, v1);
}

void decipherEach(const uint32_t* k, const unsigned char* from, unsigned char* to,
                  uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i) {
    decipherOne(k, from + i * CipherKey::kBlockSize, to + i * CipherKey::kBlockSize);
  }
}

void decipherInterleaved(const uint32_t* k, const unsigned char* from, unsigned char* to,
                         uint32_t blocks) {
  const uint32_t k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
  for (; blocks >= kInterleavedBlocks; blocks -= kInterleavedBlocks) {
    uint32_t v0[kInterleavedBlocks], v1[kInterleavedBlocks];
    for (uint32_t i = 0; i < kInterleavedBlocks; ++i) {
      v0[i] = loadLittleEndian32(from + i * CipherKey::kBlockSize);
      v1[i] = loadLittleEndian32(from + i * CipherKey::kBlockSize + 4);
    }
    uint32_t sum = kFinalSum;
    for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
      for (uint32_t i = 0; i < kInterleavedBlocks; ++i) {
        v1[i] -= ((v0[i] << 4) + k2) ^ (v0[i] + sum) ^ ((v0[i] >> 5) + k3);
      }
      for (uint32_t i = 0; i < kInterleavedBlocks; ++i) {
        v0[i] -= ((v1[i] << 4) + k0) ^ (v1[i] + sum) ^ ((v1[i] >> 5) + k1);
      }
      sum -= kDelta;
    }
    for (uint32_t i = 0; i < kInterleavedBlocks; ++i) {
      storeLittleEndian32(to + i * CipherKey::kBlockSize, v0[i]);
      storeLittleEndian32(to + i * CipherKey::kBlockSize + 4, v1[i]);
    }
    from += kInterleavedBlocks * CipherKey::kBlockSize;
    to += kInterleavedBlocks * CipherKey::kBlockSize;
  }
  decipherEach(k, from, to, blocks);
}

#ifdef VANTOREL_CIPHER_X86
// The vector kernels keep v0 of several blocks in one register and v1 in
// another. x86 is little-endian, so a block's words load as they are; two
// registers of interleaved words (v0 v1 v0 v1 ...) are sorted into a v0 and
// a v1 register and back. Each step runs two such groups side by side.

__attribute__((target("sse2"))) void decipherSse2(const uint32_t* k, const unsigned char* from,
                                                  unsigned char* to, uint32_t blocks) {
  // Four blocks per register, two groups per step.
  constexpr uint32_t kStep = 8;
  const __m128i k0 = _mm_set1_epi32(static_cast<int>(k[0]));
  const __m128i k1 = _mm_set1_epi32(static_cast<int>(k[1]));
  const __m128i k2 = _mm_set1_epi32(static_cast<int>(k[2]));
  const __m128i k3 = _mm_set1_epi32(static_cast<int>(k[3]));
  const __m128i delta = _mm_set1_epi32(static_cast<int>(kDelta));
  for (; blocks >= kStep; blocks -= kStep) {
    const __m128i* in = reinterpret_cast<const __m128i*>(from);
    // [a0 a1 b0 b1] -> [a0 b0 a1 b1]; two of them -> v0 = [a0 b0 c0 d0].
    __m128i p = _mm_shuffle_epi32(_mm_loadu_si128(in), _MM_SHUFFLE(3, 1, 2, 0));
    __m128i q = _mm_shuffle_epi32(_mm_loadu_si128(in + 1), _MM_SHUFFLE(3, 1, 2, 0));
    __m128i r = _mm_shuffle_epi32(_mm_loadu_si128(in + 2), _MM_SHUFFLE(3, 1, 2, 0));
    __m128i s = _mm_shuffle_epi32(_mm_loadu_si128(in + 3), _MM_SHUFFLE(3, 1, 2, 0));
    __m128i v0a = _mm_unpacklo_epi64(p, q), v1a = _mm_unpackhi_epi64(p, q);
    __m128i v0b = _mm_unpacklo_epi64(r, s), v1b = _mm_unpackhi_epi64(r, s);
    __m128i sum = _mm_set1_epi32(static_cast<int>(kFinalSum));
    for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
      v1a =
          _mm_sub_epi32(v1a, _mm_xor_si128(_mm_xor_si128(_mm_add_epi32(_mm_slli_epi32(v0a, 4), k2),
                                                         _mm_add_epi32(v0a, sum)),
                                           _mm_add_epi32(_mm_srli_epi32(v0a, 5), k3)));
      v1b =
          _mm_sub_epi32(v1b, _mm_xor_si128(_mm_xor_si128(_mm_add_epi32(_mm_slli_epi32(v0b, 4), k2),
                                                         _mm_add_epi32(v0b, sum)),
                                           _mm_add_epi32(_mm_srli_epi32(v0b, 5), k3)));
      v0a =
          _mm_sub_epi32(v0a, _mm_xor_si128(_mm_xor_si128(_mm_add_epi32(_mm_slli_epi32(v1a, 4), k0),
                                                         _mm_add_epi32(v1a, sum)),
                                           _mm_add_epi32(_mm_srli_epi32(v1a, 5), k1)));
      v0b =
          _mm_sub_epi32(v0b, _mm_xor_si128(_mm_xor_si128(_mm_add_epi32(_mm_slli_epi32(v1b, 4), k0),
                                                         _mm_add_epi32(v1b, sum)),
                                           _mm_add_epi32(_mm_srli_epi32(v1b, 5), k1)));
      sum = _mm_sub_epi32(sum, delta);
    }
    __m128i* out = reinterpret_cast<__m128i*>(to);
    _mm_storeu_si128(out, _mm_unpacklo_epi32(v0a, v1a));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(v0a, v1a));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi32(v0b, v1b));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi32(v0b, v1b));
    from += kStep * CipherKey::kBlockSize;
    to += kStep * CipherKey::kBlockSize;
  }
  decipherInterleaved(k, from, to, blocks);
}

__attribute__((target("avx2"))) void decipherAvx2(const uint32_t* k, const unsigned char* from,
                                                  unsigned char* to, uint32_t blocks) {
  // Eight blocks per register, two groups per step.
  constexpr uint32_t kStep = 16;
  const __m256i k0 = _mm256_set1_epi32(static_cast<int>(k[0]));
  const __m256i k1 = _mm256_set1_epi32(static_cast<int>(k[1]));
  const __m256i k2 = _mm256_set1_epi32(static_cast<int>(k[2]));
  const __m256i k3 = _mm256_set1_epi32(static_cast<int>(k[3]));
  const __m256i delta = _mm256_set1_epi32(static_cast<int>(kDelta));
  for (; blocks >= kStep; blocks -= kStep) {
    const __m256i* in = reinterpret_cast<const __m256i*>(from);
    // Within each 128-bit half, as in the SSE2 kernel; the blocks' order in
    // the lanes does not matter as long as the way back mirrors it.
    __m256i p = _mm256_shuffle_epi32(_mm256_loadu_si256(in), _MM_SHUFFLE(3, 1, 2, 0));
    __m256i q = _mm256_shuffle_epi32(_mm256_loadu_si256(in + 1), _MM_SHUFFLE(3, 1, 2, 0));
    __m256i r = _mm256_shuffle_epi32(_mm256_loadu_si256(in + 2), _MM_SHUFFLE(3, 1, 2, 0));
    __m256i s = _mm256_shuffle_epi32(_mm256_loadu_si256(in + 3), _MM_SHUFFLE(3, 1, 2, 0));
    __m256i v0a = _mm256_unpacklo_epi64(p, q), v1a = _mm256_unpackhi_epi64(p, q);
    __m256i v0b = _mm256_unpacklo_epi64(r, s), v1b = _mm256_unpackhi_epi64(r, s);
    __m256i sum = _mm256_set1_epi32(static_cast<int>(kFinalSum));
    for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
      v1a = _mm256_sub_epi32(
          v1a, _mm256_xor_si256(_mm256_xor_si256(_mm256_add_epi32(_mm256_slli_epi32(v0a, 4), k2),
                                                 _mm256_add_epi32(v0a, sum)),
                                _mm256_add_epi32(_mm256_srli_epi32(v0a, 5), k3)));
      v1b = _mm256_sub_epi32(
          v1b, _mm256_xor_si256(_mm256_xor_si256(_mm256_add_epi32(_mm256_slli_epi32(v0b, 4), k2),
                                                 _mm256_add_epi32(v0b, sum)),
                                _mm256_add_epi32(_mm256_srli_epi32(v0b, 5), k3)));
      v0a = _mm256_sub_epi32(
          v0a, _mm256_xor_si256(_mm256_xor_si256(_mm256_add_epi32(_mm256_slli_epi32(v1a, 4), k0),
                                                 _mm256_add_epi32(v1a, sum)),
                                _mm256_add_epi32(_mm256_srli_epi32(v1a, 5), k1)));
      v0b = _mm256_sub_epi32(
          v0b, _mm256_xor_si256(_mm256_xor_si256(_mm256_add_epi32(_mm256_slli_epi32(v1b, 4), k0),
                                                 _mm256_add_epi32(v1b, sum)),
                                _mm256_add_epi32(_mm256_srli_epi32(v1b, 5), k1)));
      sum = _mm256_sub_epi32(sum, delta);
    }
    __m256i* out = reinterpret_cast<__m256i*>(to);
    _mm256_storeu_si256(out, _mm256_unpacklo_epi32(v0a, v1a));
    _mm256_storeu_si256(out + 1, _mm256_unpackhi_epi32(v0a, v1a));
    _mm256_storeu_si256(out + 2, _mm256_unpacklo_epi32(v0b, v1b));
    _mm256_storeu_si256(out + 3, _mm256_unpackhi_epi32(v0b, v1b));
    from += kStep * CipherKey::kBlockSize;
    to += kStep * CipherKey::kBlockSize;
  }
  decipherInterleaved(k, from, to, blocks);
}
#endif  // VANTOREL_CIPHER_X86

}  // namespace

CipherKey::CipherKey() : k_{VANTOREL_KEY0, VANTOREL_KEY1, VANTOREL_KEY2, VANTOREL_KEY3} {}

void CipherKey::encipher(const void* in, void* out) const {
  const unsigned char* from = static_cast<const unsigned char*>(in);
  uint32_t v0 = loadLittleEndian32(from);
  uint32_t v1 = loadLittleEndian32(from + 4);
  uint32_t sum = 0;
  for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
    sum += kDelta;
    v0 += ((v1 << 4) + k_[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k_[1]);
    v1 += ((v0 << 4) + k_[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k_[3]);
  }
  unsigned char* to = static_cast<unsigned char*>(out);
  storeLittleEndian32(to, v0);
  storeLittleEndian32(to + 4, v1);
}

void CipherKey::decipher(const void* in, void* out) const {
  decipherOne(k_, static_cast<const unsigned char*>(in), static_cast<unsigned char*>(out));
}

bool CipherKey::isSupported(Kernel kernel) {
  switch (kernel) {
    case Kernel::kOneBlock:
    case Kernel::kInterleaved:
      return true;
#ifdef VANTOREL_CIPHER_X86
    case Kernel::kSse2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("sse2");
    case Kernel::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
    case Kernel::kSse2:
    case Kernel::kAvx2:
      return false;
#endif
  }
  return false;
}

CipherKey::Kernel CipherKey::fastestKernel() {
  // Decided once; the processor does not change under a running program.
  static const Kernel kFastest = isSupported(Kernel::kAvx2)   ? Kernel::kAvx2
                                 : isSupported(Kernel::kSse2) ? Kernel::kSse2
                                                              : Kernel::kInterleaved;
  return kFastest;
}

void CipherKey::decipherBlocks(const void* in, void* out, uint32_t blocks) const {
  decipherBlocks(fastestKernel(), in, out, blocks);
}

void CipherKey::decipherBlocks(Kernel kernel, const void* in, void* out, uint32_t blocks) const {
  const unsigned char* from = static_cast<const unsigned char*>(in);
  unsigned char* to = static_cast<unsigned char*>(out);
  switch (kernel) {
    case Kernel::kOneBlock:
      decipherEach(k_, from, to, blocks);
      return;
    case Kernel::kInterleaved:
      decipherInterleaved(k_, from, to, blocks);
      return;
#ifdef VANTOREL_CIPHER_X86
    case Kernel::kSse2:
      decipherSse2(k_, from, to, blocks);
      return;
    case Kernel::kAvx2:
      decipherAvx2(k_, from, to, blocks);
      return;
#else
    case Kernel::kSse2:
    case Kernel::kAvx2:
      break;
#endif
  }
  decipherInterleaved(k_, from, to, blocks);
}
