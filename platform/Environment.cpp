#include "platform/Environment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lang/StringBuffer.h"

extern char** environ;

namespace {

// A private copy of a zero-terminated text, released with delete[].
char* copyText(const char* text) {
  size_t length = strlen(text);
  char* copy = new char[length + 1];
  memcpy(copy, text, length + 1);
  return copy;
}

bool byteOrder(const char* a, const char* b) { return strcmp(a, b) < 0; }

}  // namespace

Environment::Environment() : entries_(new char*[1]), count_(0), capacity_(1) {
  entries_[0] = nullptr;
  uint32_t count = 0;
  while (environ != nullptr && environ[count] != nullptr) ++count;
  reserve(count);
  for (uint32_t i = 0; i < count; ++i) entries_[count_++] = copyText(environ[i]);
  entries_[count_] = nullptr;
  std::sort(entries_, entries_ + count_, byteOrder);
}

Environment::Environment(const Environment& other)
    : Object(other), entries_(new char*[1]), count_(0), capacity_(1) {
  entries_[0] = nullptr;
  copyFrom(other);
}

Environment& Environment::operator=(const Environment& other) {
  if (this != &other) copyFrom(other);
  return *this;
}

Environment::~Environment() {
  clear();
  delete[] entries_;
}

void Environment::copyFrom(const Environment& other) {
  clear();
  reserve(other.count_);
  for (uint32_t i = 0; i < other.count_; ++i) entries_[count_++] = copyText(other.entries_[i]);
  entries_[count_] = nullptr;
}

void Environment::reserve(uint32_t count) {
  if (count < capacity_) return;
  uint32_t capacity = std::max(count + 1, capacity_ * 2);
  char** entries = new char*[capacity];
  memcpy(entries, entries_, (count_ + 1) * sizeof *entries);
  delete[] entries_;
  entries_ = entries;
  capacity_ = capacity;
}

void Environment::clear() {
  for (uint32_t i = 0; i < count_; ++i) delete[] entries_[i];
  count_ = 0;
  entries_[0] = nullptr;
}

int Environment::find(const char* name) const { return indexOf(name, strlen(name)); }

int Environment::indexOf(const char* name, size_t length) const {
  for (uint32_t i = 0; i < count_; ++i) {
    if (strncmp(entries_[i], name, length) == 0 && entries_[i][length] == '=') {
      return static_cast<int>(i);
    }
  }
  return -1;
}

const char* Environment::getValue(const char* name) const {
  int index = find(name);
  return index < 0 ? nullptr : entries_[index] + strlen(name) + 1;
}

void Environment::remove(const char* name) {
  int index = find(name);
  if (index >= 0) removeAt(static_cast<uint32_t>(index));
}

void Environment::removeAt(uint32_t index) {
  delete[] entries_[index];
  // The terminating null moves down with the tail.
  memmove(entries_ + index, entries_ + index + 1, (count_ - index) * sizeof *entries_);
  --count_;
}

void Environment::set(const char* entry) {
  const char* equals = strchr(entry, '=');
  int index = indexOf(entry, equals == nullptr ? strlen(entry) : equals - entry);
  if (index >= 0) removeAt(static_cast<uint32_t>(index));
  reserve(count_ + 1);
  char* copy = copyText(entry);
  char** at = std::upper_bound(entries_, entries_ + count_, copy, byteOrder);
  memmove(at + 1, at, (entries_ + count_ + 1 - at) * sizeof *entries_);
  *at = copy;
  ++count_;
}

String Environment::toString() const {
  StringBuffer text;
  for (uint32_t i = 0; i < count_; ++i) {
    text.append(entries_[i]);
    text.append('\n');
  }
  return text.toString();
}
