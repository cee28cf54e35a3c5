// CookieJar: the cookies of one script's HTTP session. One flat map, name to
// value, sent to every host the script talks to (no domain, path or expiry is
// kept), plus the ready-made value of the "Cookie" header built from it.
//
// Names may hold "=": a server that packs sub-values into one cookie
// ("s=x=1&y=2") gives the entries "s=x" and "s=y", which the header rebuild
// packs back together ("s=y=2&x=1").
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace qp {

class CookieStore;

class CookieJar {
 public:
  // Name -> value, ordered byte-wise. The single-entry script commands change
  // it directly; their changes reach the header at the next rebuild.
  std::map<std::string, std::string> entries;
  // Value of the "Cookie" header; empty means no Cookie line is sent.
  std::string header;

  // Stores the pairs of one Set-Cookie value or browser cookie string.
  // Attributes (path, domain, expires, max-age, secure, httponly) are dropped.
  void ParseCookieText(std::string_view text);
  // Takes every Set-Cookie line of a response head, bottom line first so that
  // the upper of two lines for one name wins; rebuilds the header if any.
  void TakeSetCookies(std::string_view responseHead);
  void RebuildHeader();
  void Clear();

  // The cookie file: one "name^value" CR LF line per entry. An empty jar
  // leaves the file alone; otherwise the file is replaced atomically.
  bool Save(const std::string& path) const;
  // Empties the jar, then loads the file; true when at least one entry came.
  bool Resume(const std::string& path);

  // Offers every entry to the per-user store for `url` with the expiry text;
  // stops at the first refusal. True when all were accepted.
  bool SaveToStore(CookieStore& store, const std::string& url, const std::string& expires) const;
  // Merges the store's cookies for `url` into the jar; false when it has none.
  bool ResumeFromStore(CookieStore& store, const std::string& url);
};

}  // namespace qp
