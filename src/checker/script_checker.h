// The static checker behind `qvrc --check`: reads scripts the way the
// compiler does (through its listener and source map, never its insides) and
// reports what would go wrong only at run time, or silently: unbalanced
// blocks, jumps to labels no file defines, handler labels no event reaches,
// lines swallowed by the previous operand, patterns that do not compile,
// unknown built-ins and keywords, variables never assigned, missing includes.
// It runs nothing: operands that hold references are only looked at.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qp {

struct Finding {
  std::string file;
  int32_t line = 0;
  bool error = true;  // false: a warning
  std::string text;
};

// "FILE:LINE: error: TEXT" or "FILE:LINE: warning: TEXT".
std::string FormatFinding(const Finding& finding);

class ScriptChecker {
 public:
  // `homeDir` holds Script/, where includes are found.
  explicit ScriptChecker(std::string homeDir) : homeDir_(std::move(homeDir)) {}

  // Checks one script file's text (as ReadTextFile gives it) named `path`.
  // The findings that need every file (variables read but never assigned)
  // wait for Finish.
  void Check(std::string_view text, const std::string& path);
  // The home of the files checked from now on.
  void SetHome(std::string homeDir) { homeDir_ = std::move(homeDir); }
  // Adds a finding of the caller's own (a file that cannot be read).
  void Add(Finding finding) { findings_.push_back(std::move(finding)); }
  // Ends the run: the findings of every file, in file and line order.
  std::vector<Finding> Finish();

 private:
  struct Read {
    std::string file;
    int32_t line;
  };
  std::string homeDir_;
  std::vector<Finding> findings_;
  std::vector<std::string> assigned_;                 // variables some file assigns
  std::vector<std::pair<std::string, Read>> reads_;   // first read of each variable
  friend class ProgramCheck;
};

// Checks `files` with the given home and returns the findings, sorted.
std::vector<Finding> CheckFiles(const std::vector<std::string>& files, const std::string& homeDir);

}  // namespace qp
