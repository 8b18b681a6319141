#include "io/TmpFile.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kInitialCapacity = 7;

}  // namespace

TmpFile::TmpFile() : paths_(new char*[kInitialCapacity]), count_(0), capacity_(kInitialCapacity) {}

TmpFile::TmpFile(const String& path) : TmpFile() { add(path); }

TmpFile::~TmpFile() {
  for (uint32_t i = 0; i < count_; ++i) {
    remove(paths_[i]);  // an ordinary file or an empty directory
    delete[] paths_[i];
  }
  delete[] paths_;
}

void TmpFile::add(const String& path) {
  if (count_ == capacity_) {
    char** grown = new char*[capacity_ * 2];
    memcpy(grown, paths_, count_ * sizeof(char*));
    delete[] paths_;
    paths_ = grown;
    capacity_ *= 2;
  }
  char* copy = new char[path.length() + 1];
  memcpy(copy, path.data(), path.length());
  copy[path.length()] = 0;
  paths_[count_++] = copy;
}
