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

#include "net/body_decoding.h"
#include "net/socket_bio.h"
#include "net/tls_context.h"
#include "net/url_parts.h"
#include "support/settings.h"
#include "support/text.h"

namespace qp {
namespace {

// The connection wait is fixed, whatever time-outs the script configured.
constexpr int kConnectWaitMs = 5000;
constexpr size_t kInputBlock = 64 * 1024;
constexpr size_t kOutputFlushAt = 64 * 1024;

timeval ToTimeval(uint32_t ms) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

bool IsIpLiteral(const std::string& host) {
  in_addr v4;
  return inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

// A declared body length above this is trusted only this far, so that a
// lying head cannot make the client fill memory it will never use.
constexpr size_t kPresizeLimit = 128u << 20;

// The Content-Length of a head; 0 when absent or not a plain number.
size_t DeclaredLength(std::string_view head) {
  std::string field = HeadField(head, "content-length");
  if (field.empty() || field.size() > 18) return 0;
  size_t length = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  return length;
}

bool TlsVerificationWanted() { return Trim(ReadSetting("tlsverify", "1")) != "0"; }

// The body grows in pieces that are joined once at the end, so a large body
// needs about twice its size at the peak instead of the three times of a
// doubling buffer.
struct BodyPieces {
  std::vector<std::pair<std::unique_ptr<char[]>, size_t>> pieces;
  size_t capacity = 0;  // of the last piece
  size_t total = 0;

  char* Space(size_t& room) {
    if (pieces.empty() || pieces.back().second == capacity) {
      capacity = capacity == 0 ? kInputBlock : std::min<size_t>(capacity * 2, 8 << 20);
      pieces.emplace_back(std::unique_ptr<char[]>(new char[capacity]), 0);
    }
    room = capacity - pieces.back().second;
    return pieces.back().first.get() + pieces.back().second;
  }
  void Commit(size_t n) {
    pieces.back().second += n;
    total += n;
  }
  std::string Join() {
    std::string text;
    text.reserve(total);
    for (auto& piece : pieces) {
      text.append(piece.first.get(), piece.second);
      piece.first.reset();
    }
    return text;
  }
};

}  // namespace

HttpSession::HttpSession() : input_(new char[kInputBlock]) {}

HttpSession::~HttpSession() {
  ReleaseConnection();
  for (auto& [key, tlsSession] : tlsSessions_) SSL_SESSION_free(tlsSession);
}

bool HttpSession::Request(const std::string& requestUrl, bool isPost) {
  url = requestUrl;
  if (!ParseUrl() || !Connect()) return false;
  SendRequest(isPost);
  ReadResponse();
  return true;
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

bool HttpSession::SetSocketOptions() {
  if (receiveTimeout == 0 && sendTimeout == 0) return true;
  // With time-outs the close is abortive, so a stalled peer cannot hold the
  // socket open after the script has given up on it.
  linger abortive = {1, 0};
  if (setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) != 0) return false;
  if (receiveTimeout != 0) {
    timeval tv = ToTimeval(receiveTimeout);
    if (setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
  }
  if (sendTimeout != 0) {
    timeval tv = ToTimeval(sendTimeout);
    if (setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return false;
  }
  return true;
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
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
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
  bool ok = SetSocketOptions() && ResolvePeer(&peer) && SetBlocking(socket_, false);
  if (ok) {
    int started = connect(socket_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    ok = started == 0 || (errno == EINPROGRESS && WaitConnected());
  }
  ok = ok && SetBlocking(socket_, true) && (!secure || StartTls());
  if (!ok) ReleaseConnection();
  inputStart_ = inputEnd_ = 0;
  inputEnded_ = false;
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
  if (!IsIpLiteral(host)) SSL_set_tlsext_host_name(tlsConnection_, host.c_str());
  if (verify) SSL_set1_host(tlsConnection_, host.c_str());
  auto kept = tlsSessions_.find(TlsSessionKey());
  if (kept != tlsSessions_.end()) SSL_set_session(tlsConnection_, kept->second);
  ERR_clear_error();
  if (SSL_connect(tlsConnection_) != 1) {
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
  std::string_view rest = output_;
  while (!rest.empty()) {
    int chunk = static_cast<int>(std::min<size_t>(rest.size(), 1 << 30));
    long sent;
    if (secure) {
      sent = SSL_write(tlsConnection_, rest.data(), chunk);
    } else {
      do {
        sent = send(socket_, rest.data(), static_cast<size_t>(chunk), MSG_NOSIGNAL);
      } while (sent < 0 && errno == EINTR);
    }
    if (sent <= 0) break;
    rest.remove_prefix(static_cast<size_t>(sent));
  }
  output_.clear();
}

int32_t HttpSession::ReceiveBytes(char* buffer, int32_t capacity) {
  if (secure) return SSL_read(tlsConnection_, buffer, capacity);
  ssize_t n;
  do {
    n = recv(socket_, buffer, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<int32_t>(n);
}

// Makes sure unread response bytes are buffered; false once the stream has
// ended or failed.
bool HttpSession::FillInput() {
  if (inputStart_ < inputEnd_) return true;
  if (inputEnded_) return false;
  int32_t n = ReceiveBytes(input_.get(), static_cast<int32_t>(kInputBlock));
  if (n <= 0) {
    inputEnded_ = true;
    return false;
  }
  inputStart_ = 0;
  inputEnd_ = static_cast<size_t>(n);
  return true;
}

int HttpSession::NextByte() {
  return FillInput() ? static_cast<unsigned char>(input_[inputStart_++]) : -1;
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

void HttpSession::ReadResponse() {
  FlushOutput();
  responseHead.clear();
  // Non-CR bytes of the current line; the status line never ends the head,
  // so a response that starts with "\n\n" has a two-byte head.
  size_t lineBytes = 1;
  for (int c; (c = NextByte()) >= 0;) {
    responseHead += static_cast<char>(c);
    if (c == '\n') {
      if (lineBytes == 0) break;
      lineBytes = 0;
    } else if (c != '\r') {
      ++lineBytes;
    }
  }
  std::string().swap(responseBody);
  BodyCodings codings = CodingsOf(responseHead);
  bool decoded = codings.chunked || codings.content != BodyCodings::Content::kNone;
  if (!saveToFile.empty()) {
    int fd = open(saveToFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (decoded) {
        ReadDecodedBody(fd);
      } else {
        ReadBodyTo(fd);
      }
      close(fd);
    }
  } else if (decoded) {
    ReadDecodedBody(-1);
  } else {
    ReadBodyToMemory();
  }
  Close();
  cookies.TakeSetCookies(responseHead, host);
}

namespace {

constexpr size_t kSpliceBlock = 1 << 20;

// Reads and drops what the server still sends, up to its close.
void Drain(int socket) {
  char sink[16384];
  for (;;) {
    ssize_t n = recv(socket, sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// A plain body moves from the socket to the file inside the kernel (through a
// pipe), never copied through the program. False, with nothing moved, where
// the kernel cannot splice these two; the caller then copies.
bool SpliceToFile(int socket, int fd) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  fcntl(pipeFds[1], F_SETPIPE_SZ, kSpliceBlock);  // a smaller pipe only means more calls
  bool moved = false;
  bool usable = true;
  for (;;) {
    ssize_t in = splice(socket, nullptr, pipeFds[1], nullptr, kSpliceBlock, SPLICE_F_MOVE);
    if (in < 0 && errno == EINTR) continue;
    if (in < 0 && !moved && (errno == EINVAL || errno == ENOSYS)) usable = false;
    if (in <= 0) break;
    moved = true;
    while (in > 0) {
      ssize_t out = splice(pipeFds[0], nullptr, fd, nullptr, static_cast<size_t>(in), SPLICE_F_MOVE);
      if (out < 0 && errno == EINTR) continue;
      if (out <= 0) break;
      in -= out;
    }
    if (in > 0) {  // the file takes no more (a full disk); the rest is lost
      Drain(socket);
      break;
    }
  }
  close(pipeFds[0]);
  close(pipeFds[1]);
  return usable;
}

}  // namespace

// A chunked or compressed body, decoded block by block into memory or, with
// `fd`, into the file. Reading stops where the decoding ends (the last chunk,
// the end of the compressed stream, or malformed bytes).
void HttpSession::ReadDecodedBody(int fd) {
  BodyDecoder decoder(CodingsOf(responseHead));
  std::string block;
  std::string& out = fd >= 0 ? block : responseBody;
  while (FillInput()) {
    std::string_view in(input_.get() + inputStart_, inputEnd_ - inputStart_);
    inputStart_ = inputEnd_;
    block.clear();
    bool more = decoder.Feed(in, out);
    if (fd >= 0 && !WriteAll(fd, block.data(), block.size())) break;
    if (!more) break;
  }
  inputEnded_ = true;
}

// The bytes already buffered, then the rest straight from the connection in
// large blocks into the file, without passing through the input buffer. A
// full disk loses the rest, as a failed read would.
void HttpSession::ReadBodyTo(int fd) {
  if (inputStart_ < inputEnd_) {
    WriteAll(fd, input_.get() + inputStart_, inputEnd_ - inputStart_);
    inputStart_ = inputEnd_;
  }
  if (!secure && SpliceToFile(socket_, fd)) {
    inputEnded_ = true;
    return;
  }
  constexpr size_t kFileBlock = 1 << 20;
  std::unique_ptr<char[]> block(new char[kFileBlock]);
  while (!inputEnded_) {
    int32_t n = ReceiveBytes(block.get(), static_cast<int32_t>(kFileBlock));
    if (n <= 0) break;
    WriteAll(fd, block.get(), static_cast<size_t>(n));
  }
  inputEnded_ = true;
}

// A body whose length the head declares is read straight into its final
// storage: one allocation, no joining copy. Bytes beyond the declared length
// (HTTP/1.0 reads until the server closes) and bodies without a length grow in
// pieces that are joined once at the end.
void HttpSession::ReadBodyToMemory() {
  std::string& whole = responseBody;
  size_t declared = std::min(DeclaredLength(responseHead), kPresizeLimit);
  if (declared > 0) {
    whole.resize(declared);
    size_t used = std::min(declared, inputEnd_ - inputStart_);
    std::copy_n(input_.get() + inputStart_, used, &whole[0]);
    inputStart_ += used;
    while (used < declared && FillInputDirect(&whole[used], declared - used, used)) {
    }
    whole.resize(used);
    if (used < declared / 2) whole.shrink_to_fit();  // a length that lied
    if (inputEnded_) return;
  }
  BodyPieces body;
  size_t room;
  if (inputStart_ < inputEnd_) {
    size_t left = inputEnd_ - inputStart_;
    char* space = body.Space(room);
    std::copy_n(input_.get() + inputStart_, left, space);  // room >= one input block
    body.Commit(left);
    inputStart_ = inputEnd_;
  }
  while (!inputEnded_) {
    char* space = body.Space(room);
    int32_t n = ReceiveBytes(space, static_cast<int32_t>(room));
    if (n <= 0) break;
    body.Commit(static_cast<size_t>(n));
  }
  inputEnded_ = true;
  if (whole.empty()) {
    whole = body.Join();
  } else if (body.total > 0) {
    whole += body.Join();
  }
}

// One receive into `space`; false (and the stream ended) when nothing came.
bool HttpSession::FillInputDirect(char* space, size_t room, size_t& used) {
  int32_t n = ReceiveBytes(space, static_cast<int32_t>(std::min<size_t>(room, 1 << 30)));
  if (n <= 0) {
    inputEnded_ = true;
    return false;
  }
  used += static_cast<size_t>(n);
  return true;
}

}  // namespace qp
