#include "net/cookie_jar.h"

#include "net/atomic_file.h"
#include "net/cookie_store.h"
#include "support/text.h"

namespace qp {
namespace {

// Names that are attributes of a Set-Cookie value, not cookies.
constexpr std::string_view kAttributeNames = "|path|domain|expires|max-age|secure|httponly|";
// Stands for the "=" between a name and its value while the header is
// assembled, so that searching for a "name=" prefix never hits a separator.
constexpr std::string_view kPlaceholder = "{fish}";

bool IsAttributeName(std::string_view name) {
  std::string probe = "|" + AsciiLower(name) + "|";
  return kAttributeNames.find(probe) != std::string_view::npos;
}

void AppendEntry(std::string& header, const std::string& name, const std::string& value) {
  if (!header.empty()) header += ';';
  header += name;
  header += kPlaceholder;
  header += value;
}

// An entry "prefix=sub" joins an earlier entry of the same prefix as
// "prefix=sub=value&...", so that one cookie carries all its sub-values.
void AddSubValue(std::string& header, const std::string& name, const std::string& value) {
  size_t eq = name.find('=');
  std::string prefix = name.substr(0, eq + 1);
  std::string inserted = name.substr(eq + 1) + std::string(kPlaceholder) + value + "&";
  size_t found = header.find(";" + prefix);
  if (found != std::string::npos) {
    header.insert(found + 1 + prefix.size(), inserted);
  } else if (header.compare(0, prefix.size(), prefix) == 0) {
    header.insert(prefix.size(), inserted);
  } else {
    AppendEntry(header, name, value);
  }
}

}  // namespace

void CookieJar::ParseCookieText(std::string_view text) {
  std::string prefix;
  size_t position = 0;
  while (position < text.size()) {
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) {
      ++position;
    }
    size_t eq = text.find('=', position);
    if (eq == std::string_view::npos) return;
    std::string_view name = text.substr(position, eq - position);
    size_t end = text.find_first_of(";&", eq + 1);
    if (end == std::string_view::npos) end = text.size();
    std::string_view value = text.substr(eq + 1, end - eq - 1);
    if (value.find('=') != std::string_view::npos) {
      prefix = std::string(name) + "=";  // sub-values follow: "s=x=1&y=2"
      position = eq + 1;
      continue;
    }
    if (!IsAttributeName(name)) entries[prefix + std::string(name)] = std::string(value);
    if (end == text.size()) return;
    if (text[end] == ';') prefix.clear();
    position = end + 1;
  }
}

void CookieJar::TakeSetCookies(std::string_view responseHead) {
  // Lines end in CR LF; a bare LF (some servers send one) ends a line too.
  std::vector<std::string> lines = SplitAll(responseHead, "\n");
  bool found = false;
  for (size_t i = lines.size(); i-- > 0;) {
    std::string& line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 12 || AsciiUpper(std::string_view(line).substr(0, 10)) != "SET-COOKIE") {
      continue;
    }
    ParseCookieText(std::string_view(line).substr(12));
    found = true;
  }
  if (found) RebuildHeader();
}

void CookieJar::RebuildHeader() {
  header.clear();
  for (const auto& [name, value] : entries) {
    if (name.find('=') != std::string::npos) {
      AddSubValue(header, name, value);
    } else {
      AppendEntry(header, name, value);
    }
  }
  ReplaceAll(header, kPlaceholder, "=");
}

void CookieJar::Clear() {
  entries.clear();
  RebuildHeader();
}

bool CookieJar::Save(const std::string& path) const {
  std::string text;
  for (const auto& [name, value] : entries) text += name + "^" + value + "\r\n";
  if (text.empty()) return true;
  return ReplaceFileAtomically(path, text);
}

bool CookieJar::Resume(const std::string& path) {
  entries.clear();
  std::string content;
  if (!ReadWholeFile(path, content)) return false;
  bool any = false;
  for (std::string& line : SplitAll(content, "\n")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<std::string> pieces = SplitAll(line, "^");
    if (pieces.size() < 2) continue;
    entries[pieces[0]] = pieces[1];
    any = true;
  }
  if (any) RebuildHeader();
  return any;
}

bool CookieJar::SaveToStore(CookieStore& store, const std::string& url,
                            const std::string& expires) const {
  std::vector<std::string> texts;
  for (const auto& [name, value] : entries) {
    texts.push_back(name + "=" + value + "; expires=" + expires);
  }
  if (texts.empty()) return true;
  return store.SetCookies(url, texts) == texts.size();
}

bool CookieJar::ResumeFromStore(CookieStore& store, const std::string& url) {
  std::string cookies = store.CookiesFor(url);
  if (cookies.empty()) return false;
  ParseCookieText(cookies);
  RebuildHeader();
  return true;
}

}  // namespace qp
