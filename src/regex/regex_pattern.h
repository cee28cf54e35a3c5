// RegexPattern: one compiled pattern of the script dialect, with its match
// registers and the results of its last MatchAll. The executor keeps patterns
// by name; each belongs to one script thread.
//
// The dialect: braces capture, parentheses only group, "|" binds tighter than
// concatenation, matching ignores case (pattern and text are lower-cased
// copies), and captured texts are cut from the caller's own bytes so they keep
// their case and code page. Matching runs on UTF-16 code units.
//
// Each call (MatchAll, ReplaceAll, Match) has a step budget (RegexLimits,
// RegexStepBudget) shared by its searches; the search that spends it fails,
// so the call ends with what it had found before.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "regex/regex_compiler.h"
#include "regex/regex_matcher.h"
#include "regex/regex_opcodes.h"

namespace qp {

class RegexPattern {
 public:
  // A pattern object without a pattern: error 10, never matches.
  RegexPattern();
  // Compiles `pattern` (bytes in the active code page).
  explicit RegexPattern(std::string_view pattern);

  bool valid() const { return valid_ != 0; }
  int32_t error() const { return error_; }
  int32_t groupCount() const { return groupCount_; }
  int32_t slotCount() const { return slotCount_; }
  bool caseSensitive() const { return caseSensitive_ != 0; }
  // Whether its searches may remember failed (memo point, position) pairs.
  bool memoizable() const { return program_.memoizable; }
  int32_t lastGroupCount() const { return lastGroupCount_; }
  const std::vector<std::string>& results() const { return results_; }
  const std::vector<RegexInstruction>& program() const { return program_.instructions; }
  const MatchState& state() const { return state_; }

  // Texts of every group of every successive match; returns their number.
  int32_t MatchAll(std::string_view text);
  // Rewrites `text`: group 0 of each match marks what is replaced, "$1".. in
  // the replacement take the other groups. Each match replaces every
  // occurrence of its group 0 in the text, except where a replacement of
  // this call inserted text: inserted text is never replaced again, and an
  // occurrence is replaced only where it begins and ends on characters of
  // the text. Matches with the same group-0 text cost one pass together.
  std::string ReplaceAll(std::string_view text, std::string_view replacement);

  // One search over an already lower-cased UTF-16 text from `start`; on success
  // `next` is the end of the match and state() holds the registers.
  bool Match(std::u16string_view lowered, int32_t start, int32_t& next);

  // The program, one instruction a line: index, opcode name, operand.
  std::string Listing() const;

  // Caps the backtracking stack (in 32-bit items); a search that needs more fails.
  void setStackLimit(size_t items) { limits_.stackItems = items; }
  // The stack cap, the step budget and when a search starts remembering failures.
  void setLimits(const RegexLimits& limits) { limits_ = limits; }
  const RegexLimits& limits() const { return limits_; }
  // Whether the last call stopped a search because its step budget was spent.
  bool limitReached() const { return state_.limitReached; }

 private:
  // The caller's text as lower-cased UTF-16 with the byte offset of every unit.
  struct Subject {
    std::u16string wide;
    std::vector<uint32_t> offsets;
  };
  // Fills subject_ (its storage is kept from call to call).
  bool Prepare(std::string_view text);
  // The step budget of a call over `units` units, and the end of the call.
  void BeginCall(size_t units);
  void EndCall();
  // One search within the current call's budget.
  bool Search(std::u16string_view lowered, int32_t start, int32_t& next);
  // Runs the successive searches of MatchAll or ReplaceAll over subject_ and
  // keeps the group ranges of every match in spans_.
  void CollectSpans();
  // The replacement for the match whose groups start at spans_[first].
  std::string Replacement(std::string_view text, std::string_view replacement,
                          size_t first) const;
  static std::string SpanText(std::string_view text, const Subject& subject,
                              std::pair<int32_t, int32_t> span);
  // Where the search after the current match starts; one unit further after
  // an empty match so that the same empty match is not found again.
  int32_t NextStart(int32_t next) const;

  int32_t error_ = kRegexNoPattern;
  RegexProgram program_;
  int32_t groupCount_ = 0;
  int32_t slotCount_ = 0;
  int32_t caseSensitive_ = 0;
  MatchState state_;
  int32_t valid_ = 0;
  int32_t lastGroupCount_ = 0;
  std::vector<std::string> results_;
  Subject subject_;
  std::vector<std::pair<int32_t, int32_t>> spans_;  // group ranges of every match
  RegexLimits limits_;
};

// Lower-cases UTF-16 units one to one (so positions keep their meaning).
void RegexLowerCase(std::u16string& text);

}  // namespace qp
