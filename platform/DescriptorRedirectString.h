// DescriptorRedirectString captures what is written to one descriptor while
// the object lives, and puts it into the caller's String when the object is
// destroyed:
//
//   String output;
//   {
//     DescriptorRedirectString capture(output, 1);
//     runProcess(argv, nullptr);  // the child's standard output is captured
//   }
//   // output holds it now
//
// The output goes through a new file in the temporary directory
// (Path::getTemporaryDirectory), named "DescriptorRedirect-" + the process id
// + "-" + a process-wide counter. The directory may be shared with other
// users, so the file is created only if the name is free (never through a
// symbolic link), readable by its owner alone; a taken name moves on to the
// next counter value, up to kMaxNameAttempts names. Only the redirected
// descriptor is inherited by children. The file is removed at the end.
//
// `out` is borrowed and must outlive the object.
#ifndef VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING_H
#define VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING_H

#include <cstdint>
#include <optional>

#include "io/RandomAccessFile.h"
#include "io/TmpFile.h"
#include "lang/String.h"
#include "platform/DescriptorRedirect.h"
#include "platform/Path.h"

class DescriptorRedirectString {
 public:
  // How many names are tried before a taken name is an error.
  static constexpr int kMaxNameAttempts = 100;

  // Raises the temporary directory's Exception, the file's "create" error
  // (the last name tried, when all were taken) or DescriptorRedirect's
  // errors.
  DescriptorRedirectString(String& out, int descriptor);
  DescriptorRedirectString(const DescriptorRedirectString&) = delete;
  DescriptorRedirectString& operator=(const DescriptorRedirectString&) = delete;
  // Ends the redirection and reads the file into `out`. A failing read or
  // close raises, unless another exception is propagating (out then holds
  // what could be read).
  virtual ~DescriptorRedirectString() noexcept(false);

 protected:
  // The descriptor of the open temporary file.
  int getFileDescriptor() const { return file_.getDescriptor(); }

 private:
  // A RandomAccessFile that can raise its own "create" error after open()
  // refused a name.
  class File : public RandomAccessFile {
   public:
    [[noreturn]] void failCreate() const { fail("create"); }
  };

  void createFile();
  void collect();

  // The temporary file's name.
  Path path_;
  // Removes the file at the end; holds the name only once the file was
  // created here.
  TmpFile tmpFile_;
  File file_;
  std::optional<DescriptorRedirect> redirect_;
  // The caller's String; borrowed.
  String* out_;
  // std::uncaught_exceptions() when the object was made.
  int uncaught_;
};

#endif  // VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING_H
