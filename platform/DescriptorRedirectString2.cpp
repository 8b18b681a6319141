#include "platform/DescriptorRedirectString2.h"

DescriptorRedirectString2::DescriptorRedirectString2(String& out, int first, int second)
    : DescriptorRedirectString(out, first) {
  second_.emplace(getFileDescriptor(), second);
}

DescriptorRedirectString2::~DescriptorRedirectString2() noexcept(false) { second_.reset(); }
