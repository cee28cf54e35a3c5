#include "support/characters.h"

#include "support/codepage.h"

namespace qp {

size_t Utf8SequenceLength(std::string_view text, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t extra;
  // The second byte's range excludes overlong forms, surrogates and code
  // points above U+10FFFF, so that only well-formed sequences pass.
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + extra >= text.size()) return 0;
  if (b(i + 1) < low || b(i + 1) > high) return 0;
  for (size_t k = 2; k <= extra; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  return extra + 1;
}

bool IsLeadByte(unsigned char c) {
  if (ActiveCodePage() == kCodePageUtf8) return c >= 0xC2 && c <= 0xF4;
  return IsGbkLeadByte(c);
}

size_t CharLengthAt(std::string_view text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  if (ActiveCodePage() == kCodePageUtf8) {
    size_t length = Utf8SequenceLength(text, i);
    return length == 0 ? 1 : length;
  }
  return IsGbkLeadByte(c) && i + 1 < text.size() &&
                 IsGbkTrailByte(static_cast<unsigned char>(text[i + 1]))
             ? 2
             : 1;
}

size_t FindOnBoundary(std::string_view text, std::string_view needle, size_t from) {
  if (needle.empty()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= text.size(); i += CharLengthAt(text, i)) {
    if (text.compare(i, needle.size(), needle) == 0) return i;
  }
  return std::string_view::npos;
}

std::vector<std::string> SplitOnBoundaries(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  if (!separator.empty()) {
    for (size_t hit; (hit = FindOnBoundary(text, separator, pos)) != std::string_view::npos;
         pos = hit + separator.size())
      pieces.emplace_back(text.substr(pos, hit - pos));
  }
  pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string ReplaceOnBoundaries(std::string_view text, std::string_view from,
                                std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t hit; (hit = FindOnBoundary(text, from, pos)) != std::string_view::npos;
       pos = hit + from.size()) {
    out.append(text, pos, hit - pos);
    out.append(to);
  }
  out.append(text, pos);
  return out;
}

long long LastSingleByteIndex(std::string_view text, char c) {
  long long last = -1;
  for (size_t i = 0; i < text.size();) {
    size_t length = CharLengthAt(text, i);
    if (length == 1 && text[i] == c) last = static_cast<long long>(i);
    i += length;
  }
  return last;
}

std::string_view PrefixOnBoundary(std::string_view text, size_t limit) {
  size_t end = 0;
  while (end < text.size()) {
    size_t next = end + CharLengthAt(text, end);
    if (next > limit) break;
    end = next;
  }
  return text.substr(0, end);
}

namespace {
template <bool Lower>
void MapCase(std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      i += CharLengthAt(s, i);
      continue;
    }
    if (Lower && c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c + 32);
    if (!Lower && c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 32);
    ++i;
  }
}
}  // namespace

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  MapCase<true>(out);
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  MapCase<false>(out);
  return out;
}

void AsciiLowerInPlace(std::string& s) { MapCase<true>(s); }

std::string ForwardSlashes(std::string_view path) {
  std::string out(path);
  for (size_t i = 0; i < out.size(); i += CharLengthAt(out, i))
    if (out[i] == '\\') out[i] = '/';
  return out;
}

}  // namespace qp
