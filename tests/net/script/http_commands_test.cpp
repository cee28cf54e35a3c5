#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <zlib.h>

#include "net/compress_text.h"
#include "engine/fake_ui.h"
#include "net/http_session.h"
#include "net/loopback_server.h"
#include "support/codepage.h"
#include "support/messages.h"
#include "support/settings.h"

namespace qp {
namespace {

using qp::testing::Compress;
using qp::testing::Gzip;

using testing::LoopbackServer;
using testing::ReplyPart;

class HttpCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home.File("Temp"));
    SetProgramDir(home.path());
  }

  // Runs `text` to its end with "URL" standing for the server's address.
  ScriptRunner& RunScript(std::string text) {
    for (size_t at; (at = text.find("URL")) != std::string::npos;) {
      text.replace(at, 3, "http://127.0.0.1:" + std::to_string(server.port()));
    }
    runner = test::MakeRunner(text, ui);
    qp::Run(*runner);
    return *runner;
  }
  std::string Var(const std::string& name) { return runner->variables.Get(name); }

  testing::TempDir home;
  std::vector<std::string> replies;  // by connection; the last one repeats
  LoopbackServer server{[this](const std::string&) {
    size_t n = std::min(server.connections(), replies.size()) - 1;
    return std::vector<ReplyPart>{{replies.empty() ? "HTTP/1.0 200 OK\r\n\r\nok" : replies[n], 0}};
  }};
  test::FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
};

TEST_F(HttpCommands, GetSetsStatusHeadAndBody) {
  replies = {"HTTP/1.0 404 Not Found\r\nX: 1\r\n\r\nmissing"};
  RunScript("get URL/x\n");
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(Var("http_head"), "HTTP/1.0 404 Not Found\r\nX: 1\r\n\r\n");
  EXPECT_EQ(Var("http_body"), "missing");
}

TEST_F(HttpCommands, Utf8PagesAreConvertedToTheActiveCodePage) {
  const std::string page = "<head><meta charset=utf-8></head>\xe4\xb8\xad";  // U+4E2D in UTF-8
  replies = {"HTTP/1.0 200 OK\r\n\r\n" + page,
             "HTTP/1.0 200 OK\r\n\r\n<head></head><meta charset=utf-8>\xe4\xb8\xad"};
  RunScript("get URL/a\nvar [#first] [#http_body]\nget URL/b\n");
  EXPECT_EQ(Var("first"), ConvertCodePage(page, kCodePageUtf8, kCodePageActive));
  EXPECT_NE(Var("first"), page);
  EXPECT_EQ(Var("http_body"), "<head></head><meta charset=utf-8>\xe4\xb8\xad");
}

// The code page for one test; the process-wide one comes back afterwards.
class CodePageGuard {
 public:
  explicit CodePageGuard(int codePage) : saved_(ActiveCodePage()) { SetActiveCodePage(codePage); }
  ~CodePageGuard() { SetActiveCodePage(saved_); }

 private:
  int saved_;
};

// "中文" in the page's charset and as each home holds it.
struct CharsetPage {
  const char* name;
  std::string head;
  std::string body;
  int home;
  std::string expected;
};

TEST_F(HttpCommands, EveryDeclaredCharsetArrivesInTheHomeCodePage) {
  const std::string gbk = "\xD6\xD0\xCE\xC4", utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
  const std::string big5 = "\xA4\xA4\xA4\xE5";
  const std::string meta = "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=";
  const CharsetPage pages[] = {
      {"GBK page, UTF-8 home", "Content-Type: text/html; charset=GBK\r\n", gbk, kCodePageUtf8, utf8},
      {"GBK page, GBK home", "Content-Type: text/html; charset=GBK\r\n", gbk, kCodePageGbk, gbk},
      {"Big5 meta, UTF-8 home", "", meta + "big5\"></head>" + big5, kCodePageUtf8,
       meta + "big5\"></head>" + utf8},
      {"Big5 meta, GBK home", "", meta + "big5\"></head>" + big5, kCodePageGbk,
       meta + "big5\"></head>" + gbk},
      {"ISO-8859-1, UTF-8 home", "Content-Type: text/html; charset=ISO-8859-1\r\n",
       "ma\xF1" "ana", kCodePageUtf8, "ma\xC3\xB1" "ana"},
      {"ISO-8859-1, GBK home: n-tilde is not in GBK", "Content-Type: text/html; charset=ISO-8859-1\r\n",
       "ma\xF1" "ana", kCodePageGbk, "ma?ana"},
      {"nothing declared stays as received", "", gbk, kCodePageUtf8, gbk},
  };
  for (const CharsetPage& page : pages) {
    CodePageGuard codePage(page.home);
    replies = {"HTTP/1.0 200 OK\r\n" + page.head + "\r\n" + page.body};
    RunScript("get URL/\n");
    EXPECT_EQ(Var("http_body"), page.expected) << page.name;
  }
}

