#include "lang/String.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "lang/Array.h"

// The heap block that Strings share. `capacity` bytes follow the two words.
struct String::Block {
  uint32_t references;
  uint32_t capacity;
  char* bytes() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

static_assert(sizeof(uint32_t) * 2 == 8, "a block header is two 32-bit words");

// The shared empty block: count 1, capacity 1, its one byte zero. Every empty
// String points at it. It is never freed, so its count is never touched:
// that keeps it read-only, and lets any thread make empty Strings.
struct EmptyBlock {
  uint32_t references;
  uint32_t capacity;
  char byte[8];
};
EmptyBlock gEmptyBlock = {1, 1, {0}};

// The upper-case counterpart of String::lowerAscii: other bytes come back
// unchanged in every locale.
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Numbers are formatted into a scratch area of this size.
constexpr size_t kFormatScratch = 99;

}  // namespace

String::Block* String::emptyBlock() { return reinterpret_cast<Block*>(&gEmptyBlock); }

String::Block* String::makeBlock(uint32_t n) {
  // (n + 16) rounded down to a multiple of 8: the smallest multiple of 8
  // above n, plus the 8 header bytes. Computed in 64 bits so that no length
  // can wrap the size.
  uint64_t total = (static_cast<uint64_t>(n) + 16) & ~static_cast<uint64_t>(7);
  if (total - 8 > UINT32_MAX) throw std::bad_alloc();
  Block* block = static_cast<Block*>(::operator new(static_cast<size_t>(total)));
  block->references = 1;
  block->capacity = static_cast<uint32_t>(total - 8);
  return block;
}

void String::retain(Block* block) {
  if (block != emptyBlock()) ++block->references;
}

void String::release(Block* block) {
  if (block != emptyBlock() && --block->references == 0) ::operator delete(block);
}

String String::make(const char* first, uint32_t firstCount, const char* second,
                    uint32_t secondCount) {
  uint64_t total = static_cast<uint64_t>(firstCount) + secondCount;
  if (total == 0) return String();
  if (total >= UINT32_MAX) throw std::bad_alloc();
  uint32_t n = static_cast<uint32_t>(total);
  Block* block = makeBlock(n);
  char* bytes = block->bytes();
  if (firstCount != 0) memcpy(bytes, first, firstCount);
  if (secondCount != 0) memcpy(bytes + firstCount, second, secondCount);
  bytes[n] = 0;
  return String(block, bytes, n);
}

String::String() : length_(0), block_(emptyBlock()), data_(emptyBlock()->bytes()) {}

String::String(const char* text) : String() {
  if (text != nullptr) *this = make(text, static_cast<uint32_t>(strlen(text)), nullptr, 0);
}

String::String(const char* bytes, uint32_t count) : String() {
  if (bytes != nullptr && count != 0) *this = make(bytes, count, nullptr, 0);
}

String::String(char byte) : String() { *this = make(&byte, 1, nullptr, 0); }

String::String(const String& other)
    : Comparable(other), length_(other.length_), block_(other.block_), data_(other.data_) {
  retain(block_);
}

String::String(String&& other) noexcept
    : length_(other.length_), block_(other.block_), data_(other.data_) {
  other.length_ = 0;
  other.block_ = emptyBlock();
  other.data_ = emptyBlock()->bytes();
}

String& String::operator=(const String& other) {
  retain(other.block_);  // before releasing ours: self-assignment is harmless
  release(block_);
  length_ = other.length_;
  block_ = other.block_;
  data_ = other.data_;
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    release(block_);
    length_ = other.length_;
    block_ = other.block_;
    data_ = other.data_;
    other.length_ = 0;
    other.block_ = emptyBlock();
    other.data_ = emptyBlock()->bytes();
  }
  return *this;
}

String& String::operator=(const char* text) {
  // The copy is taken first: `text` may point into our own block.
  String copy(text);
  return *this = std::move(copy);
}

String::~String() { release(block_); }

uint32_t String::room() const {
  return block_->capacity - static_cast<uint32_t>(data_ - block_->bytes());
}

