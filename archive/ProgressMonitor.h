// ProgressMonitor is the interface of anything that shows how far a long
// operation has come: it is told a current amount out of a total fixed at
// construction. ProgressMonitorText draws it as a percentage on a terminal;
// ProgressMonitorInputStream feeds it the bytes read through a stream.
#ifndef VANTOREL_ARCHIVE_PROGRESSMONITOR_H
#define VANTOREL_ARCHIVE_PROGRESSMONITOR_H

#include <cstdint>

class ProgressMonitor {
 public:
  explicit ProgressMonitor(uint32_t total) : total_(total) {}
  ProgressMonitor(const ProgressMonitor&) = delete;
  ProgressMonitor& operator=(const ProgressMonitor&) = delete;
  virtual ~ProgressMonitor() = default;

  // Shows the progress for `current` out of the total.
  virtual void update(uint32_t current) = 0;

  uint32_t getTotal() const { return total_; }

 protected:
  // The amount that stands for 100 %.
  uint32_t total_;
};

#endif  // VANTOREL_ARCHIVE_PROGRESSMONITOR_H
