#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "net/http_session.h"
#include "net/loopback_server.h"
#include "support/settings.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;

const std::string kPage = "HTTP/1.0 200 OK\r\n\r\nsecret page";

// Remembers the server name a client asked for in its handshake.
int RecordServerName(SSL* ssl, int*, void* into) {
  const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  *static_cast<std::string*>(into) = name ? name : "(none)";
  return SSL_TLSEXT_ERR_OK;
}

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certs_ = new testing::TestCertificates(testing::MakeTestCertificates()); }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(certs_->dir, ignored);
    delete certs_;
  }

  void SetUp() override {
    ASSERT_TRUE(certs_->ok) << "the openssl tool could not make the test certificates";
    const char* saved = std::getenv("SSL_CERT_FILE");
    hadCertFile_ = saved != nullptr;
    if (saved) savedCertFile_ = saved;
    unsetenv("SSL_CERT_FILE");
    SetProgramDir(home_.path());
    SSL_CTX* context = testing::ServerContext(*certs_);
    ASSERT_NE(context, nullptr);
    SSL_CTX_set_tlsext_servername_callback(context, RecordServerName);
    SSL_CTX_set_tlsext_servername_arg(context, &serverName_);
    serverContext_ = context;
    server_ = std::make_unique<LoopbackServer>(
        [](const std::string&) { return std::vector<ReplyPart>{{kPage, 0}}; }, context);
  }
  void TearDown() override {
    server_.reset();
    if (hadCertFile_) setenv("SSL_CERT_FILE", savedCertFile_.c_str(), 1);
    else unsetenv("SSL_CERT_FILE");
  }

  void TrustTestCa() { setenv("SSL_CERT_FILE", certs_->caFile.c_str(), 1); }
  void TurnVerificationOff() { home_.Write("Config.ini", "[setting]\r\ntlsverify = 0\r\n"); }
  std::string Url(const std::string& host) {
    return "https://" + host + ":" + std::to_string(server_->port()) + "/";
  }

  static testing::TestCertificates* certs_;
  testing::TempDir home_;
  std::unique_ptr<LoopbackServer> server_;
  std::string serverName_;
  SSL_CTX* serverContext_ = nullptr;  // owned by server_
  bool hadCertFile_ = false;
  std::string savedCertFile_;
  HttpSession session_;
};

testing::TestCertificates* TlsTest::certs_ = nullptr;

TEST_F(TlsTest, UnknownIssuerFailsAndSaysWhy) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(session_.Request(Url("localhost"), false));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("TLS certificate of localhost not accepted: unable to get local issuer"),
            std::string::npos)
      << err;
}

TEST_F(TlsTest, TestCaGivenThroughSslCertFileIsTrusted) {
  TrustTestCa();
  ASSERT_TRUE(session_.Request(Url("localhost"), false));
  EXPECT_EQ(session_.ResponseBody(), "secret page");
  EXPECT_EQ(serverName_, "localhost");
  std::string request = server_->Request(0);
  EXPECT_EQ(request.rfind("GET / HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(request.find("\r\nHost: localhost:" + std::to_string(server_->port()) + "\r\n"),
            std::string::npos);
}

TEST_F(TlsTest, AddressLiteralIsCheckedAgainstTheCertificateWithoutServerName) {
  TrustTestCa();
  ASSERT_TRUE(session_.Request(Url("127.0.0.1"), false));
  EXPECT_EQ(serverName_, "(none)");
}

TEST_F(TlsTest, HostNameMismatchFails) {
  TrustTestCa();
  session_.SetProxyHost("127.0.0.1");  // no tunnel: the handshake goes to the proxy address
  session_.proxyPort = server_->port();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(session_.Request("https://other.test/", false));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("other.test not accepted: hostname mismatch"), std::string::npos) << err;
}

TEST_F(TlsTest, DefaultPortGoesIntoTheHostLine) {
  TrustTestCa();
  session_.SetProxyHost("127.0.0.1");
  session_.proxyPort = server_->port();
  ASSERT_TRUE(session_.Request("https://localhost/x", false));
  EXPECT_NE(server_->Request(0).find("\r\nHost: localhost:443\r\n"), std::string::npos);
}

TEST_F(TlsTest, VerificationOffAcceptsAnyCertificate) {
  TurnVerificationOff();
  ASSERT_TRUE(session_.Request(Url("localhost"), false));
  EXPECT_EQ(session_.ResponseBody(), "secret page");
  session_.SetProxyHost("127.0.0.1");
  session_.proxyPort = server_->port();
  EXPECT_TRUE(session_.Request("https://other.test/", false));
}

