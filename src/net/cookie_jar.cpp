#include "net/cookie_jar.h"

#include <iterator>

#include "net/cookie_store.h"
#include "support/atomic_file.h"
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

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The header value built from `cookies`, sub-values packed under their cookie.
template <class Cookies, class Wanted>
std::string BuildHeader(const Cookies& cookies, Wanted wanted) {
  std::string header;
  for (const auto& cookie : cookies) {
    if (!wanted(cookie)) continue;
    if (cookie.name.find('=') != std::string::npos) {
      AddSubValue(header, cookie.name, cookie.value);
    } else {
      AppendEntry(header, cookie.name, cookie.value);
    }
  }
  ReplaceAll(header, kPlaceholder, "=");
  return header;
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (domain.empty()) return false;
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.';
}

}  // namespace

void CookieJar::ParseCookieText(std::string_view text) {
  std::vector<std::string> stored;
  ParsePairs(text, stored);
  for (const std::string& name : stored) scopes.erase(name);
}

void CookieJar::SetByScript(const std::string& name, const std::string& value) {
  entries[name] = value;
  scopes.erase(name);
}

// The flags without "=" (Secure, HttpOnly) are taken out before the pairs are
// read, so that a flag in the middle ("a=1; Secure; path=/") is not read as
// part of the next pair's name.
void CookieJar::ParseSetCookie(std::string_view text, std::string_view host) {
  CookieScope scope;
  scope.host = LowerAscii(host);
  std::string pairs;
  for (const std::string& piece : SplitAll(text, ";")) {
    std::string_view segment = Trim(piece);
    size_t eq = segment.find('=');
    std::string key = LowerAscii(Trim(segment.substr(0, eq)));
    if (eq == std::string_view::npos) {
      if (key == "secure") scope.secure = true;
      continue;
    }
    if (key == "domain") {
      std::string_view domain = Trim(segment.substr(eq + 1));
      while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
      scope.domain = LowerAscii(domain);
    }
    if (!pairs.empty()) pairs += "; ";
    pairs += segment;
  }
  std::vector<std::string> stored;
  ParsePairs(pairs, stored);
  for (const std::string& name : stored) scopes[name] = scope;
}

void CookieJar::ParsePairs(std::string_view text, std::vector<std::string>& stored) {
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
    if (!IsAttributeName(name)) {
      std::string key = prefix + std::string(name);
      entries[key] = std::string(value);
      stored.push_back(std::move(key));
    }
    if (end == text.size()) return;
    if (text[end] == ';') prefix.clear();
    position = end + 1;
  }
}

void CookieJar::TakeSetCookies(std::string_view responseHead, std::string_view host) {
  // Lines end in CR LF; a bare LF (some servers send one) ends a line too.
  std::vector<std::string> lines = SplitAll(responseHead, "\n");
  bool found = false;
  for (size_t i = lines.size(); i-- > 0;) {
    std::string& line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 12 || AsciiUpper(std::string_view(line).substr(0, 10)) != "SET-COOKIE") {
      continue;
    }
    ParseSetCookie(std::string_view(line).substr(12), host);
    found = true;
  }
  if (found) RebuildHeader();
}

void CookieJar::RebuildHeader() {
  sent_.clear();
  anyScoped_ = false;
  for (auto scope = scopes.begin(); scope != scopes.end();) {
    scope = entries.count(scope->first) ? std::next(scope) : scopes.erase(scope);
  }
  for (const auto& [name, value] : entries) {
    auto scope = scopes.find(name);
    bool scoped = scope != scopes.end();
    sent_.push_back({name, value, scoped, scoped ? scope->second : CookieScope()});
    anyScoped_ = anyScoped_ || scoped;
  }
  header = BuildHeader(sent_, [](const SentCookie&) { return true; });
}

std::string CookieJar::HeaderFor(std::string_view host, bool overHttps) const {
  if (!anyScoped_) return header;
  std::string lowerHost = LowerAscii(host);
  return BuildHeader(sent_, [&](const SentCookie& cookie) {
    if (!cookie.scoped) return true;
    if (cookie.scope.secure && !overHttps) return false;
    return lowerHost == cookie.scope.host || DomainMatches(lowerHost, cookie.scope.domain);
  });
}

void CookieJar::Clear() {
  entries.clear();
  scopes.clear();
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
  scopes.clear();
  std::string content;
  if (!ReadWholeFile(path, content)) return false;
  bool any = false;
  for (std::string& line : SplitAll(content, "\n")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<std::string> pieces = SplitAll(line, "^");
    if (pieces.size() < 2) continue;
    // The value ends the line when the file is written again, and a line
    // loses its trailing CRs; a value that kept them would not read back.
    std::string& value = pieces[1];
    while (!value.empty() && value.back() == '\r') value.pop_back();
    entries[pieces[0]] = value;
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
