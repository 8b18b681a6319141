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

// The pieces in which the decoder meets its failures: this stream once read
// its source 1024 bytes at a time and gave the decoder each piece in one
// call, and where a damaged stream fails (which entries a reader extracts
// before, and what it reports) follows from that.
constexpr uint32_t kPieceSize = 1024;

// The largest probability table that is copied before every fast call
// (lc + lp up to 4), and the largest dictionary that is kept twice for the
// fast calls (install.data's own is 8 MiB); beyond either, a stream is
// decoded piece by piece.
constexpr size_t kMostCopiedProbabilities = 64 * 1024;
constexpr uint32_t kMostDoubledDictionary = 8 * 1024 * 1024;

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

  size_t probabilityBytes() const { return state.numProbs * sizeof(CLzmaProb); }

  // dic (owned, allocated with new[]) is the dictionary buffer, dicBufSize
  // its size, dicPos the end of the decoded bytes in it. Zeroed, it holds
  // neither buffer nor table.
  CLzmaDec state = {};
  // The state and the probability table before the current fast call
  // (saved.dic and saved.probs are state's own buffers).
  CLzmaDec saved = {};
  std::unique_ptr<unsigned char[]> savedProbabilities;
};

LzmaInputStream::LzmaInputStream(InputStream* in, bool pieceByPiece)
    : FilterInputStream(in),
      input_(new unsigned char[kInputSize]),
      decoder_(new Decoder),
      pieceByPiece_(pieceByPiece) {
  // A source may deliver the header in pieces; only its end makes it short.
  unsigned char header[kHeaderSize];
  uint32_t got = 0;
  while (got < kHeaderSize) {
    int count = in_->read(header + got, kHeaderSize - got);
    if (count < 1) throw Exception(kInvalidHeader);
    got += static_cast<uint32_t>(count);
  }
  CLzmaDec& state = decoder_->state;
  if (LzmaDec_AllocateProbs(&state, header, LZMA_PROPS_SIZE, &allocator) != SZ_OK) {
    throw Exception(kAllocateProbsFailed);
  }
  LzmaDec_Init(&state);
  remaining_ = declared_ = loadLittleEndian32(header + kSizeOffset);
  pieceLimit_ = std::min(state.prop.dicSize, declared_);
  pieceFirstSize_ = std::min(pieceLimit_, kFirstDictionarySize);
  // A stream no longer than its dictionary never starts its buffer over.
  // For a longer one the fast calls keep twice the dictionary: a call
  // decodes at most up to the next multiple of the dictionary size, so that
  // a failed call can be decoded again from the bytes before it, which it
  // did not overwrite.
  bool wraps = declared_ > pieceLimit_;
  if (decoder_->probabilityBytes() > kMostCopiedProbabilities ||
      (wraps && pieceLimit_ > kMostDoubledDictionary)) {
    pieceByPiece_ = true;
  }
  dictionaryLimit_ = wraps && !pieceByPiece_ ? uint64_t{pieceLimit_} * 2 : pieceLimit_;
  if (!pieceByPiece_) {
    decoder_->savedProbabilities.reset(new unsigned char[decoder_->probabilityBytes()]);
  }
  uint32_t first = pieceFirstSize_;
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
  const CLzmaDec& state = decoder_->state;
  if (readPosition_ == state.dicPos) {
    if (failed_) throw Exception(kDecodeFailed);
    decode();
    if (readPosition_ == state.dicPos) {
      if (failed_) throw Exception(kDecodeFailed);
      // The input has run out: at the source's end, or before the piece a
      // failure of the source broke.
      if (sourceFailure_) std::rethrow_exception(sourceFailure_);
      return -1;
    }
  }
  uint32_t count = std::min({static_cast<uint32_t>(state.dicPos) - readPosition_, remaining_,
                             length, static_cast<uint32_t>(INT_MAX)});
  memcpy(buffer, state.dic + readPosition_, count);
  readPosition_ += count;
  remaining_ -= count;
  return static_cast<int>(count);
}

bool LzmaInputStream::refill() {
  static_assert(kInputSize % kPieceSize == 0, "the input buffer holds whole pieces");
  if (sourceDone_) return false;
  inputOffset_ += inputPosition_ + inputAvailable_;
  inputPosition_ = inputAvailable_ = 0;
  try {
    // Piece by piece, each asked for whole, as the pieces were once read.
    while (inputAvailable_ < kInputSize && !sourceDone_) {
      uint32_t pieceEnd = inputAvailable_ + kPieceSize;
      while (inputAvailable_ < pieceEnd) {
        int count = in_->read(input_.get() + inputAvailable_, pieceEnd - inputAvailable_);
        if (count < 1) {
          sourceDone_ = true;
          break;
        }
        inputAvailable_ += static_cast<uint32_t>(count);
      }
    }
  } catch (...) {
    // The piece the failure broke, and everything after it, is never
    // decoded; the failure is met where that piece is needed.
    sourceFailure_ = std::current_exception();
    sourceDone_ = true;
    inputAvailable_ -= inputAvailable_ % kPieceSize;
  }
  return inputAvailable_ != 0;
}

