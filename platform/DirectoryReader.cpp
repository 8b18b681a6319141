#include "platform/DirectoryReader.h"

namespace {

constexpr const char* kDirectoryOpenFailure = "directory open failure";

}  // namespace

DirectoryReader::DirectoryReader(const Path& directory, OpenFailure onFailure)
    : directory_(directory), handle_(opendir(directory.c_str())) {
  if (handle_ == nullptr && onFailure == kRaise) directory_.throwFailure(kDirectoryOpenFailure);
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
