// DescriptorRedirect points one descriptor (the target, say standard output)
// at what another descriptor (the source) refers to, for as long as the
// object lives; destroying it points the target back where it was.
//
//   {
//     DescriptorRedirect quiet(logDescriptor, 2);
//     ...  // whatever writes to descriptor 2 goes to the log
//   }
//
// Standard output and standard error are flushed when the redirection starts
// and when it ends, so that text buffered before goes where it was meant to
// and text buffered meanwhile goes into the redirection. The saved duplicate
// of the target is close-on-exec: children inherit only the target. The
// source is borrowed and may be closed once the object is made.
#ifndef VANTOREL_PLATFORM_DESCRIPTORREDIRECT_H
#define VANTOREL_PLATFORM_DESCRIPTORREDIRECT_H

class DescriptorRedirect {
 public:
  // Raises "dup" or "dup2", followed by ": " and the system's reason when
  // there is one; nothing is left redirected then.
  DescriptorRedirect(int source, int target);
  DescriptorRedirect(const DescriptorRedirect&) = delete;
  DescriptorRedirect& operator=(const DescriptorRedirect&) = delete;
  ~DescriptorRedirect();

 private:
  // The redirected descriptor.
  int target_;
  // A duplicate of what target_ referred to before; owned, closed at the end.
  int saved_;
};

#endif  // VANTOREL_PLATFORM_DESCRIPTORREDIRECT_H
