#include "lang/Hashtable.h"

#include "lang/Exception.h"
#include "lang/String.h"

namespace {

uint32_t thresholdFor(uint32_t capacity, float loadFactor) {
  float threshold = static_cast<float>(capacity) * loadFactor;
  return threshold >= 4294967040.0f ? UINT32_MAX : static_cast<uint32_t>(threshold);
}

// The first odd number from n | 1 upwards that is at most 8 or has no odd
// divisor from 3 up to its square root: 202 gives 211, 1 stays 1.
uint32_t primeLikeAtLeast(uint32_t n) {
  uint32_t m = n | 1;
  for (;; m += 2) {
    if (m <= 8) return m;
    bool divisible = false;
    for (uint32_t d = 3; static_cast<uint64_t>(d) * d <= m; d += 2) {
      if (m % d == 0) {
        divisible = true;
        break;
      }
    }
    if (!divisible) return m;
  }
}

}  // namespace

Hashtable::Enumeration::Enumeration(const Hashtable* table, Mode mode)
    : remaining_(table->count_),
      table_(table),
      bucket_(0),
      mode_(mode),
      current_(table->buckets_[0]) {}

const Hashtable::Entry* Hashtable::Enumeration::advance() {
  if (remaining_ == 0) throw Exception("Hashtable: no such element");
  while (current_ == nullptr) current_ = table_->buckets_[++bucket_];
  const Entry* entry = current_;
  current_ = entry->next;
  --remaining_;
  return entry;
}

Object* Hashtable::Enumeration::nextElement() {
  const Entry* entry = advance();
  switch (mode_) {
    case kKeys:
      return entry->key;
    case kValues:
      return entry->value;
    case kEntries:
      break;
  }
  return nullptr;
}

void Hashtable::Enumeration::nextEntry(Object** key, Object** value) {
  const Entry* entry = advance();
  *key = entry->key;
  *value = entry->value;
}

Hashtable::Hashtable(uint32_t initialCapacity, float loadFactor)
    : buckets_(nullptr),
      // A table needs at least one bucket to hash into.
      capacity_(initialCapacity == 0 ? 1 : initialCapacity),
      loadFactor_(loadFactor),
      threshold_(thresholdFor(capacity_, loadFactor)),
      count_(0) {
  buckets_ = new Entry*[capacity_]();
}

Hashtable::~Hashtable() {
  for (uint32_t i = 0; i < capacity_; ++i) {
    Entry* entry = buckets_[i];
    while (entry != nullptr) {
      Entry* next = entry->next;
      delete entry;
      entry = next;
    }
  }
  delete[] buckets_;
}

Object* Hashtable::put(Object* key, Object* value) {
  uint32_t hash = key->hashCode();
  for (Entry* entry = buckets_[hash % capacity_]; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && key->equals(*entry->key)) {
      Object* old = entry->value;
      entry->value = value;
      return old;
    }
  }
  Entry*& head = buckets_[hash % capacity_];
  head = new Entry{key, value, hash, head};
  ++count_;
  if (count_ > threshold_) rehash(capacity_ > UINT32_MAX / 2 ? UINT32_MAX - 1 : capacity_ * 2);
  return nullptr;
}

Object* Hashtable::get(const Object& key) const {
  uint32_t hash = key.hashCode();
  for (Entry* entry = buckets_[hash % capacity_]; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && key.equals(*entry->key)) return entry->value;
  }
  return nullptr;
}

bool Hashtable::contains(const Object& value) const {
  Enumeration values = elements();
  while (values.hasMoreElements()) {
    Object* stored = values.nextElement();
    if (stored != nullptr && value.equals(*stored)) return true;
  }
  return false;
}

void Hashtable::putAll(const Hashtable& other) {
  Enumeration entries(&other, Enumeration::kEntries);
  while (entries.hasMoreElements()) {
    Object* key;
    Object* value;
    entries.nextEntry(&key, &value);
    put(key, value);
  }
}

void Hashtable::ensureCapacity(uint32_t n) {
  float wanted = static_cast<float>(n) / loadFactor_;
  uint32_t buckets = wanted >= 4294967040.0f ? UINT32_MAX - 1 : static_cast<uint32_t>(wanted);
  if (buckets > capacity_) rehash(buckets);
}

void Hashtable::rehash(uint32_t requested) {
  uint32_t capacity = primeLikeAtLeast(requested);
  Entry** buckets = new Entry*[capacity]();
  for (uint32_t i = 0; i < capacity_; ++i) {
    Entry* entry = buckets_[i];
    while (entry != nullptr) {
      Entry* next = entry->next;
      Entry*& head = buckets[entry->hash % capacity];
      entry->next = head;
      head = entry;
      entry = next;
    }
  }
  delete[] buckets_;
  buckets_ = buckets;
  capacity_ = capacity;
  threshold_ = thresholdFor(capacity, loadFactor_);
}

String Hashtable::toString() const {
  String text("{");
  Enumeration entries(this, Enumeration::kEntries);
  bool first = true;
  while (entries.hasMoreElements()) {
    Object* key;
    Object* value;
    entries.nextEntry(&key, &value);
    if (!first) text += ", ";
    first = false;
    text += key->toString();
    text += "=";
    text += value == nullptr ? String("null") : value->toString();
  }
  text += "}";
  return text;
}