bool String::canExtendInPlace(const char* bytes, uint32_t count, bool keepsSharer) const {
  uint64_t newLength = static_cast<uint64_t>(length_) + count;
  // One byte must stay for the terminator, and the room after the text must
  // be ours alone or unclaimed: its first byte still zero. That zero mark
  // only works if no text that a sharer can see has a zero byte right there,
  // so text that starts with a zero byte is never written where a sharer
  // keeps looking (and substring() never shares a block when the piece is
  // followed by a zero byte of the source).
  if (newLength >= room()) return false;
  bool shared = keepsSharer || block_->references != 1;
  if (!shared) return true;
  return bytes[0] != 0 && (data_[length_] == 0 || block_->references == 1);
}

void String::append(const char* bytes, uint32_t count) {
  if (count == 0) return;  // the value cannot change
  if (canExtendInPlace(bytes, count, false)) {
    char* end = const_cast<char*>(data_) + length_;
    memmove(end, bytes, count);
    end[count] = 0;
    length_ += count;
    return;
  }
  // The new block is filled before the old one is released, so appending a
  // String to itself, or to part of itself, works.
  String grown = make(data_, length_, bytes, count);
  *this = std::move(grown);
}

String& String::operator+=(const String& tail) {
  append(tail.data_, tail.length_);
  return *this;
}

String& String::operator+=(const char* tail) {
  if (tail != nullptr) append(tail, static_cast<uint32_t>(strlen(tail)));
  return *this;
}

String operator+(const String& head, const String& tail) {
  if (tail.length_ == 0) return head;
  // head stays a sharer of the block it extends.
  if (head.canExtendInPlace(tail.data_, tail.length_, true)) {
    // The result shares head's block and writes tail into its free room;
    // head keeps its own length, so its value is unchanged.
    char* end = const_cast<char*>(head.data_) + head.length_;
    memmove(end, tail.data_, tail.length_);
    end[tail.length_] = 0;
    String::retain(head.block_);
    return String(head.block_, head.data_, head.length_ + tail.length_);
  }
  return String::make(head.data_, head.length_, tail.data_, tail.length_);
}

String operator+(const String& head, const char* tail) { return head + String(tail); }

String operator+(const char* head, const String& tail) { return String(head) + tail; }

const char* String::c_str() const {
  if (data_[length_] == 0) return data_;
  if (block_->references == 1) {
    const_cast<char*>(data_)[length_] = 0;
    return data_;
  }
  // The terminator's place is taken by a sharer: move to a block of our own.
  String own = make(data_, length_, nullptr, 0);
  release(block_);
  block_ = own.block_;
  data_ = own.data_;
  own.block_ = emptyBlock();
  own.data_ = emptyBlock()->bytes();
  own.length_ = 0;
  return data_;
}

bool String::equals(const Object& other) const {
  const String& text = static_cast<const String&>(other);
  return length_ == text.length_ && memcmp(data_, text.data_, length_) == 0;
}

bool String::equalsIgnoreCase(const String& other) const {
  if (length_ != other.length_) return false;
  for (uint32_t i = 0; i < length_; ++i) {
    if (lowerAscii(data_[i]) != lowerAscii(other.data_[i])) return false;
  }
  return true;
}

bool String::equalsIgnoreCase(const char* other) const {
  if (other == nullptr) return length_ == 0;
  size_t otherLength = strlen(other);
  if (otherLength != length_) return false;
  for (uint32_t i = 0; i < length_; ++i) {
    if (lowerAscii(data_[i]) != lowerAscii(other[i])) return false;
  }
  return true;
}

uint32_t String::hash(const char* bytes, uint32_t n) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
  if (n == 0) return 0;
  uint32_t h = 0;
  if (n <= 16) {
    for (uint32_t i = n; i-- > 0;) h = h * 4 + b[i];
    return h;
  }
  // Fifteen samples from the last byte backwards in steps of n/16. The index
  // runs in 64 bits so that texts above 256 MB cannot wrap it.
  h = b[0];
  uint64_t k = 16 * static_cast<uint64_t>(n) - 1;
  for (int i = 0; i < 15; ++i) {
    h = h * 4 + b[k / 16];
    k -= n;
  }
  return h;
}

uint32_t String::hashCode() const { return hash(data_, length_); }

String String::toString() const { return *this; }

