#include "net/http_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "net/socket_bio.h"
#include "net/tls_context.h"
#include "net/url_parts.h"
#include "support/atomic_file.h"
#include "support/settings.h"
#include "support/text.h"

namespace qp {
namespace {

// The connection wait is fixed, whatever time-outs the script configured
// (the request's deadline can only shorten it).
constexpr int kConnectWaitMs = 5000;
constexpr size_t kOutputFlushAt = 64 * 1024;

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool IsIpLiteral(const std::string& host) {
  in_addr v4;
  return inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

bool TlsVerificationWanted() { return Trim(ReadSetting("tlsverify", "1")) != "0"; }

// A whole number of a setting; `fallback` when the setting is missing or is
// not a plain number.
uint32_t NumberSetting(std::string_view key, uint32_t fallback) {
  std::string text = TrimCopy(ReadSetting(key, ""));
  if (text.empty() || text.size() > 9) return fallback;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

RequestBounds ReadRequestBounds() {
  RequestBounds bounds;
  bounds.timeoutSeconds = NumberSetting("requesttimeout", kDefaultRequestTimeoutSeconds);
  bounds.bodyLimitMiB = NumberSetting("bodylimit", kDefaultBodyLimitMiB);
  return bounds;
}

HttpSession::HttpSession() = default;

HttpSession::~HttpSession() {
  ReleaseConnection();
  for (auto& [key, tlsSession] : tlsSessions_) SSL_SESSION_free(tlsSession);
}

bool HttpSession::Request(const std::string& requestUrl, bool isPost) {
  url = requestUrl;
  responseRead_ = false;
  if (!bounds_) bounds_ = ReadRequestBounds();
  const RequestBounds& bounds = *bounds_;
  requestTimeoutSeconds_ = bounds.timeoutSeconds;
  deadline_ = bounds.timeoutSeconds == 0
                  ? std::chrono::steady_clock::time_point::max()
                  : std::chrono::steady_clock::now() + std::chrono::seconds(bounds.timeoutSeconds);
  limits_.bodyBytes = static_cast<size_t>(bounds.bodyLimitMiB) << 20;
  if (!ParseUrl() || !Connect()) return false;
  SendRequest(isPost);
  return ReadResponse();
}

bool HttpSession::ParseUrl() {
  UrlParts parts;
  bool ok = SplitUrl(url, parts);
  scheme = parts.scheme;
  host = parts.host;
  path = parts.path;
  port = parts.port;
  secure = parts.secure;
  return ok;
}

void HttpSession::AddPostField(const std::string& name, const std::string& value) {
  if (!postData.empty()) postData += '&';
  postData += name;
  postData += '=';
  postData += value;
}

// ---- Connection ----------------------------------------------------------

// The time-outs themselves are the stream's waits (socket_stream.h).
bool HttpSession::SetSocketOptions() {
  if (receiveTimeout == 0 && sendTimeout == 0) return true;
  // With time-outs the close is abortive, so a stalled peer cannot hold the
  // socket open after the script has given up on it.
  linger abortive = {1, 0};
  return setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) == 0;
}

// Through a proxy the peer is the proxy's dotted address (no name lookup);
// otherwise the first IPv4 address of the target host.
bool HttpSession::ResolvePeer(void* address) {
  auto* peer = static_cast<sockaddr_in*>(address);
  *peer = sockaddr_in{};
  peer->sin_family = AF_INET;
  int32_t peerPort = proxyHost.empty() ? port : proxyPort;
  if (peerPort < 0 || peerPort > 65535) return false;  // never wrap to another port
  peer->sin_port = htons(static_cast<uint16_t>(peerPort));
  if (!proxyHost.empty()) return inet_pton(AF_INET, proxyHost.c_str(), &peer->sin_addr) == 1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    return false;
  }
  peer->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

bool HttpSession::WaitConnected() {
  auto deadline = std::min(
      deadline_, std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs));
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry = {socket_, POLLOUT, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || !(entry.revents & (POLLOUT | POLLERR | POLLHUP))) return false;
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return false;
    return pending == 0;
  }
}

bool HttpSession::Connect() {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return false;
  sockaddr_in peer;
  bool ok = SetSocketOptions() && ResolvePeer(&peer) && SetNonBlocking(socket_);
  if (ok) {
    int started = connect(socket_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    ok = started == 0 || (errno == EINPROGRESS && WaitConnected());
  }
  // The socket stays non-blocking: every wait is the stream's poll.
  stream_.Start(socket_, deadline_, receiveTimeout, sendTimeout);
  ok = ok && (!secure || StartTls());
  if (!ok) ReleaseConnection();
  output_.clear();
  return ok;
}

// The handshake with SNI and, unless "tlsverify" is 0 in Config.ini, a check
// of the certificate chain against the system store and of the host name.
// The context is the process's shared one; a session kept from the last
// connection to the same host is offered for resumption.
bool HttpSession::StartTls() {
  bool verify = TlsVerificationWanted();
  tlsContext_ = SharedClientContext(verify);
  if (!tlsContext_) return false;
  tlsConnection_ = SSL_new(tlsContext_);
  if (!tlsConnection_) return false;
  BIO* bio = NewSocketBio(socket_);
  if (!bio) return false;
  SSL_set_bio(tlsConnection_, bio, bio);
  stream_.SetTls(tlsConnection_);
  if (!IsIpLiteral(host)) SSL_set_tlsext_host_name(tlsConnection_, host.c_str());
  if (verify) SSL_set1_host(tlsConnection_, host.c_str());
  auto kept = tlsSessions_.find(TlsSessionKey());
  if (kept != tlsSessions_.end()) SSL_set_session(tlsConnection_, kept->second);
  if (!stream_.Handshake()) {
    long result = SSL_get_verify_result(tlsConnection_);
    if (verify && result != X509_V_OK) {
      std::fprintf(stderr, "quorpack: TLS certificate of %s not accepted: %s\n", host.c_str(),
                   X509_verify_cert_error_string(result));
    }
    ERR_print_errors_fp(stderr);
    if (kept != tlsSessions_.end()) {  // never offer a session that failed again
      SSL_SESSION_free(kept->second);
      tlsSessions_.erase(kept);
    }
    return false;
  }
  X509* certificate = SSL_get1_peer_certificate(tlsConnection_);
  if (!certificate) return false;
  char* subject = X509_NAME_oneline(X509_get_subject_name(certificate), nullptr, 0);
  char* issuer = X509_NAME_oneline(X509_get_issuer_name(certificate), nullptr, 0);
  bool named = subject && issuer;
  OPENSSL_free(subject);
  OPENSSL_free(issuer);
  X509_free(certificate);
  return named;
}

// Sessions belong to one context (one verification setting and trust store),
// one host and one way of reaching it.
std::string HttpSession::TlsSessionKey() const {
  char context[32];
  std::snprintf(context, sizeof context, "%p", static_cast<void*>(tlsContext_));
  return std::string(context) + " " + host + ":" + ToDecimal(port) + " " + proxyHost + ":" +
         ToDecimal(proxyPort);
}

// After the exchange, when TLS 1.3 tickets have arrived with the response.
void HttpSession::KeepTlsSession() {
  if (!tlsConnection_) return;
  SSL_SESSION* session = SSL_get1_session(tlsConnection_);
  if (!session) return;
  if (!SSL_SESSION_is_resumable(session)) {
    SSL_SESSION_free(session);
    return;
  }
  SSL_SESSION*& slot = tlsSessions_[TlsSessionKey()];
  if (slot) SSL_SESSION_free(slot);
  slot = session;
}

void HttpSession::ReleaseConnection() {
  if (tlsConnection_) SSL_free(tlsConnection_);  // also frees the BIO
  tlsConnection_ = nullptr;
  stream_.SetTls(nullptr);
  tlsContext_ = nullptr;
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
}

void HttpSession::Close() {
  if (secure && tlsConnection_) {
    KeepTlsSession();
    SSL_shutdown(tlsConnection_);  // no wait for the peer's
  }
  ReleaseConnection();
}

// ---- Bytes ---------------------------------------------------------------

void HttpSession::SendText(std::string_view text) { SendBytes(text.data(), text.size()); }

void HttpSession::SendBytes(const char* data, size_t length) {
  if (output_.size() + length < kOutputFlushAt) {
    output_.append(data, length);
    return;
  }
  FlushOutput();
  output_.assign(data, length);
  FlushOutput();
}

// A failed write is not reported: the reading then finds a closed connection.
void HttpSession::FlushOutput() {
  stream_.Write(output_.data(), output_.size());
  output_.clear();
}

// ---- Request -------------------------------------------------------------

void HttpSession::SendRequest(bool isPost) {
  SendText(isPost ? "POST " : "GET ");
  if (path.empty()) path = "/";
  SendText(EncodeRequestTarget(path));
  SendText(" HTTP/1.0\r\n");
  SendText("Accept: */*\r\n");
  // An HTTPS address is not told to a plain-HTTP server.
  if (!referer.empty() && (secure || !IsHttpsUrl(referer))) {
    SendText("Referer: " + referer + "\r\n");
  }
  referer = url;  // every request names the previous one as its referer
  SendText("Accept-Language: " + language + "\r\n");
  if (!encoding.empty()) SendText("Accept-Encoding: " + encoding + "\r\n");
  SendText("User-Agent: " + userAgent + "\r\n");
  std::string cookieLine = cookies.HeaderFor(host, secure);
  if (!cookieLine.empty()) SendText("Cookie: " + cookieLine + "\r\n");
  if (!boundary.empty()) {
    SendMultipartBody();
  } else if (isPost) {
    SendUrlEncodedBody(postData);
  } else {
    SendConnectionAndHost();
  }
  SendText("\r\n");
}

void HttpSession::SendConnectionAndHost() {
  SendText("Connection: close\r\n");
  if (port == 80) {
    SendText("Host: " + host + "\r\n");
  } else {
    SendText("Host: " + host + ":" + ToDecimal(port) + "\r\n");
  }
}

// An empty form still says its length (0) and the Host, so that the POST
// reaches the right virtual host.
void HttpSession::SendUrlEncodedBody(const std::string& body) {
  if (body.empty()) {
    SendText("Content-Length: 0\r\n");
    SendConnectionAndHost();
    return;
  }
  SendText("Content-Length: " + ToDecimal(static_cast<int64_t>(body.size())) + "\r\n");
  SendConnectionAndHost();
  SendText("Content-Type: application/x-www-form-urlencoded\r\n");
  SendText("\r\n");
  SendText(body);
  SendText("\r\n");
}

// ---- Response ------------------------------------------------------------

bool HttpSession::ReadResponse() {
  FlushOutput();
  responseRead_ = true;
  ResponseReader reader(stream_, limits_);
  std::string().swap(responseBody);
  ResponseEnd end = reader.ReadHead(responseHead);
  if (end == ResponseEnd::kComplete) {
    end = saveToFile.empty() ? reader.ReadBody(responseHead, responseBody)
                             : ReadBodyToFile(reader);
  }
  Close();
  cookies.TakeSetCookies(responseHead, host);
  Report(end);
  // A file that could not be written loses the body, not the request.
  return end == ResponseEnd::kComplete || end == ResponseEnd::kFileFailed;
}

// The body goes to a temporary file beside the target, which replaces the
// target only once the whole body is in it; on any failure the earlier file
// stays as it was. A file that cannot be created means the body is not read.
ResponseEnd HttpSession::ReadBodyToFile(ResponseReader& reader) {
  AtomicFileWriter file;
  if (!file.Open(saveToFile)) {
    std::fprintf(stderr, "quorpack: cannot create %s: %s\n", saveToFile.c_str(),
                 std::strerror(errno));
    return ResponseEnd::kComplete;
  }
  ResponseEnd end = reader.ReadBodyTo(responseHead, file);
  if (end == ResponseEnd::kComplete && !file.Commit()) end = ResponseEnd::kFileFailed;
  if (end == ResponseEnd::kFileFailed) {
    std::fprintf(stderr, "quorpack: cannot write %s: %s; the earlier file is kept\n",
                 saveToFile.c_str(), std::strerror(errno));
  }
  return end;
}

// One line on standard error for a response that broke a bound.
void HttpSession::Report(ResponseEnd end) const {
  std::string why;
  switch (end) {
    case ResponseEnd::kHeadTooLarge: why = "its head is larger than 1 MiB"; break;
    case ResponseEnd::kBodyTooLarge:
      why = "its body is larger than bodylimit (" + ToDecimal(static_cast<int64_t>(limits_.bodyBytes >> 20)) + " MiB)";
      break;
    case ResponseEnd::kNoMemory: why = "there is no memory for its body"; break;
    case ResponseEnd::kDeadline:
      why = "it took longer than requesttimeout (" + ToDecimal(requestTimeoutSeconds_) + " s)";
      break;
    case ResponseEnd::kComplete:
    case ResponseEnd::kFileFailed: return;
  }
  std::fprintf(stderr, "quorpack: the request to %s failed: %s\n", host.c_str(), why.c_str());
}

}  // namespace qp