namespace {
}  // namespace

// The body is inflated before the charset step, the head stays as received.
TEST_F(HttpCommands, CompressedUtf8PageIsInflatedThenConverted) {
  CodePageGuard codePage(kCodePageGbk);
  const std::string head =
      "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Encoding: gzip\r\n\r\n";
  replies = {head + Gzip("<p>\xE4\xB8\xAD\xE6\x96\x87</p>")};
  RunScript("encoding gzip, deflate\nget URL/\nsaveto " + home.File("page.gz.html") + "\nget URL/\n");
  EXPECT_NE(server.Request(0).find("\r\nAccept-Encoding: gzip, deflate\r\n"), std::string::npos);
  EXPECT_EQ(Var("http_head"), head);
  EXPECT_EQ(home.Read("page.gz.html"), "<p>\xE4\xB8\xAD\xE6\x96\x87</p>");
  EXPECT_EQ(runner->variables.Get("http_body"), "");
  RunScript("encoding gzip\nget URL/\n");
  EXPECT_EQ(Var("http_body"), "<p>\xD6\xD0\xCE\xC4</p>");
}

TEST_F(HttpCommands, FailedGetKeepsThePreviousPageWithStatusZero) {
  RunScript("get URL/\nget ftp://127.0.0.1/\n");
  EXPECT_EQ(Var("status"), "0");
  EXPECT_EQ(Var("http_body"), "ok");
}

TEST_F(HttpCommands, PostSendsTheFormOnceAndEncodesAddValues) {
  RunScript("add user a b&c\naddx raw x%20y\npost URL/login\nget URL/next\npost URL/empty\n");
  std::string first = server.Request(0);
  EXPECT_EQ(first.substr(first.size() - 26), "user=a+b%26c&raw=x%20y\r\n\r\n") << first;
  EXPECT_EQ(server.Request(1).find("Content-Length"), std::string::npos);
  // The form was emptied; the empty POST still names its host.
  EXPECT_NE(server.Request(2).find("\r\nContent-Length: 0\r\nConnection: close\r\nHost: 127.0.0.1:"),
            std::string::npos)
      << server.Request(2);
  EXPECT_EQ(runner->http->postData, "");
}

TEST_F(HttpCommands, ClearEmptiesTheForm) {
  RunScript("add a 1\nclear\nadd b 2\npost URL/\n");
  std::string request = server.Request(0);
  EXPECT_EQ(request.substr(request.size() - 7), "b=2\r\n\r\n");
}

TEST_F(HttpCommands, SaveToAppliesToOneRequestAndTestSetsNothing) {
  std::string file = home.File("page.txt");
  RunScript("var [#status] before\nsaveto " + file + "\ntest URL/t\nget URL/g\n");
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(home.Read("page.txt"), "ok");  // test left the save-to file in force for get
  EXPECT_EQ(Var("http_body"), "");
  RunScript("var [#status] before\nsaveto " + file + ".2\nget URL/g\nget URL/h\n");
  EXPECT_EQ(Var("http_body"), "ok");
  RunScript("var [#status] before\nadd a 1\ntest URL/t\n");
  EXPECT_EQ(Var("status"), "before");
  EXPECT_EQ(runner->http->postData, "a=1");
}

