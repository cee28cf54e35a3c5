// Test helper: sets the process-wide code page for one scope and puts the
// earlier one back at its end, so a test that changes it leaves no trace.
#pragma once

#include "support/codepage.h"

namespace qp {

class CodePageGuard {
 public:
  explicit CodePageGuard(int codePage) : saved_(ActiveCodePage()) { SetActiveCodePage(codePage); }
  ~CodePageGuard() { SetActiveCodePage(saved_); }
  CodePageGuard(const CodePageGuard&) = delete;
  CodePageGuard& operator=(const CodePageGuard&) = delete;

 private:
  int saved_;
};

}  // namespace qp
