#include "tools/LzmaOutputStream.h"

#include <lzma.h>

#include <cstring>
#include <exception>

#include "lang/Exception.h"

namespace {

// Compressed bytes are handed to the wrapped stream in pieces of this size.
constexpr size_t kOutputChunk = 64 * 1024;

}  // namespace

struct LzmaOutputStream::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_options_lzma options;
  unsigned char output[kOutputChunk];
};

LzmaOutputStream::LzmaOutputStream(OutputStream* out, uint32_t level, bool extreme)
    : FilterOutputStream(out), state_(new State), written_(0), finished_(false) {
  if (lzma_lzma_preset(&state_->options, level | (extreme ? LZMA_PRESET_EXTREME : 0)) != 0) {
    delete state_;
    throw Exception(String("LZMA: unsupported compression level ") + String::valueOf(level));
  }
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &state_->options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_raw_encoder(&state_->stream, filters) != LZMA_OK) {
    delete state_;
    throw Exception("LZMA: cannot start the encoder (out of memory?)");
  }
  state_->stream.next_out = state_->output;
  state_->stream.avail_out = kOutputChunk;
}

LzmaOutputStream::~LzmaOutputStream() noexcept(false) {
  lzma_end(&state_->stream);
  delete state_;
}

void LzmaOutputStream::run(bool finish) {
  lzma_stream& stream = state_->stream;
  for (;;) {
    lzma_ret result = lzma_code(&stream, finish ? LZMA_FINISH : LZMA_RUN);
    if (stream.avail_out == 0 || (finish && result == LZMA_STREAM_END)) {
      size_t produced = kOutputChunk - stream.avail_out;
      if (produced != 0) out_->write(state_->output, static_cast<uint32_t>(produced));
      stream.next_out = state_->output;
      stream.avail_out = kOutputChunk;
    }
    if (result == LZMA_STREAM_END) return;
    if (result != LZMA_OK) throw Exception("LZMA: compression failed");
    if (!finish && stream.avail_in == 0) return;
  }
}

void LzmaOutputStream::write(const void* buffer, uint32_t length) {
  if (finished_) throw Exception("LZMA: write after close");
  state_->stream.next_in = static_cast<const uint8_t*>(buffer);
  state_->stream.avail_in = length;
  run(false);
  written_ += length;
}

void LzmaOutputStream::finish() {
  if (finished_) return;
  finished_ = true;
  state_->stream.next_in = nullptr;
  state_->stream.avail_in = 0;
  run(true);
}

void LzmaOutputStream::close() {
  finish();
  out_->close();
}

void LzmaOutputStream::writeHeader(unsigned char header[kHeaderSize], uint64_t size) const {
  const lzma_options_lzma& o = state_->options;
  header[0] = static_cast<unsigned char>((o.pb * 5 + o.lp) * 9 + o.lc);
  for (int i = 0; i < 4; ++i) header[1 + i] = static_cast<unsigned char>(o.dict_size >> (8 * i));
  for (int i = 0; i < 8; ++i) header[5 + i] = static_cast<unsigned char>(size >> (8 * i));
}
