// DescriptorRedirectString2 captures two descriptors (standard output and
// standard error, say) into one String, in the order the bytes were written:
// both are redirected into the same open file and share its offset.
//
//   String output;
//   {
//     DescriptorRedirectString2 capture(output, 1, 2);
//     runProcess(argv, nullptr);
//   }
//
// `out` is borrowed and must outlive the object.
#ifndef VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING2_H
#define VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING2_H

#include <optional>

#include "lang/String.h"
#include "platform/DescriptorRedirect.h"
#include "platform/DescriptorRedirectString.h"

class DescriptorRedirectString2 : public DescriptorRedirectString {
 public:
  DescriptorRedirectString2(String& out, int first, int second);
  // Undoes the second redirection, then ends as DescriptorRedirectString.
  ~DescriptorRedirectString2() noexcept(false) override;

 private:
  std::optional<DescriptorRedirect> second_;
};

#endif  // VANTOREL_PLATFORM_DESCRIPTORREDIRECTSTRING2_H
