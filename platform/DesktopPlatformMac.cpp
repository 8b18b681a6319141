// The desktop layer on macOS: items and addresses go to LaunchServices.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>

#include <new>

#include "platform/DesktopPlatform.h"

namespace {

class LaunchServicesDesktopPlatform : public DesktopPlatform {
 public:
  void* makeReference(const char* path) override {
    if (path == nullptr) return nullptr;
    FSRef* reference = new (std::nothrow) FSRef;
    if (reference == nullptr) return nullptr;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path), reference, nullptr) != 0) {
      delete reference;
      return nullptr;
    }
    return reference;
  }
  bool openReference(void* reference) override {
    return LSOpenFSRef(static_cast<const FSRef*>(reference), nullptr) == 0;
  }
  void releaseReference(void* reference) override { delete static_cast<FSRef*>(reference); }

  void* createUrl(const char* bytes, uint32_t length) override {
    CFURLRef url = CFURLCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes),
                                        length, kCFStringEncodingASCII, nullptr);
    return const_cast<void*>(static_cast<const void*>(url));
  }
  bool openUrl(void* url) override {
    return LSOpenCFURLRef(static_cast<CFURLRef>(url), nullptr) == 0;
  }
  // A URL object is released through its reference count: freeing its
  // memory directly would skip CoreFoundation's own bookkeeping.
  void releaseUrl(void* url) override { CFRelease(static_cast<CFURLRef>(url)); }
};

}  // namespace

DesktopPlatform& DesktopPlatform::system() {
  static DesktopPlatform* platform = new LaunchServicesDesktopPlatform();  // never destroyed
  return *platform;
}
