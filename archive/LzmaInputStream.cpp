#include "archive/LzmaInputStream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "io/ByteOrder.h"
#include "lang/Exception.h"

// The decoder's headers define generic names (Byte, Bool, True): they stay
// in this file.
#include <LzmaDec.h>

namespace {

const char kInvalidHeader[] = "data corrupt (invalid header)";
const char kAllocateProbsFailed[] = "data corrupt (LzmaDec_AllocateProbs)";
const char kDecodeFailed[] = "data corrupt (LzmaDec_DecodeToDic)";

// The LZMA-alone header: the properties byte and the 32-bit dictionary size
// (together the decoder's properties), then the 64-bit uncompressed size, of
// which the low 32 bits are used. All little-endian.
constexpr uint32_t kHeaderSize = 13;
constexpr uint32_t kSizeOffset = LZMA_PROPS_SIZE;
static_assert(LZMA_PROPS_SIZE == 5, "LZMA-alone properties are 5 bytes");

// The dictionary buffer's first size; it doubles as output arrives.
constexpr uint32_t kFirstDictionarySize = 64 * 1024;

// The decoder allocates its probability table through these. They never
// throw across the decoder's C code: a failed allocation returns null.
void* allocate(void*, size_t size) { return new (std::nothrow) unsigned char[size]; }
void release(void*, void* address) { delete[] static_cast<unsigned char*>(address); }
ISzAlloc allocator = {allocate, release};

}  // namespace

struct LzmaInputStream::Decoder {
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() {
    LzmaDec_FreeProbs(&state, &allocator);
    delete[] state.dic;
  }

  // dic (owned, allocated with new[]) is the dictionary buffer, dicBufSize
  // its size, dicPos the end of the decoded bytes in it. Zeroed, it holds
  // neither buffer nor table.
  CLzmaDec state = {};
};

LzmaInputStream::LzmaInputStream(InputStream* in) : FilterInputStream(in), decoder_(new Decoder) {
  // A source may deliver the header in pieces; only its end makes it short.
  uint32_t got = 0;
  while (got < kHeaderSize) {
    int count = in_->read(input_ + got, kHeaderSize - got);
    if (count < 1) throw Exception(kInvalidHeader);
    got += static_cast<uint32_t>(count);
  }
  CLzmaDec& state = decoder_->state;
  if (LzmaDec_AllocateProbs(&state, input_, LZMA_PROPS_SIZE, &allocator) != SZ_OK) {
    throw Exception(kAllocateProbsFailed);
  }
  LzmaDec_Init(&state);
  remaining_ = loadLittleEndian32(input_ + kSizeOffset);
  dictionaryLimit_ = std::min(state.prop.dicSize, remaining_);
  uint32_t first = std::min(dictionaryLimit_, kFirstDictionarySize);
  state.dic = new unsigned char[first];
  state.dicBufSize = first;
}

LzmaInputStream::~LzmaInputStream() = default;

uint32_t LzmaInputStream::dictionaryCapacity() const {
  return static_cast<uint32_t>(decoder_->state.dicBufSize);
}

void LzmaInputStream::close() { remaining_ = 0; }

int LzmaInputStream::read(void* buffer, uint32_t length) {
  if (length == 0) return 0;
  if (remaining_ == 0) return -1;
  if (failed_) throw Exception(kDecodeFailed);
  const CLzmaDec& state = decoder_->state;
  if (readPosition_ == state.dicPos) decode();
  if (state.dicPos <= readPosition_) return -1;
  uint32_t count = std::min({static_cast<uint32_t>(state.dicPos) - readPosition_, remaining_,
                             length, static_cast<uint32_t>(INT_MAX)});
  memcpy(buffer, state.dic + readPosition_, count);
  readPosition_ += count;
  remaining_ -= count;
  return static_cast<int>(count);
}

void LzmaInputStream::decode() {
  CLzmaDec& state = decoder_->state;
  ELzmaStatus status;
  do {
    if (state.dicPos == state.dicBufSize) makeRoom();
    if (inputAvailable_ == 0) {
      inputPosition_ = 0;
      int count = in_->read(input_, kInputSize);
      if (count < 1) return;
      inputAvailable_ = static_cast<uint32_t>(count);
    }
    SizeT consumed = inputAvailable_;
    if (LzmaDec_DecodeToDic(&state, state.dicBufSize, input_ + inputPosition_, &consumed,
                            LZMA_FINISH_ANY, &status) != SZ_OK) {
      failed_ = true;
      throw Exception(kDecodeFailed);
    }
    inputPosition_ += static_cast<uint32_t>(consumed);
    inputAvailable_ -= static_cast<uint32_t>(consumed);
  } while (state.dicPos == readPosition_ && status == LZMA_STATUS_NEEDS_MORE_INPUT);
  // After an end marker nothing more will come, whatever the header said and
  // whatever follows in the source.
  if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
    remaining_ = std::min(remaining_, static_cast<uint32_t>(state.dicPos) - readPosition_);
  }
}

void LzmaInputStream::makeRoom() {
  CLzmaDec& state = decoder_->state;
  if (state.dicBufSize < dictionaryLimit_) {
    // Before its first wrap the decoder refers back only into what it has
    // written so far, all of which moves to the larger buffer.
    uint32_t size =
        static_cast<uint32_t>(std::min<uint64_t>(dictionaryLimit_, uint64_t{state.dicBufSize} * 2));
    unsigned char* larger = new unsigned char[size];
    memcpy(larger, state.dic, state.dicPos);
    delete[] state.dic;
    state.dic = larger;
    state.dicBufSize = size;
  } else {
    // Everything decoded has been handed out: the buffer is reused from its
    // start, as a ring of the full dictionary size.
    state.dicPos = 0;
    readPosition_ = 0;
  }
}
