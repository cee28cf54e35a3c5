#include "net/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qp::testing {
namespace {

constexpr int kIdleLimitMs = 5000;  // no test waits longer on a silent peer

int ListenOnLoopback(int backlog, int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// One accepted connection, plain or TLS.
class Peer {
 public:
  Peer(int fd, SSL_CTX* tls) : fd_(fd) {
    timeval limit = {kIdleLimitMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (!tls) return;
    ssl_ = SSL_new(tls);
    SSL_set_fd(ssl_, fd);
    if (SSL_accept(ssl_) != 1) failed_ = true;
  }
  ~Peer() {
    if (ssl_) SSL_free(ssl_);
  }
  bool failed() const { return failed_; }
  bool reset() const { return reset_; }

  // Bytes read, 0 at the end, -1 on error, -2 when nothing came in `waitMs`.
  int Read(char* buffer, int size, int waitMs) {
    if (!ssl_ || SSL_pending(ssl_) == 0) {
      pollfd entry = {fd_, POLLIN, 0};
      int ready = poll(&entry, 1, waitMs);
      if (ready == 0) return -2;
      if (ready < 0) return -1;
    }
    int n = ssl_ ? SSL_read(ssl_, buffer, size) : static_cast<int>(recv(fd_, buffer, size, 0));
    if (n < 0 && !ssl_) reset_ = errno == ECONNRESET;
    return n;
  }
  bool Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      int n = ssl_ ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                   : static_cast<int>(send(fd_, bytes.data() + done, bytes.size() - done,
                                           MSG_NOSIGNAL));
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  void EndWriting() {
    if (ssl_) SSL_shutdown(ssl_);
    shutdown(fd_, SHUT_WR);
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
  bool failed_ = false;
  bool reset_ = false;
};

// Length of the request head plus its declared body, or 0 while incomplete.
size_t ExpectedLength(const std::string& received) {
  size_t headEnd = received.find("\r\n\r\n");
  if (headEnd == std::string::npos) return 0;
  size_t length = headEnd + 4;
  size_t field = received.find("\r\nContent-Length: ");
  if (field != std::string::npos && field < headEnd) length += std::atol(&received[field + 18]);
  return length;
}

// Reads into `record` until `enough` says stop, the peer ends, or it stays
// silent for `waitMs`. False when the peer has gone.
template <class Enough>
bool ReadUntil(Peer& peer, std::string& record, int waitMs, Enough enough) {
  char buffer[16384];
  while (!enough()) {
    int n = peer.Read(buffer, sizeof buffer, waitMs);
    if (n == -2) return true;
    if (n <= 0) return false;
    record.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

LoopbackServer::LoopbackServer(ReplyFunction reply, SSL_CTX* tlsContext)
    : reply_(std::move(reply)), tls_(tlsContext) {
  listener_ = ListenOnLoopback(16, port_);
  if (listener_ >= 0) thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::LoopbackServer(std::string reply)
    : LoopbackServer([reply](const std::string&) { return std::vector<ReplyPart>{{reply, 0}}; }) {}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  if (tls_) SSL_CTX_free(tls_);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackServer::Request(size_t index, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  recorded_.wait_for(lock, wait, [&] { return requests_.size() > index; });
  return requests_.size() > index ? requests_[index] : std::string();
}

bool LoopbackServer::EndedByReset(size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < resets_.size() && resets_[index];
}

void LoopbackServer::Serve() {
  while (!stop_) {
    pollfd entry = {listener_, POLLIN, 0};
    if (poll(&entry, 1, 50) <= 0) continue;
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    Handle(fd);
    close(fd);
  }
}

// Reads the request, answers part by part, then records everything the
// client sends until it closes (the bytes after a body included).
void LoopbackServer::Handle(int fd) {
  Peer peer(fd, tls_);
  std::string record;
  bool alive = !peer.failed() && ReadUntil(peer, record, kIdleLimitMs, [&] {
    size_t expected = ExpectedLength(record);
    return expected != 0 && record.size() >= expected;
  });
  if (alive) {
    bool gone = false;
    for (const ReplyPart& part : reply_(record)) {
      for (size_t k = 0; k < part.repeat && !gone; ++k) gone = !peer.Write(part.bytes);
      if (gone) break;
      if (part.pauseMs > 0 && !ReadUntil(peer, record, part.pauseMs, [] { return false; })) break;
    }
    peer.EndWriting();
    ReadUntil(peer, record, kIdleLimitMs, [] { return false; });
  }
  std::lock_guard<std::mutex> lock(mutex_);
  resets_.push_back(peer.reset());
  requests_.push_back(record);
  recorded_.notify_all();
}

ResettingServer::ResettingServer(SSL_CTX* tlsContext) : tls_(tlsContext) {
  listener_ = ListenOnLoopback(4, port_);
  if (listener_ < 0) return;
  thread_ = std::thread([this] {
    pollfd entry = {listener_, POLLIN, 0};
    if (poll(&entry, 1, kIdleLimitMs) == 1) {
      int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        Peer peer(fd, tls_);
        char buffer[64];
        if (!peer.failed()) peer.Read(buffer, sizeof buffer, kIdleLimitMs);
        linger reset = {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd);
      }
    }
    done_ = true;
  });
}

ResettingServer::~ResettingServer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  if (tls_) SSL_CTX_free(tls_);
}

StalledPort::StalledPort() {
  listener_ = ListenOnLoopback(0, port_);
  if (listener_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  // Connect until one attempt stays unanswered: the backlog is then full.
  for (int attempt = 0; attempt < 32 && !ready_; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fillers_.push_back(fd);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd entry = {fd, POLLOUT, 0};
    ready_ = poll(&entry, 1, 300) == 0;
  }
}

StalledPort::~StalledPort() {
  for (int fd : fillers_) close(fd);
  if (listener_ >= 0) close(listener_);
}

TestCertificates MakeTestCertificates() {
  TestCertificates certs;
  std::string pattern = (std::filesystem::temp_directory_path() / "qp-tls-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return certs;
  certs.dir = pattern;
  certs.caFile = certs.dir + "/ca.pem";
  certs.certFile = certs.dir + "/server.pem";
  certs.keyFile = certs.dir + "/server.key";
  std::ofstream(certs.dir + "/ext.cnf")
      << "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n";
  const std::string d = certs.dir;
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  std::string script =
      "cd '" + d + "' && openssl req -x509 -new" + key +
      " -keyout ca.key -out ca.pem -days 2 -subj '/CN=QuorPack Test CA'"
      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
      " && openssl req -new" + key + " -keyout server.key -out server.csr -subj /CN=localhost"
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
      " -out server.pem -days 2 -extfile ext.cnf";
  certs.ok = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
  return certs;
}

SSL_CTX* ServerContext(const TestCertificates& certs) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (SSL_CTX_use_certificate_file(context, certs.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, certs.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context);
    return nullptr;
  }
  return context;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qp-net-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream(File(name), std::ios::binary) << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace qp::testing
