#include "platform/DescriptorRedirectFile.h"

#include <fcntl.h>

namespace {

// Created or emptied, and never inherited through this descriptor: children
// see the file only through the redirected ones.
constexpr int kFileFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

}  // namespace

DescriptorRedirectFile::DescriptorRedirectFile(const String& name, int target)
    : file_(name, kFileFlags), first_(file_.getDescriptor(), target) {
  file_.close();
}

DescriptorRedirectFile::DescriptorRedirectFile(const String& name, int first, int second)
    : file_(name, kFileFlags), first_(file_.getDescriptor(), first) {
  second_.emplace(file_.getDescriptor(), second);
}
