// The plain search of a colon-separated directory list for a program file,
// on zero-terminated byte strings and a caller's buffer, without objects: it
// also serves just before a process image is replaced.
//
// Path::setProgramPath (declared in platform/Path.h) records the program's
// own path with it.
#ifndef VANTOREL_PLATFORM_PROGRAMLOCATION_H
#define VANTOREL_PLATFORM_PROGRAMLOCATION_H

#include <cstdint>

// The size of the caller's buffer for a candidate, terminator included.
constexpr uint32_t kProgramSearchBuffer = 1024;

// Searches `list` (the PATH variable when null; an unset PATH counts as
// empty) for `name`. An empty entry, also one made by a leading, doubled or
// trailing ":", means ".". Each candidate is the entry, "/" unless the entry
// ends with one, and the name; the first for which stat succeeds and which is
// a regular file wins (with `executableOnly`, one with at least one of the
// execute bits 0111, as the file a shell runs; otherwise execute bits are not
// examined). Returns its length, leaving it zero-terminated in `buffer`, or 0
// when none is found. Candidates that would not fit in kProgramSearchBuffer
// bytes are skipped.
uint32_t findProgramFile(const char* list, const char* name, char* buffer,
                         bool executableOnly = false);

#endif  // VANTOREL_PLATFORM_PROGRAMLOCATION_H
