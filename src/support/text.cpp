#include "support/text.h"

#include <climits>


namespace qp {

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(static_cast<unsigned char>(s[n - 1]))) --n;
  return s.substr(0, n);
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

int32_t LeadingInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  std::string out;
  size_t pos = 0;
  for (size_t hit; (hit = text.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
    out.append(text, pos, hit - pos);
    out.append(to);
  }
  if (pos == 0) return;
  out.append(text, pos, std::string::npos);
  text.swap(out);
}

std::vector<std::string> SplitAll(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  for (size_t hit; (hit = text.find(separator, pos)) != std::string_view::npos;
       pos = hit + separator.size())
    pieces.emplace_back(text.substr(pos, hit - pos));
  pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string ToDecimal(int64_t value) { return std::to_string(value); }

}  // namespace qp
