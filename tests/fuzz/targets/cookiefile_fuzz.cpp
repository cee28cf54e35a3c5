// The cookie file of `savecookies` and `resumecookies`: one "name^value"
// line per cookie. Input: the file's bytes. What a file loads, a save and a
// second load keep exactly.
#include "fuzz_support.h"
#include "net/cookie_jar.h"

int qp_fuzz_cookiefile(const uint8_t* data, size_t size) {
  const std::string dir = qp::fuzz::FreshDir("cookiefile");
  const std::string first = dir + "/cookies.txt";
  const std::string second = dir + "/saved.txt";
  qp::fuzz::PutFile(first, qp::fuzz::AsText(data, size));

  qp::CookieJar jar;
  const bool loaded = jar.Resume(first);
  QP_FUZZ_CHECK(loaded == !jar.entries.empty());
  QP_FUZZ_CHECK(jar.Save(second));

  qp::CookieJar again;
  QP_FUZZ_CHECK(again.Resume(second) == loaded);
  QP_FUZZ_CHECK(again.entries == jar.entries);
  QP_FUZZ_CHECK(again.header == jar.header);
  return 0;
}
