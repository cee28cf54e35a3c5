#include "net/cookie_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

#include "net/url_parts.h"
#include "support/atomic_file.h"
#include "support/text.h"

namespace qp {
namespace {

constexpr char kFileHeader[] = "# Netscape HTTP Cookie File\n";
constexpr char kHttpOnlyPrefix[] = "#HttpOnly_";

// Serialises the read-modify-write of the store inside this process; the
// flock on a lock file beside the store does it between processes.
std::mutex storeMutex;

class StoreLock {
 public:
  explicit StoreLock(const std::string& storePath) : guard_(storeMutex) {
    fd_ = open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the flock
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
};

void MakeDirectories(const std::string& filePath) {
  for (size_t slash = filePath.find('/', 1); slash != std::string::npos;
       slash = filePath.find('/', slash + 1)) {
    mkdir(filePath.substr(0, slash).c_str(), 0700);
  }
}

// Control bytes (tab, CR and LF among them) can stand neither in the
// tab-separated lines of the file nor in a Cookie header, so a cookie that
// holds one in its domain, path, name or value is refused when it is set and
// left out when it is read, as browsers refuse such cookies.
bool HoldsControlByte(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool Storable(const StoredCookie& cookie) {
  return !HoldsControlByte(cookie.domain) && !HoldsControlByte(cookie.path) &&
         !HoldsControlByte(cookie.name) && !HoldsControlByte(cookie.value);
}

bool ParseLine(std::string line, StoredCookie& cookie) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.rfind(kHttpOnlyPrefix, 0) == 0) {
    cookie.httpOnly = true;
    line.erase(0, sizeof kHttpOnlyPrefix - 1);
  } else if (line.empty() || line[0] == '#') {
    return false;
  }
  std::vector<std::string> fields = SplitAll(line, "\t");
  if (fields.size() < 7) return false;
  cookie.domain = fields[0];
  // Leading dots only say "subdomains too", which the next field says again;
  // all of them go, so that the domain reads back the same once written.
  cookie.domain.erase(0, cookie.domain.find_first_not_of('.'));
  cookie.includeSubdomains = fields[1] == "TRUE";
  // An empty path is the root path, as other readers of the format take it.
  cookie.path = fields[2].empty() ? "/" : fields[2];
  cookie.secure = fields[3] == "TRUE";
  cookie.expires = std::strtoll(fields[4].c_str(), nullptr, 10);
  cookie.name = fields[5];
  cookie.value = fields[6];
  return !cookie.domain.empty() && Storable(cookie);
}

std::string FormatLine(const StoredCookie& c) {
  std::string line = c.httpOnly ? kHttpOnlyPrefix : "";
  line += (c.includeSubdomains ? "." : "") + c.domain;
  line += c.includeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
  line += c.path + (c.secure ? "\tTRUE\t" : "\tFALSE\t");
  line += ToDecimal(c.expires) + "\t" + c.name + "\t" + c.value + "\n";
  return line;
}

bool IsExpired(const StoredCookie& cookie, int64_t now) {
  return cookie.expires != 0 && cookie.expires <= now;
}

std::vector<StoredCookie> ReadStore(const std::string& path) {
  std::vector<StoredCookie> cookies;
  std::string content;
  if (!ReadWholeFile(path, content)) return cookies;
  int64_t now = time(nullptr);
  for (std::string& line : SplitAll(content, "\n")) {
    StoredCookie cookie;
    if (ParseLine(std::move(line), cookie) && !IsExpired(cookie, now)) cookies.push_back(cookie);
  }
  return cookies;
}

bool WriteStore(const std::string& path, const std::vector<StoredCookie>& cookies) {
  std::string content = kFileHeader;
  for (const StoredCookie& cookie : cookies) content += FormatLine(cookie);
  MakeDirectories(path);
  return ReplaceFileAtomically(path, content, 0600);
}

// The path of a request for cookie matching: the URL path without query and
// fragment, "/" when it does not start with one.
std::string RequestPath(const std::string& urlPath) {
  std::string path = urlPath.substr(0, urlPath.find_first_of("?#"));
  if (path.empty() || path[0] != '/') return "/";
  return path;
}

std::string DefaultCookiePath(const std::string& requestPath) {
  size_t lastSlash = requestPath.rfind('/');
  if (lastSlash == 0 || lastSlash == std::string::npos) return "/";
  return requestPath.substr(0, lastSlash);
}

bool DomainMatches(const StoredCookie& cookie, const std::string& host) {
  if (host == cookie.domain) return true;
  if (!cookie.includeSubdomains || host.size() <= cookie.domain.size()) return false;
  size_t start = host.size() - cookie.domain.size();
  return host.compare(start, std::string::npos, cookie.domain) == 0 && host[start - 1] == '.';
}

bool PathMatches(const std::string& cookiePath, const std::string& requestPath) {
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return requestPath.size() == cookiePath.size() ||
         (!cookiePath.empty() && cookiePath.back() == '/') || requestPath[cookiePath.size()] == '/';
}

// The time `age` (> 0) seconds after `now`; a sum past the range of the type
// stays at its end, so a huge Max-Age means "never" instead of the past.
int64_t ExpiryAfter(int64_t now, int64_t age) {
  return age > std::numeric_limits<int64_t>::max() - now ? std::numeric_limits<int64_t>::max()
                                                         : now + age;
}

// Applies one attribute ("expires=...", "path=/x", "secure", ...) to `cookie`.
// False when the attribute makes the cookie unacceptable for `host`.
bool ApplyAttribute(std::string_view attribute, const std::string& host, StoredCookie& cookie,
                    bool& sawMaxAge) {
  size_t eq = attribute.find('=');
  std::string key = AsciiLower(Trim(attribute.substr(0, eq)));
  std::string value = eq == std::string_view::npos ? "" : TrimCopy(attribute.substr(eq + 1));
  if (key == "expires" && !sawMaxAge) {
    int64_t when;
    if (ParseCookieDate(value, when)) cookie.expires = when <= 0 ? 1 : when;
  } else if (key == "max-age" && !value.empty()) {
    sawMaxAge = true;
    int64_t age = std::strtoll(value.c_str(), nullptr, 10);
    cookie.expires = age <= 0 ? 1 : ExpiryAfter(time(nullptr), age);
  } else if (key == "path" && !value.empty() && value[0] == '/') {
    cookie.path = value;
  } else if (key == "domain" && !value.empty()) {
    std::string domain = AsciiLower(value[0] == '.' ? value.substr(1) : value);
    cookie.domain = domain;
    cookie.includeSubdomains = true;
    return DomainMatches(cookie, host);
  } else if (key == "secure") {
    cookie.secure = true;
  } else if (key == "httponly") {
    cookie.httpOnly = true;
  }
  return true;
}

bool ParseSetText(const std::string& text, const UrlParts& url, StoredCookie& cookie) {
  std::vector<std::string> pieces = SplitAll(text, ";");
  size_t eq = pieces[0].find('=');
  if (eq == std::string::npos) return false;
  cookie.name = TrimCopy(std::string_view(pieces[0]).substr(0, eq));
  cookie.value = TrimCopy(std::string_view(pieces[0]).substr(eq + 1));
  cookie.domain = url.host;
  cookie.path = DefaultCookiePath(RequestPath(url.path));
  bool sawMaxAge = false;
  for (size_t i = 1; i < pieces.size(); ++i) {
    if (!ApplyAttribute(pieces[i], url.host, cookie, sawMaxAge)) return false;
  }
  return Storable(cookie);
}

// A replaced cookie keeps its place (its age), as browsers keep it.
void Upsert(std::vector<StoredCookie>& cookies, const StoredCookie& cookie, int64_t now) {
  auto same = std::find_if(cookies.begin(), cookies.end(), [&](const StoredCookie& old) {
    return old.domain == cookie.domain && old.path == cookie.path && old.name == cookie.name;
  });
  if (IsExpired(cookie, now)) {  // a past date deletes
    if (same != cookies.end()) cookies.erase(same);
  } else if (same != cookies.end()) {
    *same = cookie;
  } else {
    cookies.push_back(cookie);
  }
}

bool SplitStoreUrl(const std::string& url, UrlParts& parts) {
  if (!SplitUrl(url, parts) || parts.host.empty()) return false;
  parts.host = AsciiLower(parts.host);
  return true;
}

int MonthFromName(std::string_view token) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string lower = AsciiLower(token.substr(0, 3));
  for (int i = 0; i < 12; ++i) {
    if (lower == kMonths[i]) return i + 1;
  }
  return 0;
}

bool IsDateDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

}  // namespace

