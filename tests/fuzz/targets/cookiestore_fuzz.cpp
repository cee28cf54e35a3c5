// The per-user cookie store: its file read, the cookies handed out for a
// URL, "name=value; attribute..." texts stored for it, and the file written
// back. Input: the store file's bytes, NUL, the URL, NUL, the texts one a line.
// Every write rewrites the whole file, so a cookie the store holds must come
// back unchanged from a write made for another cookie.
#include <ctime>

#include "fuzz_support.h"
#include "net/cookie_store.h"

namespace {

constexpr char kProbe[] = "qpfuzzprobe";

// The cookies that cannot expire while the check runs, the probe left out.
std::vector<qp::StoredCookie> Lasting(std::vector<qp::StoredCookie> cookies) {
  const int64_t soon = static_cast<int64_t>(time(nullptr)) + 60;
  std::erase_if(cookies, [&](const qp::StoredCookie& c) {
    return c.name == kProbe || (c.expires != 0 && c.expires <= soon);
  });
  return cookies;
}

bool SameCookie(const qp::StoredCookie& a, const qp::StoredCookie& b) {
  return a.domain == b.domain && a.includeSubdomains == b.includeSubdomains && a.path == b.path &&
         a.secure == b.secure && a.httpOnly == b.httpOnly && a.expires == b.expires &&
         a.name == b.name && a.value == b.value;
}

}  // namespace

int qp_fuzz_cookiestore(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> fields = qp::fuzz::SplitFields(qp::fuzz::AsText(data, size), 3);
  const std::string dir = qp::fuzz::FreshDir("cookiestore");
  qp::fuzz::PutFile(dir + "/cookies.txt", fields[0]);
  qp::CookieStore store(dir + "/cookies.txt");
  const std::string url(fields[1]);

  store.CookiesFor(url);
  std::vector<std::string> texts;
  for (std::string_view line : qp::fuzz::SplitLines(fields[2])) texts.emplace_back(line);
  QP_FUZZ_CHECK(store.SetCookies(url, texts) <= texts.size());
  store.CookiesFor(url);

  const std::vector<qp::StoredCookie> before = Lasting(store.Load());
  for (const qp::StoredCookie& cookie : before) QP_FUZZ_CHECK(!cookie.domain.empty());
  if (store.SetCookies(url, {std::string(kProbe) + "=1"}) == 1) {
    const std::vector<qp::StoredCookie> after = Lasting(store.Load());
    QP_FUZZ_CHECK(after.size() == before.size());
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
      QP_FUZZ_CHECK(SameCookie(before[i], after[i]));
  }
  return 0;
}
