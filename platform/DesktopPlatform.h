// DesktopPlatform is the thin layer under the desktop operations of
// Desktop.h: the calls that open an item or a web address in the desktop's
// applications, and the user-database lookup. The logic around them (which
// failure raises which message, what is released when) lives in Desktop.cpp
// and is the same everywhere; tests put a layer of their own in its place.
//
// The system's layer hands items and addresses to the launch services on
// macOS and to the desktop's opener (xdg-open, started without waiting)
// elsewhere.
//
// Handles are opaque: what makeReference or createUrl returns belongs to the
// caller until it gives it back to releaseReference or releaseUrl.
#ifndef VANTOREL_PLATFORM_DESKTOPPLATFORM_H
#define VANTOREL_PLATFORM_DESKTOPPLATFORM_H

#include <cstdint>

class DesktopPlatform {
 public:
  DesktopPlatform() = default;
  DesktopPlatform(const DesktopPlatform&) = delete;
  DesktopPlatform& operator=(const DesktopPlatform&) = delete;
  virtual ~DesktopPlatform();

  // A reference to the existing item `path` names, or null when it names
  // none or cannot be converted.
  virtual void* makeReference(const char* path) = 0;
  // Opens the item with its default application (a folder in the file
  // manager); whether that was started.
  virtual bool openReference(void* reference) = 0;
  virtual void releaseReference(void* reference) = 0;

  // An address object made from `length` bytes of ASCII text, or null when
  // they do not form one.
  virtual void* createUrl(const char* bytes, uint32_t length) = 0;
  // Opens the address with its default application; whether that was
  // started.
  virtual bool openUrl(void* url) = 0;
  virtual void releaseUrl(void* url) = 0;

  // The login name of the current user's entry in the user database, or
  // null when there is none. Valid until the next lookup.
  virtual const char* userDatabaseName();

  // The layer in use: the system's unless a test replaced it.
  static DesktopPlatform& current();
  // Puts `platform` in place of the layer in use; null restores the system's.
  // `platform` is borrowed and must live until it is replaced.
  static void setCurrent(DesktopPlatform* platform);

 private:
  // The system's layer, made on first use and never destroyed.
  static DesktopPlatform& system();
};

#endif  // VANTOREL_PLATFORM_DESKTOPPLATFORM_H
