#include <gtest/gtest.h>

#include "net/http_session.h"
#include "net/url_parts.h"

namespace qp {
namespace {

struct UrlCase {
  const char* url;
  bool ok;
  const char* scheme;
  const char* host;
  int port;
  const char* path;
  bool secure;
};

const UrlCase kUrlCases[] = {
    {"http://example.com/a?b#c", true, "HTTP", "example.com", 80, "/a?b#c", false},
    {"https://example.com/x", true, "HTTPS", "example.com", 443, "/x", true},
    {"HtTpS://example.com", true, "HTTPS", "example.com", 443, "", true},
    {"https://example.com:8443/x", true, "HTTPS", "example.com", 8443, "/x", true},
    {"http://example.com:8080", true, "HTTP", "example.com", 8080, "", false},
    {"h/x", true, "HTTP", "h", 80, "/x", false},
    {"example.com", true, "HTTP", "example.com", 80, "", false},
    {"http://example.com?q=1", true, "HTTP", "example.com", 80, "?q=1", false},
    {"http://host:abc/", true, "HTTP", "host", 0, "/", false},
    {"http:/x", true, "HTTP", "", 80, "/x", false},
    {"http:host/p", true, "HTTP", "host", 80, "/p", false},
    {"http://a_b.com/", true, "HTTP", "a", 80, "_b.com/", false},
    {"ftp://example.com/", false, "FTP", "", 80, "", false},
    {"localhost:8080/x", false, "LOCALHOST", "", 80, "", false},
};

TEST(UrlParse, SplitsSchemeHostPortAndPath) {
  for (const UrlCase& c : kUrlCases) {
    SCOPED_TRACE(c.url);
    HttpSession session;
    session.url = c.url;
    EXPECT_EQ(session.ParseUrl(), c.ok);
    EXPECT_EQ(session.scheme, c.scheme);
    if (!c.ok) continue;
    EXPECT_EQ(session.host, c.host);
    EXPECT_EQ(session.port, c.port);
    EXPECT_EQ(session.path, c.path);
    EXPECT_EQ(session.secure, c.secure);
  }
}

TEST(UrlParse, CutsPartsToTheirFixedSizes) {
  UrlParts parts;
  std::string longHost(400, 'h');
  std::string longPath = "/" + std::string(2000, 'p');
  ASSERT_TRUE(SplitUrl("http://" + longHost + longPath, parts));
  EXPECT_EQ(parts.host.size(), 255u);
  EXPECT_EQ(parts.path.size(), 1023u);
  EXPECT_EQ(parts.path[0], '/');  // the path starts after the whole host run
  ASSERT_FALSE(SplitUrl(std::string(30, 's') + "://x/", parts));
  EXPECT_EQ(parts.scheme.size(), 19u);
}

TEST(UrlParse, PortAfterTheHostIsTakenFromTheLastRunOfHostBytes) {
  UrlParts parts;
  ASSERT_TRUE(SplitUrl("http://127.0.0.1:8080", parts));
  EXPECT_EQ(parts.host, "127.0.0.1");
  EXPECT_EQ(parts.port, 8080);
  ASSERT_TRUE(SplitUrl("http://127.0.0.1:99999/", parts));
  EXPECT_EQ(parts.port, 99999);  // refused later, at connection time
}

}  // namespace
}  // namespace qp