TEST_F(HttpCommands, CaptchaWritesTheNumberedFile) {
  replies = {"HTTP/1.0 200 OK\r\n\r\nGIF89a"};
  RunScript("var [#status] before\ncaptcha gif URL/img?id=3\nget URL/after\n");
  EXPECT_EQ(home.Read("Temp/captcha_1.gif"), "GIF89a");
  EXPECT_EQ(Var("http_body"), "GIF89a");  // the save-to file was dropped after the download
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST_F(HttpCommands, CaptchaWithoutSeparatorIsAFormatError) {
  RunScript("captcha gif\nvar [#after] reached\n");
  ASSERT_EQ(ui.Alerts().size(), 1u);
  EXPECT_EQ(ui.Alerts()[0], test::ErrorText("gif", Msg(MessageId::kFormatError)));
  EXPECT_EQ(Var("after"), "");
  EXPECT_EQ(server.connections(), 0u);
}

TEST_F(HttpCommands, SingleCookieCommandsChangeTheMapOnly) {
  replies = {"HTTP/1.0 200 OK\r\nSet-Cookie: sid=1\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n",
             "HTTP/1.0 200 OK\r\nSet-Cookie: b=2\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"};
  RunScript(
      "var [#v] two words\nget URL/1\nsetcookies extra [#v]\ngetcookies [#got] extra\n"
      "getcookies [#none] nothing\ndelcookies sid\nget URL/2\nget URL/3\nget URL/4\n"
      "clearcookies\nget URL/5\n");
  EXPECT_EQ(Var("got"), "two words");
  EXPECT_EQ(Var("none"), "");
  EXPECT_EQ(runner->http->cookies.entries.count("nothing"), 0u);
  EXPECT_NE(server.Request(1).find("\r\nCookie: sid=1\r\n"), std::string::npos);
  EXPECT_NE(server.Request(3).find("\r\nCookie: b=2;extra=two words\r\n"), std::string::npos)
      << server.Request(3);
  EXPECT_EQ(server.Request(4).find("Cookie:"), std::string::npos);
}

TEST_F(HttpCommands, CookieFileAndUserStore) {
  std::string store = home.File("data");
  setenv("XDG_DATA_HOME", store.c_str(), 1);
  std::string file = home.File("jar.txt");
  RunScript("setcookies a 1\nsetcookies b 2\nsavecookies " + file +
            "\nsaveiecookies http://site.test/\nclearcookies\nresumecookies " + file +
            "\nget URL/\nclearcookies\nresumeiecookies http://site.test/x\nget URL/\n");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(home.Read("jar.txt"), "a^1\r\nb^2\r\n");
  EXPECT_NE(server.Request(0).find("\r\nCookie: a=1;b=2\r\n"), std::string::npos);
  EXPECT_NE(server.Request(1).find("\r\nCookie: a=1;b=2\r\n"), std::string::npos);
  EXPECT_NE(home.Read("data/quorpack/cookies.txt").find("site.test\tFALSE\t/\tFALSE\t32503680000\ta\t1"),
            std::string::npos);
}

TEST_F(HttpCommands, HeaderSettingsReachTheRequest) {
  RunScript("referer http://from/\nlan en-us\nencoding gzip\nimitate bot/2\nget URL/\n");
  std::string request = server.Request(0);
  EXPECT_NE(request.find("\r\nReferer: http://from/\r\nAccept-Language: en-us\r\n"
                         "Accept-Encoding: gzip\r\nUser-Agent: bot/2\r\n"),
            std::string::npos)
      << request;
}

TEST_F(HttpCommands, ProxyAndTimeoutOperands) {
  struct Case {
    const char* script;
    const char* proxyHost;
    int proxyPort;
    uint32_t receive;
    uint32_t send;
  };
  const Case cases[] = {
      {"proxy 10.0.0.1 8080\ntimeout 100 200\n", "10.0.0.1", 8080, 100, 200},
      {"proxy 10.0.0.1\t  3128\ntimeout 100\n", "10.0.0.1", 3128, 0, 0},
      {"proxy 10.0.0.1 8080\nproxy 10.0.0.1\n", "", 80, 0, 0},
      {"proxy 10.0.0.1 abc\ntimeout x 5\n", "10.0.0.1", 0, 0, 5},
      {"proxy\ntimeout -5 7\n", "", 80, 0, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    RunScript(c.script);
    EXPECT_EQ(runner->http->proxyHost, c.proxyHost);
    EXPECT_EQ(runner->http->proxyPort, c.proxyPort);
    EXPECT_EQ(runner->http->receiveTimeout, c.receive);
    EXPECT_EQ(runner->http->sendTimeout, c.send);
  }
}

TEST_F(HttpCommands, UploadThroughTheScript) {
  home.Write("pic.png", "PNGDATA");
  RunScript("upload\nuptext title my picture\nupfile file " + home.File("pic.png") +
            "\npost URL/up\n");
  std::string request = server.Request(0);
  EXPECT_NE(request.find("name=\"title\"\r\n\r\nmy picture\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("filename=\"" + home.File("pic.png") +
                         "\"\r\nContent-Type: application/x-png\r\n\r\nPNGDATA\r\n"),
            std::string::npos);
}

// Page bodies that end in half a character, or hold "<<<", are one argument
// of a built-in whatever their bytes: the script's own "]" and "<<<" decide.
TEST_F(HttpCommands, PageBytesNeverChangeACallOfTheScript) {
  struct Case {
    const char* name;
    std::string body;
  } cases[] = {
      {"UTF-8 page with an unrecognised charset",
       "<meta charset=x-unheard-of>\xe4\xb8\xad\xe6\x96\x87\xe4\xb8"},
      {"binary body ending in 0x85", std::string("GIF89a\x00\x01\x85", 9)},
      {"page containing <<<", "<p>a<<<w<<<b</p>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = home.File("Temp/page.bin");
    std::remove(out.c_str());
    replies = {"HTTP/1.0 200 OK\r\n\r\n" + c.body};
    RunScript("get URL/p\nvar [#n] [@len<<<[#http_body]]\nvar [#w] [@writefile<<<" + out +
              "<<<[#http_body]]\n");
    EXPECT_EQ(Var("n"), std::to_string(c.body.size()));
    EXPECT_EQ(Var("w"), "1");
    EXPECT_EQ(home.Read("Temp/page.bin"), c.body);
  }
}

// saveto, savecookies, resumecookies and upfile take GBK names; the files
// carry the UTF-8 names a Linux user sees. The upload still names the file as
// the script wrote it.
TEST_F(HttpCommands, FileNamesFromScriptsAreUtf8OnDisk) {
  ASSERT_EQ(ActiveCodePage(), kCodePageGbk);
  const std::string zhongGbk = "\xD6\xD0", zhongUtf8 = "\xE4\xB8\xAD";
  replies = {"HTTP/1.0 200 OK\r\n\r\nbody"};
  std::string dir = home.path();
  RunScript("saveto " + dir + "\\Temp\\" + zhongGbk + ".html\nget URL/a\n"
            "setcookies a 1\nsavecookies " + dir + "\\Temp\\" + zhongGbk + ".cookies\n"
            "clearcookies\nresumecookies " + dir + "/Temp/" + zhongGbk + ".cookies\n"
            "getcookies [#c] a\n");
  EXPECT_EQ(home.Read("Temp/" + zhongUtf8 + ".html"), "body");
  EXPECT_TRUE(std::filesystem::exists(home.File("Temp/" + zhongUtf8 + ".cookies")));
  EXPECT_EQ(Var("c"), "1");

  home.Write("Temp/" + zhongUtf8 + ".png", "PNGDATA");
  const std::string upload = dir + "\\Temp\\" + zhongGbk + ".png";
  RunScript("upload\nupfile file " + upload + "\npost URL/up\n");
  const std::string posted = server.Request(server.connections() - 1);
  EXPECT_NE(posted.find("filename=\"" + upload +
                                   "\"\r\nContent-Type: application/x-png\r\n\r\nPNGDATA\r\n"),
            std::string::npos)
      << posted;
}

}  // namespace
}  // namespace qp
