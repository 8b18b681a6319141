// ProgressMonitorText shows progress as one whole-number percentage that is
// rewritten in place on a terminal: "  0%" when it is built, then four
// backspaces and the new value right-aligned in three columns each time the
// percentage changes, and "100%" and a line feed when it is destroyed.
//
//   FileOutputStream terminal(1);
//   ProgressMonitorText monitor(total, &terminal);
//   ... monitor.update(done) ...
//   // destroy it when the work is over: the line ends showing 100 %
//
// Each change is one 8-byte write, at most 101 in a run. A total of 0 counts
// as complete. Borrows the output stream, which must outlive it.
#ifndef VANTOREL_ARCHIVE_PROGRESSMONITORTEXT_H
#define VANTOREL_ARCHIVE_PROGRESSMONITORTEXT_H

#include <cstdint>

#include "archive/ProgressMonitor.h"
#include "io/OutputStream.h"

class ProgressMonitorText : public ProgressMonitor {
 public:
  // Writes "  0%".
  ProgressMonitorText(uint32_t total, OutputStream* out);
  // Shows 100 % unless it is shown already, then ends the line. A failing
  // write is dropped: a destructor must not throw.
  ~ProgressMonitorText() override;

  void update(uint32_t current) override;

  // Ends the line at the percentage shown, for work that failed: it is not
  // shown as complete. The destructor then writes nothing.
  void abandon();

 private:
  // Borrowed; never null.
  OutputStream* out_;
  // The percentage on the screen, 0 to 100.
  uint32_t last_ = 0;
  // Whether the line has been ended.
  bool ended_ = false;
};

#endif  // VANTOREL_ARCHIVE_PROGRESSMONITORTEXT_H
