// CookieJar: the cookies of one script's HTTP session. One flat map, name to
// value, plus the ready-made value of the "Cookie" header built from it.
//
// A cookie that a server set goes back only to the host that set it, to the
// hosts its Domain attribute names, and, when it was marked Secure, only over
// HTTPS; so one site's session never reaches another. Cookies the script set
// itself (setcookies, the cookie file) carry no scope and go to every host.
// No path or expiry is kept.
//
// Names may hold "=": a server that packs sub-values into one cookie
// ("s=x=1&y=2") gives the entries "s=x" and "s=y", which the header rebuild
// packs back together ("s=y=2&x=1").
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qp {

class CookieStore;

// Where a cookie that a server set may go back to.
struct CookieScope {
  std::string host;    // the host that set it, lower-cased
  std::string domain;  // its Domain attribute, lower-cased, no leading dot
  bool secure = false;  // only over HTTPS
  bool operator==(const CookieScope&) const = default;
};

class CookieJar {
 public:
  // Name -> value, ordered byte-wise. The single-entry script commands change
  // it directly; their changes reach the header at the next rebuild.
  std::map<std::string, std::string> entries;
  // The scope of each entry that a server set; entries without one go to
  // every host.
  std::map<std::string, CookieScope> scopes;
  // Value of the "Cookie" header with every cookie of the last rebuild;
  // empty means no Cookie line is sent anywhere.
  std::string header;

  // Stores the pairs of one browser cookie string as the script's own (no
  // scope). Attributes (path, domain, expires, max-age, secure, httponly) are
  // dropped.
  void ParseCookieText(std::string_view text);
  // Stores the pairs of one Set-Cookie value received from `host`, scoped to
  // it (and to its Domain, and to HTTPS when Secure).
  void ParseSetCookie(std::string_view text, std::string_view host);
  // A value the script itself sets: it goes to every host.
  void SetByScript(const std::string& name, const std::string& value);
  // Takes every Set-Cookie line of a response head from `host`, bottom line
  // first so that the upper of two lines for one name wins; rebuilds the
  // header if any.
  void TakeSetCookies(std::string_view responseHead, std::string_view host);
  void RebuildHeader();
  void Clear();

  // The Cookie header value for a request to `host`: the cookies of the last
  // rebuild that may go there. Equal to `header` when no cookie is scoped.
  std::string HeaderFor(std::string_view host, bool overHttps) const;

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

 private:
  struct SentCookie {
    std::string name;
    std::string value;
    bool scoped = false;
    CookieScope scope;
  };
  // Stores the pairs of `text`; the names it stored go to `stored`.
  void ParsePairs(std::string_view text, std::vector<std::string>& stored);
  // The cookies as the last rebuild saw them, for HeaderFor.
  std::vector<SentCookie> sent_;
  bool anyScoped_ = false;
};

}  // namespace qp
