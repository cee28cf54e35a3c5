// A test server on 127.0.0.1 that records the exact bytes of every request
// and answers with canned bytes, over plain TCP or TLS. One connection at a
// time, as the client makes them. Every wait is bounded.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qp::testing {

// One piece of a reply and the pause after it (the server holds the
// connection open for that long, or until the client goes away). The bytes
// are sent `repeat` times in a row, or until the client goes away, so that
// an endless stream is a bounded loop.
struct ReplyPart {
  std::string bytes;
  int pauseMs = 0;
  size_t repeat = 1;
};

// Chooses the reply from the request head (and body, when it had a
// Content-Length).
using ReplyFunction = std::function<std::vector<ReplyPart>(const std::string& request)>;

class LoopbackServer {
 public:
  // Plain TCP. With `tlsContext` (taken over), every connection is TLS.
  explicit LoopbackServer(ReplyFunction reply, SSL_CTX* tlsContext = nullptr);
  // Always the same reply.
  explicit LoopbackServer(std::string reply);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path = "/") const;
  // Connections accepted so far.
  size_t connections() const { return accepted_; }
  // The whole byte stream the client sent on connection `index` (0-based),
  // up to its close; empty when it did not complete within `wait`.
  std::string Request(size_t index, std::chrono::milliseconds wait = std::chrono::seconds(5));
  // Whether the client ended connection `index` with a reset (an abortive
  // close) rather than an orderly one. Call after Request(index).
  bool EndedByReset(size_t index);

 private:
  void Serve();
  void Handle(int fd);

  ReplyFunction reply_;
  SSL_CTX* tls_ = nullptr;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0};
  std::mutex mutex_;
  std::condition_variable recorded_;
  std::vector<std::string> requests_;
  std::vector<bool> resets_;
  std::thread thread_;
};

// A server that accepts one connection (with a TLS handshake when given a
// context), reads a few bytes and then resets it, so that the client's
// further writes fail.
class ResettingServer {
 public:
  explicit ResettingServer(SSL_CTX* tlsContext = nullptr);
  ~ResettingServer();
  int port() const { return port_; }
  bool done() const { return done_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  SSL_CTX* tls_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A listening port on 127.0.0.1 whose backlog is full, so that a further
// connection attempt is never answered.
class StalledPort {
 public:
  StalledPort();
  ~StalledPort();
  int port() const { return port_; }
  bool ready() const { return ready_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  bool ready_ = false;
  std::vector<int> fillers_;
};

// A test CA and a server certificate for "localhost" and 127.0.0.1, made with
// the openssl tool in a fresh temporary folder.
struct TestCertificates {
  std::string dir;
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  bool ok = false;
};
TestCertificates MakeTestCertificates();
SSL_CTX* ServerContext(const TestCertificates& certs);

// A temporary folder removed at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace qp::testing
