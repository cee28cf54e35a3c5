// A whole run of the quorpack program: a script logs in with post, keeps the
// session cookie, and pulls a value out of the next page.
#include <gtest/gtest.h>

#include "app/home_fixture.h"
#include "net/loopback_server.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;

std::vector<ReplyPart> SiteReply(const std::string& request) {
  if (request.rfind("POST /login ", 0) == 0 &&
      request.find("\r\n\r\nuser=alice&pass=s%26cret\r\n") != std::string::npos) {
    return {{"HTTP/1.0 302 Found\r\nSet-Cookie: session=abc123; path=/; HttpOnly\r\n"
             "Location: /account\r\n\r\nwelcome",
             0}};
  }
  bool loggedIn = request.find("\r\nCookie: session=abc123\r\n") != std::string::npos;
  return {{std::string("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n") +
               "<span id=\"token\">" + (loggedIn ? "T-42 \xe2\x9c\x93" : "denied") + "</span>",
           0}};
}

TEST(LoginEndToEnd, PostKeepsTheCookieAndTheNextPageIsRead) {
  LoopbackServer site(SiteReply);
  testing::HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\nui=console\r\n");
  home.WriteBoot("login^login.qvr^\r\n");
  std::string url = "http://127.0.0.1:" + std::to_string(site.port());
  home.WriteScript("login.qvr",
                   "<main>\r\n"
                   "add user alice\r\n"
                   "add pass s&cret\r\n"
                   "post " + url + "/login\r\n"
                   "get " + url + "/account\r\n"
                   "regex token <span id=\"token\">{[^<]*}</span>\r\n"
                   "match token [#http_body]\r\n"
                   "alert status=[#status] token=[$token.0]\r\n");
  testing::RunResult result = home.Run({}, std::chrono::seconds(20));
  EXPECT_FALSE(result.timedOut);
  EXPECT_NE(result.err.find("status=1 token=T-42 \xe2\x9c\x93"), std::string::npos) << result.err;
  EXPECT_EQ(site.connections(), 2u);
  EXPECT_NE(site.Request(1).find("\r\nReferer: " + url + "/login\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qp
