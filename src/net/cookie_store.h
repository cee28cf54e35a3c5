// CookieStore: the per-user persistent cookie store that scripts share with
// each other across runs ("saveiecookies", "resumeiecookies"). It lives in one
// file in the Netscape cookies.txt format, by default
// $XDG_DATA_HOME/quorpack/cookies.txt (~/.local/share/quorpack/cookies.txt).
//
// Unlike a script's own jar, the store keeps domain, path, expiry and the
// secure flag of each cookie and hands out only the cookies that match a URL.
// Every change rewrites the file atomically under a lock, so several scripts
// and several processes may use it at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qp {

struct StoredCookie {
  std::string domain;        // host name, without a leading dot
  bool includeSubdomains = false;
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  int64_t expires = 0;       // seconds since 1970; 0 = no expiry recorded
  std::string name;
  std::string value;
};

class CookieStore {
 public:
  // The store in `filePath`; an empty path means DefaultPath().
  explicit CookieStore(std::string filePath = std::string());
  static std::string DefaultPath();
  const std::string& path() const { return path_; }

  // The cookies that belong to `url` as one "a=1; b=2" text; empty when none
  // (or when the URL is not http or https).
  std::string CookiesFor(const std::string& url) const;
  // Offers each "name=value; expires=...; ..." text for `url` in order and
  // stops at the first one refused; then writes the file once. Returns how
  // many were accepted and stored (0 when the file could not be written).
  size_t SetCookies(const std::string& url, const std::vector<std::string>& texts);

  // The file's cookies (for tests and tools). Expired ones are left out.
  std::vector<StoredCookie> Load() const;

 private:
  std::string path_;
};

// Reads an HTTP cookie date ("Sat, 01-Jan-3000 00:00:00 GMT" and its
// relatives) as seconds since 1970; false when it is not a date.
bool ParseCookieDate(const std::string& text, int64_t& seconds);

}  // namespace qp