bool ParseCookieDate(const std::string& text, int64_t& seconds) {
  int hour = -1, minute = 0, second = 0, day = 0, month = 0, year = -1;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    size_t start = i;
    while (i < text.size() && !IsDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    std::string token = text.substr(start, i - start);
    if (token.empty()) continue;
    int h, m, s;
    char tail;
    if (hour < 0 && std::sscanf(token.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) == 3) {
      hour = h, minute = m, second = s;
    } else if (!month && MonthFromName(token)) {
      month = MonthFromName(token);
    } else if (token[0] >= '0' && token[0] <= '9') {
      int number = std::atoi(token.c_str());
      if (!day && token.size() <= 2) day = number;
      else if (year < 0 && token.size() >= 2 && token.size() <= 4) year = number;
    }
  }
  if (year >= 0 && year < 70) year += 2000;
  else if (year >= 70 && year < 100) year += 1900;
  if (hour < 0 || !month || day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 ||
      second > 59) {
    return false;
  }
  struct tm parts = {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  seconds = timegm(&parts);
  return true;
}

CookieStore::CookieStore(std::string filePath)
    : path_(filePath.empty() ? DefaultPath() : std::move(filePath)) {}

std::string CookieStore::DefaultPath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (dataHome && dataHome[0] == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && home[0] ? home : "/tmp") + "/.local/share";
  }
  return base + "/quorpack/cookies.txt";
}