TEST_F(TlsTest, PostOverTlsCarriesTheSameBytes) {
  TrustTestCa();
  session_.AddPostField("a", "1");
  ASSERT_TRUE(session_.Request(Url("localhost"), true));
  std::string request = server_->Request(0);
  EXPECT_EQ(request.substr(request.size() - 7), "a=1\r\n\r\n");
}

TEST_F(TlsTest, WritingToAResetTlsConnectionRaisesNoSignal) {
  TrustTestCa();
  testing::ResettingServer resetting(testing::ServerContext(*certs_));
  session_.AddPostField("big", std::string(8 << 20, 'b'));
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(session_.Request("https://localhost:" + std::to_string(resetting.port()) + "/", true));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(session_.ResponseHead(), "");
}

TEST_F(TlsTest, PlainServerBehindHttpsUrlFails) {
  TrustTestCa();
  LoopbackServer plain(kPage);
  session_.receiveTimeout = 300;  // the plain server waits for a request that never comes
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(session_.Request("https://localhost:" + std::to_string(plain.port()) + "/", false));
  ::testing::internal::GetCapturedStderr();
}

TEST_F(TlsTest, RepeatConnectionsResumeTheSession) {
  TrustTestCa();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(session_.Request(Url("localhost"), false));
    EXPECT_EQ(session_.ResponseBody(), "secret page");
  }
  EXPECT_EQ(SSL_CTX_sess_accept_good(serverContext_), 3);
  EXPECT_EQ(SSL_CTX_sess_hits(serverContext_), 2) << "the second and third resumed the first";
  HttpSession other;  // another script starts with a full handshake
  ASSERT_TRUE(other.Request(Url("localhost"), false));
  EXPECT_EQ(SSL_CTX_sess_hits(serverContext_), 2);
}

TEST_F(TlsTest, ResumedSessionsAreNotOfferedToAnotherHost) {
  TrustTestCa();
  ASSERT_TRUE(session_.Request(Url("localhost"), false));
  ASSERT_TRUE(session_.Request(Url("127.0.0.1"), false));
  EXPECT_EQ(SSL_CTX_sess_hits(serverContext_), 0);
}

TEST_F(TlsTest, NoRefererFromAnHttpsPageToPlainHttp) {
  TrustTestCa();
  LoopbackServer plain("HTTP/1.0 200 OK\r\n\r\nplain");
  ASSERT_TRUE(session_.Request(Url("localhost"), false));
  ASSERT_TRUE(session_.Request(plain.Url("/next"), false));
  ASSERT_TRUE(session_.Request(plain.Url("/after"), false));
  EXPECT_EQ(plain.Request(0).find("Referer:"), std::string::npos) << plain.Request(0);
  EXPECT_NE(plain.Request(1).find("\r\nReferer: " + plain.Url("/next") + "\r\n"),
            std::string::npos);
  ASSERT_TRUE(session_.Request(Url("localhost"), false));  // HTTP to HTTPS keeps it
  EXPECT_NE(server_->Request(1).find("\r\nReferer: " + plain.Url("/after") + "\r\n"),
            std::string::npos);
}

TEST_F(TlsTest, SecureCookieGoesOverHttpsOnly) {
  TrustTestCa();
  SSL_CTX* context = testing::ServerContext(*certs_);
  ASSERT_NE(context, nullptr);
  LoopbackServer setter(
      [](const std::string&) {
        return std::vector<ReplyPart>{{"HTTP/1.0 200 OK\r\nSet-Cookie: s=1; Secure\r\n\r\n", 0}};
      },
      context);
  LoopbackServer plain("HTTP/1.0 200 OK\r\n\r\nplain");
  ASSERT_TRUE(session_.Request("https://localhost:" + std::to_string(setter.port()) + "/", false));
  ASSERT_TRUE(session_.Request("http://localhost:" + std::to_string(plain.port()) + "/", false));
  ASSERT_TRUE(session_.Request(Url("localhost"), false));
  EXPECT_EQ(plain.Request(0).find("Cookie:"), std::string::npos) << plain.Request(0);
  EXPECT_NE(server_->Request(0).find("\r\nCookie: s=1\r\n"), std::string::npos);
}

// Every script thread uses the one shared context at the same time.
TEST_F(TlsTest, ManyScriptsShareTheContext) {
  TrustTestCa();
  constexpr int kThreads = 4;
  constexpr int kEach = 4;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      HttpSession session;
      for (int i = 0; i < kEach; ++i) {
        if (session.Request(Url("localhost"), false) && session.ResponseBody() == "secret page") {
          ++good;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads * kEach);
}

}  // namespace
}  // namespace qp