void LzmaInputStream::decode() {
  CLzmaDec& state = decoder_->state;
  int status;
  do {
    if (state.dicPos == state.dicBufSize) makeRoom();
    if (inputAvailable_ == 0 && !refill()) return;
    bool decoded = pieceByPiece_ ? decodePiece(&status, state.dicBufSize) : decodeChunk(&status);
    if (!decoded) {
      failed_ = true;
      return;
    }
  } while (state.dicPos == readPosition_ && status == LZMA_STATUS_NEEDS_MORE_INPUT);
  // After an end marker nothing more will come, whatever the header said and
  // whatever follows in the source.
  if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
    remaining_ = std::min(remaining_, static_cast<uint32_t>(state.dicPos) - readPosition_);
  }
}

bool LzmaInputStream::decodeChunk(int* status) {
  Decoder& decoder = *decoder_;
  CLzmaDec& state = decoder.state;
  decoder.saved = state;
  memcpy(decoder.savedProbabilities.get(), state.probs, decoder.probabilityBytes());
  uint64_t producedBefore = produced_;
  uint32_t positionBefore = inputPosition_, availableBefore = inputAvailable_;

  size_t limit = std::min<uint64_t>(state.dicBufSize, state.dicPos + (nextBoundary() - produced_));
  size_t start = state.dicPos;
  SizeT consumed = inputAvailable_;
  ELzmaStatus result;
  if (LzmaDec_DecodeToDic(&state, limit, input_.get() + inputPosition_, &consumed, LZMA_FINISH_ANY,
                          &result) == SZ_OK) {
    inputPosition_ += static_cast<uint32_t>(consumed);
    inputAvailable_ -= static_cast<uint32_t>(consumed);
    produced_ += state.dicPos - start;
    *status = result;
    return true;
  }

  // Decode the same input again, piece by piece, from the state before the
  // call. The dictionary buffer still holds every byte the decoder may
  // refer back to: the call wrote only beyond them.
  state = decoder.saved;
  memcpy(state.probs, decoder.savedProbabilities.get(), decoder.probabilityBytes());
  produced_ = producedBefore;
  inputPosition_ = positionBefore;
  inputAvailable_ = availableBefore;
  // Once the declared size is decoded, the piece-by-piece decoder makes no
  // further call, and so meets no failure.
  while (inputAvailable_ != 0 && state.dicPos < limit && produced_ < declared_) {
    if (!decodePiece(status, limit)) return false;
  }
  return true;
}

uint64_t LzmaInputStream::nextBoundary() const {
  // The piece-by-piece decoder's buffer started at pieceFirstSize_, doubled
  // up to pieceLimit_, and then started over at every multiple of it.
  if (pieceLimit_ == 0) return UINT64_MAX;  // nothing is ever decoded
  uint64_t boundary = pieceFirstSize_;
  while (boundary <= produced_ && boundary < pieceLimit_) {
    boundary = std::min<uint64_t>(boundary * 2, pieceLimit_);
  }
  if (boundary <= produced_) boundary = (produced_ / pieceLimit_ + 1) * pieceLimit_;
  return boundary;
}

bool LzmaInputStream::decodePiece(int* status, size_t limit) {
  CLzmaDec& state = decoder_->state;
  // The rest of the current piece.
  uint64_t at = inputOffset_ + inputPosition_;
  SizeT consumed = std::min<uint64_t>(inputAvailable_, kPieceSize - at % kPieceSize);
  limit = std::min<uint64_t>(limit, state.dicPos + (nextBoundary() - produced_));

  size_t start = state.dicPos;
  ELzmaStatus result;
  if (LzmaDec_DecodeToDic(&state, limit, input_.get() + inputPosition_, &consumed, LZMA_FINISH_ANY,
                          &result) != SZ_OK) {
    state.dicPos = start;
    return false;
  }
  inputPosition_ += static_cast<uint32_t>(consumed);
  inputAvailable_ -= static_cast<uint32_t>(consumed);
  produced_ += state.dicPos - start;
  *status = result;
  return true;
}

void LzmaInputStream::makeRoom() {
  CLzmaDec& state = decoder_->state;
  if (state.dicBufSize < dictionaryLimit_) {
    // Before its first wrap the decoder refers back only into what it has
    // written so far, all of which moves to the larger buffer. It grows as
    // the piece-by-piece decoder's did, then to its own limit.
    size_t size = state.dicBufSize < pieceLimit_
                      ? std::min<uint64_t>(pieceLimit_, uint64_t{state.dicBufSize} * 2)
                      : dictionaryLimit_;
    unsigned char* larger = new unsigned char[size];
    memcpy(larger, state.dic, state.dicPos);
    delete[] state.dic;
    state.dic = larger;
    state.dicBufSize = size;
  } else {
    // Everything decoded has been handed out: the buffer is reused from its
    // start, as a ring.
    state.dicPos = 0;
    readPosition_ = 0;
  }
}
