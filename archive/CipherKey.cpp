#include "archive/CipherKey.h"

#include "BuildConstants.h"
#include "io/ByteOrder.h"

#if defined(__x86_64__) || defined(__i386__)
#define VANTOREL_CIPHER_X86 1
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

// The vector kernels: one register holds v0 of several blocks, another
// their v1, and each step runs two such groups side by side. The code is
// written once on the compiler's vector types; each kernel compiles it for
// its instruction set by inlining it whole into a function built for that
// set (flatten).
typedef uint32_t Lanes4 __attribute__((vector_size(16)));
typedef uint32_t Lanes8 __attribute__((vector_size(32)));

template <class Lanes>
inline void decipherLanes(const uint32_t* k, const unsigned char* from, unsigned char* to,
                          uint32_t blocks) {
  constexpr uint32_t kLanes = sizeof(Lanes) / sizeof(uint32_t);
  constexpr uint32_t kStep = 2 * kLanes;
  for (; blocks >= kStep; blocks -= kStep) {
    Lanes v0a, v1a, v0b, v1b;
    for (uint32_t i = 0; i < kLanes; ++i) {
      v0a[i] = loadLittleEndian32(from + i * CipherKey::kBlockSize);
      v1a[i] = loadLittleEndian32(from + i * CipherKey::kBlockSize + 4);
      v0b[i] = loadLittleEndian32(from + (kLanes + i) * CipherKey::kBlockSize);
      v1b[i] = loadLittleEndian32(from + (kLanes + i) * CipherKey::kBlockSize + 4);
    }
    uint32_t sum = kFinalSum;
    for (uint32_t cycle = 0; cycle < kCycles; ++cycle) {
      v1a -= ((v0a << 4) + k[2]) ^ (v0a + sum) ^ ((v0a >> 5) + k[3]);
      v1b -= ((v0b << 4) + k[2]) ^ (v0b + sum) ^ ((v0b >> 5) + k[3]);
      v0a -= ((v1a << 4) + k[0]) ^ (v1a + sum) ^ ((v1a >> 5) + k[1]);
      v0b -= ((v1b << 4) + k[0]) ^ (v1b + sum) ^ ((v1b >> 5) + k[1]);
      sum -= kDelta;
    }
    for (uint32_t i = 0; i < kLanes; ++i) {
      storeLittleEndian32(to + i * CipherKey::kBlockSize, v0a[i]);
      storeLittleEndian32(to + i * CipherKey::kBlockSize + 4, v1a[i]);
      storeLittleEndian32(to + (kLanes + i) * CipherKey::kBlockSize, v0b[i]);
      storeLittleEndian32(to + (kLanes + i) * CipherKey::kBlockSize + 4, v1b[i]);
    }
    from += kStep * CipherKey::kBlockSize;
    to += kStep * CipherKey::kBlockSize;
  }
  decipherInterleaved(k, from, to, blocks);
}

#ifdef VANTOREL_CIPHER_X86
__attribute__((target("sse2"), flatten)) void decipherSse2(const uint32_t* k,
                                                           const unsigned char* from,
                                                           unsigned char* to, uint32_t blocks) {
  decipherLanes<Lanes4>(k, from, to, blocks);
}

__attribute__((target("avx2"), flatten)) void decipherAvx2(const uint32_t* k,
                                                           const unsigned char* from,
                                                           unsigned char* to, uint32_t blocks) {
  decipherLanes<Lanes8>(k, from, to, blocks);
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
