#include "ui/html_text.h"

#include <glib.h>

#include "support/text.h"

namespace qp {
namespace {

// Tag name in lower case, without "/" ("br" for "<br/>", "/p" kept as "p").
std::string TagName(std::string_view tag, bool& closing) {
  size_t i = 0;
  closing = false;
  if (i < tag.size() && tag[i] == '/') {
    closing = true;
    ++i;
  }
  size_t start = i;
  while (i < tag.size() && (g_ascii_isalnum(tag[i]))) ++i;
  return AsciiLower(tag.substr(start, i - start));
}

bool BreaksLine(const std::string& name) {
  static const char* const kBlocks[] = {"br", "p", "div", "tr", "li", "hr", "table",
                                        "h1", "h2", "h3", "h4", "h5", "h6", "form"};
  for (const char* block : kBlocks)
    if (name == block) return true;
  return false;
}

// Value of attribute `name` in a tag's text, quoted or not; empty if absent.
std::string AttributeValue(std::string_view tag, std::string_view name) {
  std::string lower = AsciiLower(tag);
  size_t at = 0;
  while ((at = lower.find(name, at)) != std::string::npos) {
    size_t i = at + name.size();
    bool boundary = at > 0 && IsBlank(static_cast<unsigned char>(lower[at - 1]));
    while (i < lower.size() && IsBlank(static_cast<unsigned char>(lower[i]))) ++i;
    if (!boundary || i >= lower.size() || lower[i] != '=') {
      at += name.size();
      continue;
    }
    ++i;
    while (i < tag.size() && IsBlank(static_cast<unsigned char>(tag[i]))) ++i;
    char quote = i < tag.size() && (tag[i] == '"' || tag[i] == '\'') ? tag[i] : 0;
    if (quote) ++i;
    size_t end = i;
    while (end < tag.size() && (quote ? tag[end] != quote
                                      : !IsBlank(static_cast<unsigned char>(tag[end])) &&
                                            tag[end] != '>'))
      ++end;
    return std::string(tag.substr(i, end - i));
  }
  return std::string();
}

// Decodes the entity that starts at html[i] ('&'); returns false when it is
// none that we know (the '&' is then kept as it is).
bool DecodeEntity(std::string_view html, size_t& i, std::string& out) {
  size_t semicolon = html.find(';', i);
  if (semicolon == std::string_view::npos || semicolon - i > 10) return false;
  std::string_view name = html.substr(i + 1, semicolon - i - 1);
  gunichar c = 0;
  if (name == "amp") c = '&';
  else if (name == "lt") c = '<';
  else if (name == "gt") c = '>';
  else if (name == "quot") c = '"';
  else if (name == "apos") c = '\'';
  else if (name == "nbsp") c = ' ';
  else if (name.size() > 1 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string digits(name.substr(hex ? 2 : 1));
    c = static_cast<gunichar>(g_ascii_strtoull(digits.c_str(), nullptr, hex ? 16 : 10));
  }
  if (c == 0 || !g_unichar_validate(c)) return false;
  char buffer[8];
  out.append(buffer, static_cast<size_t>(g_unichar_to_utf8(c, buffer)));
  i = semicolon;
  return true;
}

// Shrinks white space: runs become one blank, blanks next to a line end go.
std::string Tidy(const std::string& raw) {
  std::string out;
  bool pendingBlank = false;
  for (char c : raw) {
    if (c == '\n') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
      if (!out.empty() && !(out.size() >= 2 && out.back() == '\n' && out[out.size() - 2] == '\n'))
        out += '\n';
      pendingBlank = false;
    } else if (IsBlank(static_cast<unsigned char>(c))) {
      pendingBlank = true;
    } else {
      if (pendingBlank && !out.empty() && out.back() != '\n') out += ' ';
      pendingBlank = false;
      out += c;
    }
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace

std::string HtmlToConsoleText(std::string_view html) {
  std::string raw;
  std::string skipUntil;  // closing tag of a script or style element
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      size_t close = html.find('>', i);
      if (close == std::string_view::npos) close = html.size();
      std::string_view tag = html.substr(i + 1, close - i - 1);
      bool closing;
      std::string name = TagName(tag, closing);
      i = close;
      if (!skipUntil.empty()) {
        if (closing && name == skipUntil) skipUntil.clear();
        continue;
      }
      if (!closing && (name == "script" || name == "style")) skipUntil = name;
      if (BreaksLine(name)) raw += '\n';
      if (!closing && name == "img") raw += '\n' + AttributeValue(tag, "src") + '\n';
      continue;
    }
    if (!skipUntil.empty()) continue;
    if (c == '&' && DecodeEntity(html, i, raw)) continue;
    raw += IsBlank(static_cast<unsigned char>(c)) ? ' ' : c;  // only tags break lines
  }
  return Tidy(raw);
}

}  // namespace qp
