#include <gtest/gtest.h>

#include <chrono>

#include "net/http_session.h"
#include "net/loopback_server.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;
using Clock = std::chrono::steady_clock;

const std::string kPage = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>hello</p>";
const std::string kAgentLine = std::string("User-Agent: ") + kDefaultUserAgent + "\r\n";

std::string HostLine(const LoopbackServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
}

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(RequestWire, GetSendsHeadersInOrderAndTheFirstUrlAsNextReferer) {
  LoopbackServer server(kPage);
  HttpSession session;
  ASSERT_TRUE(session.Request(server.Url("/a?x=1"), false));
  ASSERT_TRUE(session.Request(server.Url(""), false));
  std::string common = "Accept-Language: zh-cn\r\n" + kAgentLine + "Connection: close\r\n" +
                       HostLine(server) + "\r\n";
  EXPECT_EQ(server.Request(0), "GET /a?x=1 HTTP/1.0\r\nAccept: */*\r\n" + common);
  EXPECT_EQ(server.Request(1), "GET / HTTP/1.0\r\nAccept: */*\r\nReferer: " +
                                   server.Url("/a?x=1") + "\r\n" + common);
  EXPECT_EQ(session.ResponseBody(), "<p>hello</p>");
  EXPECT_EQ(session.ResponseHead(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
}

TEST(RequestWire, ProxyGetsOnlyThePathAndTheTargetHostIsNotLookedUp) {
  LoopbackServer server(kPage);
  HttpSession session;
  session.SetProxyHost("127.0.0.1");
  session.proxyPort = server.port();
  ASSERT_TRUE(session.Request("http://no-such-host.invalid/page?q", false));
  EXPECT_EQ(server.Request(0), "GET /page?q HTTP/1.0\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n" +
                                   kAgentLine + "Connection: close\r\nHost: no-such-host.invalid\r\n\r\n");
}

TEST(RequestWire, ProxyGivenByNameFailsWithoutConnecting) {
  LoopbackServer server(kPage);
  HttpSession session;
  session.SetProxyHost("localhost");
  session.proxyPort = server.port();
  EXPECT_FALSE(session.Request("http://127.0.0.1/", false));
  EXPECT_EQ(server.connections(), 0u);
}

TEST(RequestWire, PostCarriesLengthHostTypeBodyAndTwoLineEnds) {
  LoopbackServer server(kPage);
  HttpSession session;
  session.AddPostField("a", "1");
  ASSERT_TRUE(session.Request(server.Url("/login"), true));
  EXPECT_EQ(server.Request(0), "POST /login HTTP/1.0\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n" +
                                   kAgentLine + "Content-Length: 3\r\nConnection: close\r\n" +
                                   HostLine(server) +
                                   "Content-Type: application/x-www-form-urlencoded\r\n\r\n"
                                   "a=1\r\n\r\n");
  EXPECT_EQ(session.postData, "a=1");  // sending leaves the form alone
}

TEST(RequestWire, PostWithEmptyFormStillSendsLengthAndHost) {
  LoopbackServer server(kPage);
  HttpSession session;
  ASSERT_TRUE(session.Request(server.Url("/"), true));
  EXPECT_EQ(server.Request(0), "POST / HTTP/1.0\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n" +
                                   kAgentLine + "Content-Length: 0\r\nConnection: close\r\n" +
                                   HostLine(server) + "\r\n");
}

TEST(RequestWire, OptionalHeadersAppearInTheirPlaces) {
  LoopbackServer server(kPage);
  HttpSession session;
  session.SetReferer("http://from/");
  session.SetLanguage("");
  session.SetEncoding("gzip");
  session.SetUserAgent("agent/1");
  session.cookies.header = "a=1;b=2";
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_EQ(server.Request(0),
            "GET / HTTP/1.0\r\nAccept: */*\r\nReferer: http://from/\r\nAccept-Language: \r\n"
            "Accept-Encoding: gzip\r\nUser-Agent: agent/1\r\nCookie: a=1;b=2\r\n"
            "Connection: close\r\n" + HostLine(server) + "\r\n");
  EXPECT_EQ(session.referer, server.Url("/"));
}

TEST(RequestWire, RefusedUrlsMakeNoConnection) {
  LoopbackServer server(kPage);
  HttpSession session;
  std::string port = std::to_string(server.port());
  EXPECT_FALSE(session.Request("ftp://127.0.0.1:" + port + "/", false));
  EXPECT_FALSE(session.Request("http://127.0.0.1:abc/", false));  // port 0
  EXPECT_EQ(session.port, 0);
  EXPECT_FALSE(session.Request("http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/",
                               false));  // would wrap onto the server's port
  EXPECT_FALSE(session.Request("http://no-such-host.invalid/", false));
  EXPECT_EQ(server.connections(), 0u);
  EXPECT_TRUE(session.referer.empty());
}

TEST(RequestWire, FailedRequestKeepsThePreviousResponse) {
  LoopbackServer server(kPage);
  HttpSession session;
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_FALSE(session.Request("ftp://x/", false));
  EXPECT_EQ(session.ResponseBody(), "<p>hello</p>");
}

struct ResponseCase {
  const char* name;
  std::string reply;
  std::string head;
  std::string body;
};

TEST(RequestWire, ResponsesAreTakenAsTheyCome) {
  const ResponseCase cases[] = {
      {"redirect is a page", "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\nmoved",
       "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\n", "moved"},
      {"bare LF head", "\n\nbody\n\nmore", "\n\n", "body\n\nmore"},
      {"LF head lines", "HTTP/1.0 200 OK\nA: b\n\nx", "HTTP/1.0 200 OK\nA: b\n\n", "x"},
      {"chunked is de-chunked, the head stays", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "abc"},
      {"no blank line", "HTTP/1.0 200 OK\r\nA: b\r\n", "HTTP/1.0 200 OK\r\nA: b\r\n", ""},
      {"declared length", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", "hello"},
      {"more than declared is still read", "HTTP/1.0 200 OK\r\ncontent-length: 2\r\n\r\nhello",
       "HTTP/1.0 200 OK\r\ncontent-length: 2\r\n\r\n", "hello"},
      {"less than declared", "HTTP/1.0 200 OK\r\nContent-Length: 99999999\r\n\r\nhi",
       "HTTP/1.0 200 OK\r\nContent-Length: 99999999\r\n\r\n", "hi"},
      {"length that is no number", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nabc",
       "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", "abc"},
      {"nothing", "", "", ""},
      {"binary body", std::string("HTTP/1.0 200 OK\r\n\r\n\0\xff\r\n", 23),
       "HTTP/1.0 200 OK\r\n\r\n", std::string("\0\xff\r\n", 4)},
  };
  for (const ResponseCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.reply);
    HttpSession session;
    ASSERT_TRUE(session.Request(server.Url("/"), false));
    EXPECT_EQ(session.ResponseHead(), c.head);
    EXPECT_EQ(session.ResponseBody(), c.body);
  }
}

TEST(RequestWire, LargeBodyArrivesWholeWithOrWithoutItsLength) {
  std::string body;
  for (int i = 0; body.size() < 3'000'000; ++i) body += std::to_string(i) + ",";
  for (std::string length : {std::string(), "Content-Length: " + std::to_string(body.size()) + "\r\n",
                             std::string("Content-Length: 1000000\r\n")}) {
    LoopbackServer server("HTTP/1.0 200 OK\r\n" + length + "\r\n" + body);
    HttpSession session;
    ASSERT_TRUE(session.Request(server.Url("/"), false));
    EXPECT_EQ(session.ResponseBody().size(), body.size()) << length;
    EXPECT_TRUE(session.ResponseBody() == body) << length;
  }
}

TEST(RequestWire, SaveToFileTakesTheBody) {
  testing::TempDir dir;
  LoopbackServer server(kPage);
  HttpSession session;
  session.SetSaveTo(dir.File("page.html"));
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_EQ(dir.Read("page.html"), "<p>hello</p>");
  EXPECT_EQ(session.ResponseBody(), "");
  EXPECT_EQ(session.ResponseHead(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
}

TEST(RequestWire, SaveToFileInMissingFolderStillSucceedsWithEmptyBody) {
  testing::TempDir dir;
  LoopbackServer server(kPage);
  HttpSession session;
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  session.SetSaveTo(dir.File("missing/page.html"));
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_EQ(session.ResponseHead(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
  EXPECT_EQ(session.ResponseBody(), "");
}

TEST(RequestWire, WithoutTimeOutsTheBodyRunsUntilTheServerCloses) {
  LoopbackServer server([](const std::string&) {
    return std::vector<ReplyPart>{{"HTTP/1.0 200 OK\r\n\r\none", 700}, {"two", 0}};
  });
  HttpSession session;
  session.sendTimeout = 3000;  // a send time-out alone does not limit reading
  auto start = Clock::now();
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_GE(MillisecondsSince(start), 650);
  EXPECT_EQ(session.ResponseBody(), "onetwo");
}

TEST(RequestWire, ReceiveTimeOutEndsAServerThatNeverCloses) {
  LoopbackServer server([](const std::string&) {
    return std::vector<ReplyPart>{{"HTTP/1.0 200 OK\r\n\r\npart", 4000}, {"late", 0}};
  });
  HttpSession session;
  session.receiveTimeout = 300;
  auto start = Clock::now();
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_LT(MillisecondsSince(start), 3000);
  EXPECT_EQ(session.ResponseHead(), "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(session.ResponseBody(), "part");
}

TEST(RequestWire, AnyTimeOutMakesTheCloseAbortive) {
  struct Case {
    uint32_t receive;
    uint32_t send;
    bool reset;
  };
  const Case cases[] = {{0, 0, false}, {0, 3000, true}, {3000, 0, true}, {3000, 3000, true}};
  LoopbackServer server(kPage);
  HttpSession session;
  for (size_t i = 0; i < std::size(cases); ++i) {
    session.receiveTimeout = cases[i].receive;
    session.sendTimeout = cases[i].send;
    ASSERT_TRUE(session.Request(server.Url("/"), false));
    ASSERT_NE(server.Request(i), "");
    EXPECT_EQ(server.EndedByReset(i), cases[i].reset) << cases[i].receive << " " << cases[i].send;
    EXPECT_EQ(session.ResponseBody(), "<p>hello</p>");
  }
}

TEST(RequestWire, PeerThatNeverAcceptsFailsAfterFiveSecondsWhateverTheTimeOuts) {
  testing::StalledPort stalled;
  ASSERT_TRUE(stalled.ready());
  HttpSession session;
  session.receiveTimeout = 100;
  session.sendTimeout = 100;
  auto start = Clock::now();
  EXPECT_FALSE(session.Request("http://127.0.0.1:" + std::to_string(stalled.port()) + "/", false));
  int64_t elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 4900);
  EXPECT_LT(elapsed, 7000);
}

TEST(RequestWire, WritingToAResetConnectionRaisesNoSignal) {
  testing::TempDir dir;
  dir.Write("big.bin", std::string(8 << 20, 'b'));
  testing::ResettingServer server;
  HttpSession session;
  session.BeginUpload();
  session.AddUploadFile("f", dir.File("big.bin"));
  // The process survives the failed writes; the request itself succeeds with
  // whatever (nothing) came back.
  EXPECT_TRUE(session.Request("http://127.0.0.1:" + std::to_string(server.port()) + "/", true));
  EXPECT_EQ(session.ResponseHead(), "");
}

TEST(RequestWire, ClosedPortFailsAtOnce) {
  int port;
  {
    LoopbackServer server(kPage);
    port = server.port();
  }
  HttpSession session;
  auto start = Clock::now();
  EXPECT_FALSE(session.Request("http://127.0.0.1:" + std::to_string(port) + "/", false));
  EXPECT_LT(MillisecondsSince(start), 2000);
}

}  // namespace
}  // namespace qp
