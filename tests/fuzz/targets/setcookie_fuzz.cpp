// Set-Cookie lines of a response head taken into a script's cookie jar, the
// Cookie header built from it for the setting host and for others, and the
// browser cookie text that scripts set. Input: the host, NUL, the response
// head, NUL, a cookie text ("a=1; b=2").
#include "fuzz_support.h"
#include "net/cookie_jar.h"

int qp_fuzz_setcookie(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> fields = qp::fuzz::SplitFields(qp::fuzz::AsText(data, size), 3);
  const std::string_view host = fields[0];

  qp::CookieJar jar;
  jar.TakeSetCookies(fields[1], host);
  // Every scope belongs to an entry.
  for (const auto& [name, scope] : jar.scopes) QP_FUZZ_CHECK(jar.entries.count(name) == 1);
  const std::string sameHost = jar.HeaderFor(host, true);
  const std::string plain = jar.HeaderFor(host, false);
  const std::string elsewhere = jar.HeaderFor("other.invalid", true);
  // A cookie that goes nowhere else still goes back to its own host over
  // HTTPS, so that header is never the shorter one.
  QP_FUZZ_CHECK(sameHost.size() >= elsewhere.size());
  QP_FUZZ_CHECK(sameHost.size() >= plain.size());
  if (jar.scopes.empty()) QP_FUZZ_CHECK(elsewhere == jar.header);

  jar.ParseCookieText(fields[2]);
  jar.RebuildHeader();
  // The script's own cookies carry no scope: they go to every host.
  qp::CookieJar own;
  own.ParseCookieText(fields[2]);
  own.RebuildHeader();
  QP_FUZZ_CHECK(own.scopes.empty());
  QP_FUZZ_CHECK(own.HeaderFor("other.invalid", false) == own.header);
  jar.Clear();
  QP_FUZZ_CHECK(jar.entries.empty() && jar.header.empty());
  return 0;
}
