#include "archive/ProgressMonitorText.h"

#include <cstdio>

#include "lang/Exception.h"

namespace {

const char kStart[] = "  0%";
// Four backspaces over the previous value, then the percentage in three
// columns: always 8 bytes, since it never exceeds 100.
const char kRewrite[] = "\b\b\b\b%3u%%";
const char kComplete[] = "\b\b\b\b100%";
constexpr uint32_t kRewriteSize = 8;
constexpr uint32_t kAll = 100;

}  // namespace

ProgressMonitorText::ProgressMonitorText(uint32_t total, OutputStream* out)
    : ProgressMonitor(total), out_(out) {
  out_->write(kStart, sizeof kStart - 1);
}

ProgressMonitorText::~ProgressMonitorText() {
  if (ended_) return;
  try {
    if (last_ < kAll) out_->write(kComplete, kRewriteSize);
    out_->write("\n", 1);
  } catch (const Exception&) {
    // The work is done; only its display is incomplete.
  }
}

void ProgressMonitorText::abandon() {
  if (ended_) return;
  ended_ = true;
  try {
    out_->write("\n", 1);
  } catch (const Exception&) {
    // The failure that led here is what matters.
  }
}

void ProgressMonitorText::update(uint32_t current) {
  // With nothing to do, the work is complete.
  uint64_t percent = total_ == 0 ? kAll : uint64_t{current} * kAll / total_;
  if (percent > kAll) percent = kAll;
  if (percent == last_) return;
  last_ = static_cast<uint32_t>(percent);
  char text[kRewriteSize + 1];
  snprintf(text, sizeof text, kRewrite, last_);
  out_->write(text, kRewriteSize);
}
