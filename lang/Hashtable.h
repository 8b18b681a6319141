// Hashtable is a chained hash map from Object to Object, compared through the
// keys' hashCode and equals. The table owns its entries but neither keys nor
// values: they must outlive the table's use of them. There is no removal.
//
// It is made with an exact bucket count and load factor (the system uses 101
// and 0.75); when the count exceeds the threshold it rehashes to the next
// prime-like size at or above twice the capacity (101 becomes 211 on the 76th
// key). Enumerations run over buckets in index order and, within a bucket,
// from the most recently inserted entry.
#ifndef VANTOREL_LANG_HASHTABLE_H
#define VANTOREL_LANG_HASHTABLE_H

#include <cstdint>

#include "lang/Enumeration.h"
#include "lang/Object.h"

class Hashtable : public Object {
  struct Entry;

 public:
  class Enumeration : public ::Enumeration {
   public:
    enum Mode { kEntries = 0, kKeys = 1, kValues = 2 };
    // Borrows `table`, which must not change while it is walked.
    Enumeration(const Hashtable* table, Mode mode);
    bool hasMoreElements() override { return remaining_ != 0; }
    // Raises "Hashtable: no such element" when none is left. In entry mode it
    // returns null; use nextEntry() to see the key and value.
    Object* nextElement() override;
    // The next entry's key and value (any mode).
    void nextEntry(Object** key, Object** value);

   private:
    const Entry* advance();

    uint32_t remaining_;
    const Hashtable* table_;
    uint32_t bucket_;
    Mode mode_;
    const Entry* current_;
  };

  Hashtable(uint32_t initialCapacity = 101, float loadFactor = 0.75f);
  Hashtable(const Hashtable&) = delete;
  Hashtable& operator=(const Hashtable&) = delete;
  ~Hashtable() override;

  // "{" + "key=value" pairs joined by ", " + "}", in enumeration order.
  String toString() const override;

  // Returns the previous value of an equal key (whose stored key object
  // stays), or null.
  Object* put(Object* key, Object* value);
  Object* get(const Object& key) const;
  // Whether some stored value v has value.equals(v).
  bool contains(const Object& value) const;
  void putAll(const Hashtable& other);
  // Rehashes when n / loadFactor exceeds the capacity.
  void ensureCapacity(uint32_t n);
  Enumeration keys() const { return Enumeration(this, Enumeration::kKeys); }
  Enumeration elements() const { return Enumeration(this, Enumeration::kValues); }

  uint32_t size() const { return count_; }
  uint32_t capacity() const { return capacity_; }
  uint32_t threshold() const { return threshold_; }

 private:
  struct Entry {
    Object* key;
    Object* value;
    uint32_t hash;  // the key's hashCode, never recomputed
    Entry* next;
  };

  void rehash(uint32_t requested);

  // capacity_ chain heads, owned with their entries.
  Entry** buckets_;
  uint32_t capacity_;
  float loadFactor_;
  // The integer part of capacity_ * loadFactor_, in 32-bit floating point.
  uint32_t threshold_;
  uint32_t count_;
};

#endif  // VANTOREL_LANG_HASHTABLE_H
