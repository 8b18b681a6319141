// String is the library's immutable text value: a run of bytes with an
// explicit length. Any byte may occur, zero included; no character encoding is
// interpreted, and case mapping touches the 26 ASCII letters only.
//
// Copying a String is intended and cheap: copies and substrings share one
// reference-counted text block, so passing, returning and storing Strings by
// value costs a count increment. Appending (`+=`, `+`) writes into the spare
// room after the text when nobody else has claimed it, so repeated appends are
// amortised.
//
// Text block layout: two 32-bit header words (reference count, capacity), then
// `capacity` bytes. A block for n bytes is (n + 16) rounded down to a multiple
// of 8 bytes in all, so its capacity is the smallest multiple of 8 above n.
// The byte after a String's text is zero unless another String sharing the
// block has been extended in place over it; that zero is the mark that the
// room after the text is still free.
//
// Strings must not be shared between threads: the counts are plain integers.
// Handing a String over to another thread (through a lock) is fine.
#ifndef VANTOREL_LANG_STRING_H
#define VANTOREL_LANG_STRING_H

#include <cstdint>

#include "lang/Comparable.h"

template <class T>
class Array;

class String : public Comparable {
 public:
  // The empty String.
  String();
  // A copy of a zero-terminated byte string; a null pointer gives "".
  String(const char* text);  // NOLINT: implicit by design, like a literal.
  // A copy of exactly `count` bytes, zero bytes included; null or 0 gives "".
  String(const char* bytes, uint32_t count);
  // A one-byte String.
  explicit String(char byte);

  String(const String& other);
  String(String&& other) noexcept;
  // Assignment shares the source's block; assigning a String to itself is
  // harmless.
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  // A fresh copy of the bytes, taken before the old block is released.
  String& operator=(const char* text);
  ~String() override;

  uint32_t length() const { return length_; }
  bool isEmpty() const { return length_ == 0; }
  // The first byte of the text; not necessarily zero-terminated.
  const char* data() const { return data_; }
  // REQUIRES: index < length().
  char charAt(uint32_t index) const { return data_[index]; }

  // The text zero-terminated. The value never changes, but the String may
  // move to a block of its own when its terminator is taken by a sharer.
  const char* c_str() const;

  // `other` is read as a String: equal lengths and equal bytes.
  bool equals(const Object& other) const override;
  bool equalsIgnoreCase(const String& other) const;
  bool equalsIgnoreCase(const char* other) const;
  // Samples at most 16 bytes; 0 for the empty String.
  uint32_t hashCode() const override;
  // A copy sharing the text.
  String toString() const override;
  // Unsigned byte order, then length.
  int compareTo(const Comparable& other) const override;
  // Signed byte order after ASCII lower-casing, then length.
  int compareToIgnoreCase(const String& other) const;
  virtual bool startsWith(const String& prefix) const;
  bool startsWith(const char* prefix) const;
  bool endsWith(const String& suffix) const;

  // Index of the first `byte` at or after `from` (a negative from counts as
  // 0), or -1.
  int indexOf(char byte, int from = 0) const;
  // Index of the first `pattern` at or after `from`, or -1; an empty pattern
  // matches at `from`.
  int indexOf(const String& pattern, int from = 0) const;
  int lastIndexOf(char byte) const;

  // The hash function of hashCode() over any bytes.
  static uint32_t hash(const char* bytes, uint32_t count);
  // The ASCII lower case of one byte: "A" to "Z" become "a" to "z", every
  // other byte comes back unchanged, in every locale.
  static char lowerAscii(char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + ('a' - 'A')) : byte;
  }

  // The bytes begin to end - 1, sharing the block.
  // REQUIRES: begin <= end <= length().
  String substring(uint32_t begin, uint32_t end) const;
  String substring(uint32_t begin) const { return substring(begin, length_); }
  String toLowerCase() const;
  String toUpperCase() const;
  // Drops leading and trailing bytes whose signed value is 32 or less (so
  // the bytes 0x80 to 0xFF go too).
  String trim() const;
  String replace(char from, char to) const;
  // Replaces every non-overlapping occurrence, left to right.
  // REQUIRES: `from` is not empty (an empty pattern returns the text as is).
  String replace(const String& from, const String& to) const;
  // The pieces between `separator` bytes; always at least one.
  Array<String> split(char separator) const;
  // The text as a terminal may show it: every control byte (0x00 to 0x1F and
  // 0x7F) becomes a C escape, "\a", "\b", "\t", "\n", "\v", "\f" and "\r" by
  // name and the others as three octal digits ("\033"); every other byte,
  // the backslash included, stays as it is. A text without control bytes is
  // returned itself, sharing the block. For every name, path and link text
  // that is printed: none can start a line or move the cursor.
  String escapeControls() const;

  String& operator+=(const String& tail);
  String& operator+=(const char* tail);

  // Numbers and booleans as text, formatted in the process locale.
  static String valueOf(int value);                 // "%d"
  static String valueOf(unsigned value);            // "%u"
  static String valueOf(long value);                // "%ld"
  static String valueOf(unsigned long value);       // "%lu"
  static String valueOf(long long value);           // "%lld"
  static String valueOf(unsigned long long value);  // "%llu"
  static String valueOf(bool value);                // "true" / "false"
  // 0 as "%.1f"; magnitudes in [0.001, 1e7) as "%f"; the rest as "%E".
  static String valueOf(double value);
  static String valueOf(float value) { return valueOf(static_cast<double>(value)); }
  static String toHexString(unsigned long value);  // "%lx"
  static String toBinaryString(uint32_t value);    // no leading zeros

 private:
  struct Block;
  friend String operator+(const String& head, const String& tail);

  String(Block* block, const char* data, uint32_t length)
      : length_(length), block_(block), data_(data) {}
  static Block* emptyBlock();
  static Block* makeBlock(uint32_t capacityFor);
  static String make(const char* first, uint32_t firstCount, const char* second,
                     uint32_t secondCount);
  static void retain(Block* block);
  static void release(Block* block);
  // The room after data_ in the block, terminator included.
  uint32_t room() const;
  // Whether `count` bytes may be written after the text in place; set
  // `keepsSharer` when this String stays in the block beside the result.
  bool canExtendInPlace(const char* bytes, uint32_t count, bool keepsSharer) const;
  void append(const char* bytes, uint32_t count);

  // The number of bytes in the text.
  uint32_t length_;
  // The shared block holding the text; never null.
  mutable Block* block_;
  // The first byte of this String's text, inside block_.
  mutable const char* data_;
};

String operator+(const String& head, const String& tail);
String operator+(const String& head, const char* tail);
String operator+(const char* head, const String& tail);

// Byte equality, for tests and plain comparisons; Path's folding applies when
// the left side is a Path.
inline bool operator==(const String& a, const String& b) { return a.equals(b); }
inline bool operator!=(const String& a, const String& b) { return !a.equals(b); }

#endif  // VANTOREL_LANG_STRING_H