std::vector<StoredCookie> CookieStore::Load() const {
  StoreLock lock(path_);
  return ReadStore(path_);
}

std::string CookieStore::CookiesFor(const std::string& url) const {
  UrlParts parts;
  if (!SplitStoreUrl(url, parts)) return std::string();
  std::vector<StoredCookie> cookies = Load();
  std::string requestPath = RequestPath(parts.path);
  // Longer paths first, as browsers send them; the stable sort keeps the
  // store's order among equals.
  std::stable_sort(cookies.begin(), cookies.end(),
                   [](const StoredCookie& a, const StoredCookie& b) {
                     return a.path.size() > b.path.size();
                   });
  std::string result;
  for (const StoredCookie& cookie : cookies) {
    if (!DomainMatches(cookie, parts.host) || !PathMatches(cookie.path, requestPath)) continue;
    if (cookie.secure && !parts.secure) continue;
    if (!result.empty()) result += "; ";
    result += cookie.name + "=" + cookie.value;
  }
  return result;
}

size_t CookieStore::SetCookies(const std::string& url, const std::vector<std::string>& texts) {
  UrlParts parts;
  if (texts.empty() || !SplitStoreUrl(url, parts)) return 0;
  StoreLock lock(path_);
  std::vector<StoredCookie> cookies = ReadStore(path_);
  int64_t now = time(nullptr);
  size_t accepted = 0;
  for (const std::string& text : texts) {
    StoredCookie cookie;
    if (!ParseSetText(text, parts, cookie)) break;
    Upsert(cookies, cookie, now);
    ++accepted;
  }
  if (accepted == 0) return 0;
  if (WriteStore(path_, cookies)) return accepted;
  std::fprintf(stderr, "quorpack: cannot write the cookie store %s: %s\n", path_.c_str(),
               std::strerror(errno));
  return 0;
}

}  // namespace qp