int String::compareTo(const Comparable& other) const {
  const String& text = static_cast<const String&>(other);
  uint32_t common = length_ < text.length_ ? length_ : text.length_;
  if (common != 0) {
    int c = memcmp(data_, text.data_, common);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  int64_t difference = static_cast<int64_t>(length_) - text.length_;
  if (difference > INT32_MAX) return INT32_MAX;
  if (difference < INT32_MIN) return INT32_MIN;
  return static_cast<int>(difference);
}

int String::compareToIgnoreCase(const String& other) const {
  uint32_t common = length_ < other.length_ ? length_ : other.length_;
  for (uint32_t i = 0; i < common; ++i) {
    // Bytes are taken as signed 8-bit values, as the platform's tolower
    // sees them.
    int a = static_cast<signed char>(lowerAscii(data_[i]));
    int b = static_cast<signed char>(lowerAscii(other.data_[i]));
    if (a != b) return a - b;
  }
  int64_t difference = static_cast<int64_t>(length_) - other.length_;
  if (difference > INT32_MAX) return INT32_MAX;
  if (difference < INT32_MIN) return INT32_MIN;
  return static_cast<int>(difference);
}

bool String::startsWith(const String& prefix) const {
  if (prefix.length_ == 0) return true;
  if (prefix.length_ > length_) return false;
  return memcmp(data_, prefix.data_, prefix.length_) == 0;
}

bool String::startsWith(const char* prefix) const {
  if (prefix == nullptr) return true;
  size_t n = strlen(prefix);
  if (n > length_) return false;
  return memcmp(data_, prefix, n) == 0;
}

bool String::endsWith(const String& suffix) const {
  if (suffix.length_ > length_) return false;
  return memcmp(data_ + length_ - suffix.length_, suffix.data_, suffix.length_) == 0;
}

int String::indexOf(char byte, int from) const {
  if (from < 0) from = 0;
  if (static_cast<uint32_t>(from) >= length_) return -1;
  const void* hit = memchr(data_ + from, byte, length_ - from);
  return hit == nullptr ? -1 : static_cast<int>(static_cast<const char*>(hit) - data_);
}

int String::indexOf(const String& pattern, int from) const {
  if (from < 0) from = 0;
  if (pattern.length_ > length_ || static_cast<uint32_t>(from) > length_ - pattern.length_) {
    return -1;
  }
  if (pattern.length_ == 0) return from;
  uint32_t last = length_ - pattern.length_;
  for (uint32_t i = static_cast<uint32_t>(from); i <= last; ++i) {
    const void* hit = memchr(data_ + i, pattern.data_[0], last - i + 1);
    if (hit == nullptr) return -1;
    i = static_cast<uint32_t>(static_cast<const char*>(hit) - data_);
    if (memcmp(data_ + i, pattern.data_, pattern.length_) == 0) return static_cast<int>(i);
  }
  return -1;
}

int String::lastIndexOf(char byte) const {
  for (uint32_t i = length_; i-- > 0;) {
    if (data_[i] == byte) return static_cast<int>(i);
  }
  return -1;
}

String String::substring(uint32_t begin, uint32_t end) const {
  if (begin == end) return String();
  // A zero byte of our own text right after the piece would read as free
  // room to the piece, which could then overwrite it: such a piece gets a
  // block of its own.
  if (end < length_ && data_[end] == 0) return make(data_ + begin, end - begin, nullptr, 0);
  retain(block_);
  return String(block_, data_ + begin, end - begin);
}

String String::toLowerCase() const {
  for (uint32_t i = 0; i < length_; ++i) {
    if (lowerAscii(data_[i]) != data_[i]) {
      String result = make(data_, length_, nullptr, 0);
      char* bytes = const_cast<char*>(result.data_);
      for (uint32_t j = i; j < length_; ++j) bytes[j] = lowerAscii(bytes[j]);
      return result;
    }
  }
  return *this;
}

String String::toUpperCase() const {
  for (uint32_t i = 0; i < length_; ++i) {
    if (upperAscii(data_[i]) != data_[i]) {
      String result = make(data_, length_, nullptr, 0);
      char* bytes = const_cast<char*>(result.data_);
      for (uint32_t j = i; j < length_; ++j) bytes[j] = upperAscii(bytes[j]);
      return result;
    }
  }
  return *this;
}

String String::trim() const {
  uint32_t begin = 0;
  uint32_t end = length_;
  while (begin < end && static_cast<signed char>(data_[begin]) <= 32) ++begin;
  while (end > begin && static_cast<signed char>(data_[end - 1]) <= 32) --end;
  return substring(begin, end);
}

String String::replace(char from, char to) const {
  const void* first = length_ == 0 ? nullptr : memchr(data_, from, length_);
  if (first == nullptr) return *this;
  String result = make(data_, length_, nullptr, 0);
  char* bytes = const_cast<char*>(result.data_);
  for (uint32_t i = static_cast<uint32_t>(static_cast<const char*>(first) - data_); i < length_;
       ++i) {
    if (bytes[i] == from) bytes[i] = to;
  }
  return result;
}

String String::replace(const String& from, const String& to) const {
  if (from.length_ == 0) return *this;
  String result;
  uint32_t i = 0;
  uint32_t copied = 0;  // bytes before i not yet appended
  while (from.length_ <= length_ && i <= length_ - from.length_) {
    if (memcmp(data_ + i, from.data_, from.length_) == 0) {
      result.append(data_ + copied, i - copied);
      result += to;
      i += from.length_;
      copied = i;
    } else {
      ++i;
    }
  }
  result.append(data_ + copied, length_ - copied);
  return result;
}

Array<String> String::split(char separator) const {
  uint32_t pieces = 1;
  for (uint32_t i = 0; i < length_; ++i) {
    if (data_[i] == separator) ++pieces;
  }
  Array<String> result(pieces);
  uint32_t start = 0;
  uint32_t piece = 0;
  for (uint32_t i = 0; i <= length_; ++i) {
    if (i == length_ || data_[i] == separator) {
      result[piece++] = substring(start, i);
      start = i + 1;
    }
  }
  return result;
}

namespace {

bool isControl(char byte) {
  unsigned char value = static_cast<unsigned char>(byte);
  return value < 0x20 || value == 0x7F;
}

}  // namespace

String String::escapeControls() const {
  uint32_t i = 0;
  while (i < length_ && !isControl(data_[i])) ++i;
  if (i == length_) return *this;
  // The escapes named in C, indexed by the byte; 0 where the byte has none.
  static const char kNamed[0x20] = {0, 0, 0, 0, 0, 0, 0, 'a', 'b', 't', 'n', 'v', 'f', 'r'};
  String result(data_, i);
  for (; i < length_; ++i) {
    unsigned char byte = static_cast<unsigned char>(data_[i]);
    if (!isControl(data_[i])) {
      result.append(data_ + i, 1);
    } else if (byte < 0x20 && kNamed[byte] != 0) {
      char escape[2] = {'\\', kNamed[byte]};
      result.append(escape, 2);
    } else {
      char escape[4] = {'\\', static_cast<char>('0' + (byte >> 6)),
                        static_cast<char>('0' + ((byte >> 3) & 7)),
                        static_cast<char>('0' + (byte & 7))};
      result.append(escape, 4);
    }
  }
  return result;
}

namespace {

template <class T>
String format(const char* spec, T value) {
  char scratch[kFormatScratch];
  snprintf(scratch, sizeof scratch, spec, value);
  return String(scratch);
}

}  // namespace

String String::valueOf(int value) { return format("%d", value); }
String String::valueOf(unsigned value) { return format("%u", value); }
String String::valueOf(long value) { return format("%ld", value); }
String String::valueOf(unsigned long value) { return format("%lu", value); }
String String::valueOf(long long value) { return format("%lld", value); }
String String::valueOf(unsigned long long value) { return format("%llu", value); }
String String::valueOf(bool value) { return String(value ? "true" : "false"); }
String String::toHexString(unsigned long value) { return format("%lx", value); }

String String::valueOf(double value) {
  if (value == 0.0) return format("%.1f", value);
  double magnitude = value < 0 ? -value : value;
  if (magnitude >= 0.001 && magnitude < 1e7) return format("%f", value);
  return format("%E", value);  // also infinities and NaN
}

String String::toBinaryString(uint32_t value) {
  char digits[33];
  int n = 0;
  for (int bit = 31; bit >= 0; --bit) {
    if (n == 0 && ((value >> bit) & 1) == 0 && bit != 0) continue;
    digits[n++] = ((value >> bit) & 1) ? '1' : '0';
  }
  return String(digits, static_cast<uint32_t>(n));
}
