#include "platform/DirectoryReader.h"

#include <unistd.h>

#include <cerrno>

DirectoryReader::DirectoryReader(const Path& directory, OpenFailure onFailure)
    : directory_(directory), handle_(opendir(directory.c_str())) {
  if (handle_ == nullptr && onFailure == kRaise) {
    directory_.throwFailure(Path::kDirectoryOpenFailure);
  }
}

DirectoryReader::DirectoryReader(const Path& directory, int descriptor)
    : directory_(directory), handle_(fdopendir(descriptor)) {
  if (handle_ == nullptr) {
    int error = errno;
    close(descriptor);
    errno = error;
    directory_.throwFailure(Path::kDirectoryOpenFailure);
  }
}

DirectoryReader::~DirectoryReader() {
  if (handle_ != nullptr) closedir(handle_);
}

bool DirectoryReader::next(String& name) {
  if (handle_ == nullptr) return false;
  for (;;) {
    const struct dirent* entry = readdir(handle_);
    if (entry == nullptr) return false;
    const char* text = entry->d_name;
    if (text[0] == '.' && (text[1] == 0 || (text[1] == '.' && text[2] == 0))) continue;
    name = String(text);
    return true;
  }
}
