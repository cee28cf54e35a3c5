// Two ReplaceAll implementations for tests to compare RegexPattern's with.
//
// ReferenceReplaceAll is ReplaceAll as it was before inserted text was kept
// apart: each match replaces every occurrence of its group 0 anywhere in the
// result, text that earlier matches inserted included, one pass per match.
// ModelReplaceAll is the rule RegexPattern::ReplaceAll keeps, written the
// plain way (one scan of the whole text per match, a mark on every byte):
// occurrences made of the caller's own bytes, beginning and ending on its
// characters, are replaced; inserted bytes never are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "regex/regex_pattern.h"

namespace qp {

// One match of a ReplaceAll: its group-0 text and the replacement with the
// other groups put in.
struct ReplaceStep {
  std::string marked;
  std::string copy;
};

// The matches that ReplaceAll works through, from MatchAll's results.
std::vector<ReplaceStep> ReplaceSteps(RegexPattern& pattern, std::string_view text,
                                      std::string_view replacement);

std::string ReferenceReplaceAll(std::string_view text, const std::vector<ReplaceStep>& steps);
std::string ModelReplaceAll(std::string_view text, const std::vector<ReplaceStep>& steps);

}  // namespace qp
