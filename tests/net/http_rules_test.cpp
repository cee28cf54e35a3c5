// What the client does with real servers' responses and with requests that
// cross hosts: decoded bodies, encoded request lines, scoped cookies, the
// Referer and the Host line.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "net/compress_text.h"
#include "net/http_session.h"
#include "net/loopback_server.h"

namespace qp {
namespace {

using qp::testing::Compress;
using qp::testing::Gzip;

using testing::LoopbackServer;
using testing::ReplyPart;


std::string Chunked(const std::string& data, size_t piece) {
  std::string out;
  for (size_t i = 0; i < data.size(); i += piece) {
    std::string part = data.substr(i, piece);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    out += size + part + "\r\n";
  }
  return out + "0\r\n\r\n";
}

std::string PageText() {
  std::string text = "<html><head><title>t</title></head><body>";
  for (int i = 0; i < 5000; ++i) text += "<p>item " + std::to_string(i) + "</p>";
  return text + "</body></html>";
}

struct BodyCase {
  const char* name;
  std::string head;
  std::string body;  // as sent
  std::string expected;
};

// Every case is read into memory and into a save-to file, in pieces with
// pauses between them, so the decoding spans several reads.
TEST(HttpBodies, DecodedBeforeTheScriptOrTheFileSeesThem) {
  const std::string text = PageText();
  const std::string gzipHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n";
  const BodyCase cases[] = {
      {"gzip", gzipHead, Compress(text, 31), text},
      {"deflate", "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n\r\n", Compress(text, 15), text},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", Chunked(text, 4000),
       text},
      {"chunked and gzipped",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n\r\n",
       Chunked(Compress(text, 31), 700), text},
      {"malformed chunk keeps what came",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "3\r\nabc\r\nZZ\r\ndef\r\n0\r\n\r\n",
       "abc"},
      {"unknown coding stays as received", "HTTP/1.1 200 OK\r\nContent-Encoding: br\r\n\r\n",
       "\x1b\x02raw", "\x1b\x02raw"},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string half = c.body.substr(0, c.body.size() / 2);
    std::string rest = c.body.substr(c.body.size() / 2);
    LoopbackServer server([&](const std::string&) {
      return std::vector<ReplyPart>{{c.head + half, 20}, {rest, 0}};
    });
    HttpSession session;
    ASSERT_TRUE(session.Request(server.Url("/"), false));
    EXPECT_EQ(session.ResponseHead(), c.head);
    EXPECT_TRUE(session.ResponseBody() == c.expected) << session.ResponseBody().size();
    testing::TempDir dir;
    session.SetSaveTo(dir.File("body"));
    ASSERT_TRUE(session.Request(server.Url("/"), false));
    EXPECT_EQ(session.ResponseBody(), "");
    EXPECT_TRUE(dir.Read("body") == c.expected);
  }
}

TEST(HttpRequestLine, BytesThatCannotStandThereArePercentEncoded) {
  struct Case {
    const char* name;
    std::string path;
    std::string sent;
  } cases[] = {
      {"space", "/a b.html?q=x y", "/a%20b.html?q=x%20y"},
      {"GBK bytes keep their values", "/s?w=\xD6\xD0\xCE\xC4", "/s?w=%D6%D0%CE%C4"},
      {"UTF-8 bytes", "/\xE4\xB8\xAD", "/%E4%B8%AD"},
      {"control bytes and DEL", "/a\tb\x7f", "/a%09b%7F"},
      {"already encoded is left alone", "/a%20b?x=%D6%D0&y=1+2", "/a%20b?x=%D6%D0&y=1+2"},
  };
  for (const Case& c : cases) {
    LoopbackServer server("HTTP/1.0 200 OK\r\n\r\nok");
    HttpSession session;
    ASSERT_TRUE(session.Request(server.Url(c.path), false)) << c.name;
    std::string request = server.Request(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET " + c.sent + " HTTP/1.0") << c.name;
  }
}

// The same loopback server reached by two host names stands for two sites.
class CookieScopes : public ::testing::Test {
 protected:
  std::string UrlOf(const std::string& host, const std::string& path = "/") {
    return "http://" + host + ":" + std::to_string(server_.port()) + path;
  }
  // The Cookie line of request `index`, or "(none)".
  std::string CookieSent(size_t index) {
    std::string request = server_.Request(index);
    size_t at = request.find("\r\nCookie: ");
    if (at == std::string::npos) return "(none)";
    size_t end = request.find("\r\n", at + 2);
    return request.substr(at + 10, end - at - 10);
  }

  std::string setCookie_ = "";
  LoopbackServer server_{[this](const std::string& request) {
    std::string head = "HTTP/1.0 200 OK\r\n";
    if (request.rfind("GET /set", 0) == 0) head += setCookie_;
    return std::vector<ReplyPart>{{head + "\r\nok", 0}};
  }};
  HttpSession session_;
};

TEST_F(CookieScopes, AServersCookieGoesBackOnlyToItsHost) {
  setCookie_ = "Set-Cookie: sid=a1; path=/\r\n";
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1", "/set"), false));
  ASSERT_TRUE(session_.Request(UrlOf("localhost"), false));
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1"), false));
  EXPECT_EQ(CookieSent(1), "(none)");
  EXPECT_EQ(CookieSent(2), "sid=a1");
  EXPECT_EQ(session_.cookies.header, "sid=a1");  // the jar still holds it
}

TEST_F(CookieScopes, ItsDomainNamesFurtherHosts) {
  setCookie_ = "Set-Cookie: sid=a1; Domain=.LOCALHOST\r\nSet-Cookie: own=2\r\n";
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1", "/set"), false));
  ASSERT_TRUE(session_.Request(UrlOf("localhost"), false));
  EXPECT_EQ(CookieSent(1), "sid=a1");
}

TEST_F(CookieScopes, ASecureCookieNeverGoesOverPlainHttp) {
  setCookie_ = "Set-Cookie: s=1; Secure; path=/\r\nSet-Cookie: p=2\r\n";
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1", "/set"), false));
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1"), false));
  EXPECT_EQ(CookieSent(1), "p=2");
  EXPECT_EQ(session_.cookies.entries.count("Secure; path"), 0u) << "a flag is no cookie name";
}

TEST_F(CookieScopes, CookiesTheScriptSetGoEverywhere) {
  setCookie_ = "Set-Cookie: sid=server\r\n";
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1", "/set"), false));
  session_.cookies.SetByScript("sid", "mine");  // takes over the server's cookie
  session_.cookies.SetByScript("lang", "zh");
  session_.cookies.RebuildHeader();
  ASSERT_TRUE(session_.Request(UrlOf("localhost"), false));
  EXPECT_EQ(CookieSent(1), "lang=zh;sid=mine");
}

TEST_F(CookieScopes, SubValuesOfAScopedCookieStayTogether) {
  setCookie_ = "Set-Cookie: prefs=lang=zh&size=2\r\n";
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1", "/set"), false));
  session_.cookies.SetByScript("all", "1");
  session_.cookies.RebuildHeader();
  ASSERT_TRUE(session_.Request(UrlOf("127.0.0.1"), false));
  ASSERT_TRUE(session_.Request(UrlOf("localhost"), false));
  EXPECT_EQ(CookieSent(1), "all=1;prefs=size=2&lang=zh");
  EXPECT_EQ(CookieSent(2), "all=1");
}

}  // namespace
}  // namespace qp
