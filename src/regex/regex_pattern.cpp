#include "regex/regex_pattern.h"

namespace qp {

RegexPattern::RegexPattern(std::string_view) {}

int32_t RegexPattern::MatchAll(std::string_view) {
  results_.clear();
  return 0;
}

std::string RegexPattern::ReplaceAll(std::string_view text, std::string_view) {
  return std::string(text);
}

}  // namespace qp
