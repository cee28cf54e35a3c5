// URL parsing: the split into scheme, host, port and path that requests and
// the cookie store use, the request target made from the path, and the URL
// encoding of form values. Input: the URL.
#include "fuzz_support.h"
#include "net/url_parts.h"
#include "support/url_encode.h"

int qp_fuzz_url(const uint8_t* data, size_t size) {
  const std::string_view url = qp::fuzz::AsText(data, size);
  qp::UrlParts parts;
  const bool ok = qp::SplitUrl(url, parts);
  if (ok) {
    QP_FUZZ_CHECK(parts.scheme == "HTTP" || parts.scheme == "HTTPS");
    QP_FUZZ_CHECK(parts.secure == (parts.scheme == "HTTPS"));
    QP_FUZZ_CHECK(parts.secure == qp::IsHttpsUrl(url));
    QP_FUZZ_CHECK(parts.host.size() < static_cast<size_t>(qp::kHostCapacity));
    QP_FUZZ_CHECK(parts.path.size() < static_cast<size_t>(qp::kPathCapacity));
    QP_FUZZ_CHECK(parts.host.find(':') == std::string::npos);
    QP_FUZZ_CHECK(url.find(parts.path) != std::string_view::npos);
  }

  // The request target holds only printable ASCII; every other byte became
  // three.
  const std::string target = qp::EncodeRequestTarget(url);
  size_t escaped = 0;
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    escaped += byte <= 0x20 || byte >= 0x7F;
  }
  QP_FUZZ_CHECK(target.size() == url.size() + 2 * escaped);
  for (char c : target) QP_FUZZ_CHECK(c > 0x20 && c < 0x7F);

  const std::string encoded = qp::UrlEncode(url);
  for (char c : encoded)
    QP_FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                  c == '%' || c == '+');
  return 0;
}
