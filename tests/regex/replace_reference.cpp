#include "replace_reference.h"

#include "support/characters.h"

namespace qp {

std::vector<ReplaceStep> ReplaceSteps(RegexPattern& pattern, std::string_view text,
                                      std::string_view replacement) {
  std::vector<ReplaceStep> steps;
  pattern.MatchAll(text);
  const size_t groups = static_cast<size_t>(pattern.lastGroupCount());
  const auto& results = pattern.results();
  for (size_t first = 0; groups > 0 && first < results.size(); first += groups) {
    std::string copy(replacement);
    for (size_t g = 1; g < groups; ++g)
      copy = ReplaceOnBoundaries(copy, "$" + std::to_string(g), results[first + g]);
    steps.push_back({results[first], copy});
  }
  return steps;
}

std::string ReferenceReplaceAll(std::string_view text, const std::vector<ReplaceStep>& steps) {
  std::string result(text);
  for (const auto& step : steps)
    if (!step.marked.empty()) result = ReplaceOnBoundaries(result, step.marked, step.copy);
  return result;
}

namespace {

struct MarkedByte {
  char byte;
  bool inserted;
  bool charStart;  // a character of the caller's text starts here
  bool charEnd;    // and ends with this byte
};

bool Replaceable(const std::vector<MarkedByte>& text, size_t at, std::string_view marked) {
  if (at + marked.size() > text.size()) return false;
  for (size_t k = 0; k < marked.size(); ++k)
    if (text[at + k].inserted || text[at + k].byte != marked[k]) return false;
  return text[at].charStart && text[at + marked.size() - 1].charEnd;
}

}  // namespace

std::string ModelReplaceAll(std::string_view text, const std::vector<ReplaceStep>& steps) {
  std::vector<MarkedByte> current;
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharLengthAt(text, i);
    for (size_t k = 0; k < length; ++k)
      current.push_back({text[i + k], false, k == 0, k + 1 == length});
    i += length;
  }
  for (const auto& step : steps) {
    if (step.marked.empty()) continue;
    std::vector<MarkedByte> next;
    for (size_t i = 0; i < current.size();) {
      if (Replaceable(current, i, step.marked)) {
        for (char c : step.copy) next.push_back({c, true, false, false});
        i += step.marked.size();
      } else {
        next.push_back(current[i++]);
      }
    }
    current = std::move(next);
  }
  std::string out;
  for (const auto& b : current) out += b.byte;
  return out;
}

}  // namespace qp
