// Environment is a private, sorted copy of a process environment: texts of
// the form name "=" value, kept in plain byte order (strcmp) and always
// terminated by a null entry, so that getEnvp() can be handed to the exec
// functions as it is.
//
// It is made from the process environment and then changed without touching
// the process's own:
//
//   Environment environment;
//   environment.set("LANG=C");
//   environment.remove("VS_UNICODE_OUTPUT");
//   execve(path, argv, environment.getEnvp());
//
// Copying makes a deep copy. An Environment owns every text it holds.
#ifndef VANTOREL_PLATFORM_ENVIRONMENT_H
#define VANTOREL_PLATFORM_ENVIRONMENT_H

#include <cstddef>
#include <cstdint>

#include "lang/Object.h"
#include "lang/String.h"

class Environment : public Object {
 public:
  // A copy of every entry of the process environment, sorted.
  Environment();
  Environment(const Environment& other);
  Environment& operator=(const Environment& other);
  ~Environment() override;

  // Drops every entry.
  void clear();
  // The index of the first entry that is `name` followed by "=", or -1.
  int find(const char* name) const;
  // The text after the entry's "=", or null when `name` has no entry. Valid
  // until the next change.
  const char* getValue(const char* name) const;
  // Drops the first entry of `name`, closing the gap; nothing when absent.
  void remove(const char* name);
  // Replaces the entry of the same name (the text before the first "=", or
  // all of it) by a copy of `entry`, kept in order.
  void set(const char* entry);

  uint32_t size() const { return count_; }
  // The entries in order, followed by a null entry. Valid until the next
  // change; the texts belong to this object.
  char* const* getEnvp() const { return entries_; }

  // Every entry followed by a line feed.
  String toString() const override;

 private:
  // The index of the first entry that is the `length` bytes of `name`
  // followed by "=", or -1.
  int indexOf(const char* name, size_t length) const;
  void removeAt(uint32_t index);
  // Room for `count` entries and the terminating null.
  void reserve(uint32_t count);
  void copyFrom(const Environment& other);

  // count_ + 1 used slots of capacity_, the last null; each text owned.
  char** entries_;
  uint32_t count_;
  uint32_t capacity_;
};

#endif  // VANTOREL_PLATFORM_ENVIRONMENT_H
