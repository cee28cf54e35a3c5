#include "net/page_charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "net/body_decoding.h"
#include "support/codepage.h"

namespace qp {
namespace {

constexpr auto npos = std::string_view::npos;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.' || c == ':';
}

// The charset name after `key` (already found at `at` in `text`): optional
// blanks, "=", optional blanks and quote, then the name's bytes.
std::string NameAfter(std::string_view text, size_t at, size_t keyLength) {
  size_t i = at + keyLength;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skipBlanks();
  if (i >= text.size() || text[i] != '=') return std::string();
  ++i;
  skipBlanks();
  if (i < text.size() && (text[i] == '"' || text[i] == '\'')) ++i;
  size_t start = i;
  while (i < text.size() && IsNameByte(text[i])) ++i;
  return Lower(text.substr(start, i - start));
}

std::string CharsetOfTags(std::string_view lowerHead) {
  for (size_t tag = lowerHead.find("<meta"); tag != npos; tag = lowerHead.find("<meta", tag + 5)) {
    size_t end = lowerHead.find('>', tag);
    std::string_view meta = lowerHead.substr(tag, end == npos ? npos : end - tag);
    for (size_t key = meta.find("charset"); key != npos; key = meta.find("charset", key + 7)) {
      std::string name = NameAfter(meta, key, 7);
      if (!name.empty()) return name;
    }
  }
  return std::string();
}

// Charsets whose bytes are those of a code page: GB2312 pages are read as
// GBK, which holds it (and which such pages often use without saying so).
enum class Family { kOther, kAscii, kGbk, kUtf8 };

Family FamilyOf(const std::string& name) {
  if (name == "utf-8" || name == "utf8") return Family::kUtf8;
  if (name == "gbk" || name == "gb2312" || name == "cp936" || name == "x-gbk" ||
      name == "gb_2312-80" || name == "euc-cn" || name == "windows-936") {
    return Family::kGbk;
  }
  if (name == "us-ascii" || name == "ascii") return Family::kAscii;
  return Family::kOther;
}

// `text` in `charset` as UTF-8 through iconv; false when iconv does not know
// the charset. A byte that starts no character becomes "?".
bool ToUtf8(std::string_view text, const char* charset, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(text.size() + text.size() / 2);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[16384];
  while (inLeft > 0) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    out += '?';  // EILSEQ, or EINVAL for a character cut off at the end
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &to, &toLeft);
    out.append(buffer, static_cast<size_t>(to - buffer));
  }
  iconv_close(cd);
  return true;
}

}  // namespace

std::string DeclaredCharset(std::string_view head, std::string_view body) {
  std::string type = Lower(HeadField(head, "content-type"));
  for (size_t key = type.find("charset"); key != npos; key = type.find("charset", key + 7)) {
    std::string name = NameAfter(type, key, 7);
    if (!name.empty()) return name;
  }
  std::string lower = Lower(body.substr(0, std::min<size_t>(body.size(), 1 << 20)));
  size_t end = lower.find("</head>");
  if (end != npos) return CharsetOfTags(std::string_view(lower).substr(0, end));
  end = lower.find("\"?>");
  if (end == npos) return std::string();
  std::string_view declaration = std::string_view(lower).substr(0, end + 1);
  size_t start = declaration.find("<?xml");
  if (start == npos) return std::string();
  size_t key = declaration.find("encoding", start);
  return key == npos ? std::string() : NameAfter(declaration, key, 8);
}

namespace {

// What ConvertCharset does, on a text it may consume: a text that needs no
// change comes back itself, and one that does is released as soon as its
// converted form exists, so that a page is never held more than twice.
std::string ConvertOwned(std::string text, std::string_view charset, int codePage) {
  std::string name = Lower(charset);
  Family family = FamilyOf(name);
  bool gbkHome = codePage == kCodePageGbk;
  if (name.empty() || family == Family::kAscii) return text;
  // A UTF-8 page always takes the round trip into the code page, as it always
  // has, so invalid sequences read the same in both homes.
  if (family == Family::kUtf8) return ConvertCodePage(text, kCodePageUtf8, codePage);
  if (family == Family::kGbk && gbkHome) return text;
  std::string utf8;
  std::string iconvName = family == Family::kGbk ? "GBK" : name;
  if (!ToUtf8(text, iconvName.c_str(), utf8)) return text;
  std::string().swap(text);
  return gbkHome ? ConvertCodePage(utf8, kCodePageUtf8, kCodePageGbk) : utf8;
}

}  // namespace

std::string ConvertCharset(std::string_view text, std::string_view charset, int codePage) {
  return ConvertOwned(std::string(text), charset, codePage);
}

std::string PageTextInCodePage(std::string_view head, std::string_view body) {
  return ConvertCharset(body, DeclaredCharset(head, body), ActiveCodePage());
}

std::string PageTextInCodePage(std::string_view head, std::string&& body) {
  std::string charset = DeclaredCharset(head, body);
  return ConvertOwned(std::move(body), charset, ActiveCodePage());
}

}  // namespace qp
