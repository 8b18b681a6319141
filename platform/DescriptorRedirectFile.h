// DescriptorRedirectFile sends one descriptor, or two (standard output and
// standard error, say), into a file for as long as the object lives:
//
//   {
//     DescriptorRedirectFile log("build.log", 1, 2);
//     command.run();  // the child's output and errors land in build.log
//   }
//
// The file is created (permission bits 0600, subject to the umask) or
// emptied. The one-descriptor form closes its own descriptor of the file at
// once and keeps only the redirection. Destruction undoes the redirections in
// reverse order, then closes the file.
#ifndef VANTOREL_PLATFORM_DESCRIPTORREDIRECTFILE_H
#define VANTOREL_PLATFORM_DESCRIPTORREDIRECTFILE_H

#include <optional>

#include "io/RandomAccessFile.h"
#include "lang/String.h"
#include "platform/DescriptorRedirect.h"

class DescriptorRedirectFile {
 public:
  // Raise the file's "create" error or DescriptorRedirect's errors.
  DescriptorRedirectFile(const String& name, int target);
  DescriptorRedirectFile(const String& name, int first, int second);
  DescriptorRedirectFile(const DescriptorRedirectFile&) = delete;
  DescriptorRedirectFile& operator=(const DescriptorRedirectFile&) = delete;
  // A failing close of the file raises, unless another exception is
  // propagating, as RandomAccessFile's destructor does.
  ~DescriptorRedirectFile() noexcept(false) = default;

 private:
  // Destroyed last: closed after both redirections are undone.
  RandomAccessFile file_;
  DescriptorRedirect first_;
  std::optional<DescriptorRedirect> second_;
};

#endif  // VANTOREL_PLATFORM_DESCRIPTORREDIRECTFILE_H
