// RegexPattern: one compiled pattern of the script dialect, with its match
// registers and the results of its last MatchAll. (Placeholder interface; the
// compiler and matcher fill it in.)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qp {

class RegexPattern {
 public:
  // Compiles `pattern` (bytes in the active code page).
  explicit RegexPattern(std::string_view pattern);

  bool valid() const { return valid_ != 0; }
  int32_t error() const { return error_; }
  int32_t groupCount() const { return groupCount_; }
  int32_t lastGroupCount() const { return lastGroupCount_; }
  const std::vector<std::string>& results() const { return results_; }

  // Texts of every group of every successive match; returns their number.
  int32_t MatchAll(std::string_view text);
  // Rewrites `text`: group 0 of each match marks what is replaced, "$1".. in
  // the replacement take the other groups.
  std::string ReplaceAll(std::string_view text, std::string_view replacement);

 private:
  int32_t error_ = 10;
  int32_t groupCount_ = 0;
  int32_t valid_ = 0;
  int32_t lastGroupCount_ = 0;
  std::vector<std::string> results_;
};

}  // namespace qp
