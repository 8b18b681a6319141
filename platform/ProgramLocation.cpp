#include "platform/ProgramLocation.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

uint32_t findProgramFile(const char* list, const char* name, char* buffer, bool executableOnly) {
  if (list == nullptr) {
    list = getenv("PATH");
    if (list == nullptr) list = "";
  }
  size_t nameLength = strlen(name);
  const char* entry = list;
  for (;;) {
    const char* colon = strchr(entry, ':');
    size_t entryLength = colon == nullptr ? strlen(entry) : static_cast<size_t>(colon - entry);
    const char* directory = entry;
    if (entryLength == 0) {
      directory = ".";
      entryLength = 1;
    }
    bool slash = directory[entryLength - 1] == '/';
    size_t length = entryLength + (slash ? 0 : 1) + nameLength;
    if (length < kProgramSearchBuffer) {
      memcpy(buffer, directory, entryLength);
      size_t at = entryLength;
      if (!slash) buffer[at++] = '/';
      memcpy(buffer + at, name, nameLength);
      buffer[length] = 0;
      struct stat status;
      if (stat(buffer, &status) == 0 && S_ISREG(status.st_mode) &&
          (!executableOnly || (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0)) {
        return static_cast<uint32_t>(length);
      }
    }
    if (colon == nullptr) break;
    entry = colon + 1;
  }
  buffer[0] = 0;
  return 0;
}
