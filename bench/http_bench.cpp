// HTTP client throughput against a local server, compared in the same run
// with the tools users would otherwise reach for. Every comparison runs in
// alternating rounds (ours, then each peer, then ours again...) and reports
// the median of each, so that a busy machine slows all of them alike; the
// load average before and after is reported with them.
//
//  - BM_HttpGets: sequential GETs of a 10 KB page, each on a new HTTP/1.0
//    connection, by HttpSession and by curl (one curl process given all URLs).
//  - BM_HttpsGets: the same over TLS, against a certificate made at run time;
//    the trust store is the system bundle plus that CA in SSL_CERT_FILE, as
//    users have it. Peers: curl (one process, all URLs) and Python's urllib
//    making a new connection per request, as HttpSession does. The client CPU
//    time per request of HttpSession is shown beside the CPU time of one bare
//    full handshake made with a context that is already set up.
//  - BM_LargeBody: one 100 MB body read by HttpSession to memory and to a
//    save-to file (each in a child process, with the peak memory the read
//    added), and by curl -o to a file.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/http_session.h"
#include "net/loopback_server.h"
#include "net/socket_bio.h"
#include "net/tls_context.h"

namespace {

// QP_BENCH_SCALE (a percentage) shortens every run for a quick check.
int Scaled(int count) {
  const char* scale = std::getenv("QP_BENCH_SCALE");
  int percent = scale ? std::atoi(scale) : 100;
  return std::max(1, count * std::clamp(percent, 1, 100) / 100);
}
const int kRounds = 5;
const int kHttpGets = Scaled(2000);
const int kHttpsGets = Scaled(200);
constexpr size_t kPageSize = 10 * 1024;
constexpr size_t kLargeBody = 100u * 1024 * 1024;
constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// Answers every connection with one fixed head and `bodySize` bytes, then
// closes; over TLS when given a server context. One connection at a time, as
// the clients make them.
class PageServer {
 public:
  explicit PageServer(size_t bodySize, SSL_CTX* tls = nullptr) : bodySize_(bodySize), tls_(tls) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 128);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    head_ = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
            std::to_string(bodySize) + "\r\n\r\n";
    block_.assign(256 * 1024, 'x');
    thread_ = std::thread([this] { Serve(); });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  std::string Url() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/page";
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd entry = {listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      SSL* ssl = nullptr;
      if (tls_) {
        ssl = SSL_new(tls_);
        BIO* bio = qp::NewSocketBio(fd);  // a client that has gone raises no SIGPIPE
        SSL_set_bio(ssl, bio, bio);
        if (SSL_accept(ssl) != 1) {
          SSL_free(ssl);
          close(fd);
          continue;
        }
      }
      Answer(fd, ssl);
      if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
      }
      close(fd);
    }
  }
  void Answer(int fd, SSL* ssl) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      long n = ssl ? SSL_read(ssl, buffer, sizeof buffer) : recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    std::string first = head_ + block_.substr(0, std::min(bodySize_, block_.size()));
    if (!SendAll(fd, ssl, first)) return;
    for (size_t sent = first.size() - head_.size(); sent < bodySize_;) {
      size_t n = std::min(block_.size(), bodySize_ - sent);
      if (!SendAll(fd, ssl, std::string_view(block_).substr(0, n))) return;
      sent += n;
    }
  }
  static bool SendAll(int fd, SSL* ssl, std::string_view bytes) {
    while (!bytes.empty()) {
      long n = ssl ? SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()))
                   : send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  size_t bodySize_;
  SSL_CTX* tls_;
  int listener_ = -1;
  int port_ = 0;
  std::string head_;
  std::string block_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

double LoadAverage() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A file in a fresh temporary folder that goes away with the object.
struct TempFile {
  qp::testing::TempDir dir;
  std::string path;
  explicit TempFile(const std::string& name, const std::string& content = "")
      : path(dir.File(name)) {
    std::ofstream(path, std::ios::binary) << content;
  }
};

// ---- Peers -------------------------------------------------------------------

struct SessionRun {
  double seconds = 0;
  double cpuSeconds = 0;
  bool ok = false;
};

SessionRun RunSession(const std::string& url, int count, size_t bodySize) {
  SessionRun run;
  qp::HttpSession session;
  auto start = std::chrono::steady_clock::now();
  double cpu = ThreadCpuSeconds();
  for (int i = 0; i < count; ++i) {
    if (!session.Request(url, false) || session.ResponseBody().size() != bodySize) return run;
  }
  run.cpuSeconds = ThreadCpuSeconds() - cpu;
  run.seconds = SecondsSince(start);
  run.ok = true;
  return run;
}

// One curl process given all URLs; 0 when it failed.
double RunCurl(const std::string& url, int count, const std::string& options) {
  std::string config;
  for (int i = 0; i < count; ++i) config += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
  TempFile file("curl.cfg", config);
  std::string command = "curl --http1.0 -s -q --fail " + options + " -K " + file.path;
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  double seconds = SecondsSince(start);
  return status == 0 ? seconds : 0;
}

// urllib with a new connection per request; the time is taken inside the
// interpreter, so its start-up does not count against it. 0 when it failed.
double RunUrllib(const std::string& url, int count) {
  TempFile script("peer.py",
                  "import sys, time, urllib.request\n"
                  "url, n, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])\n"
                  "start = time.perf_counter()\n"
                  "for _ in range(n):\n"
                  "    with urllib.request.urlopen(url) as r:\n"
                  "        assert len(r.read()) == size\n"
                  "print(time.perf_counter() - start)\n");
  std::string command = "python3 " + script.path + " '" + url + "' " + std::to_string(count) +
                        " " + std::to_string(kPageSize);
  FILE* out = popen(command.c_str(), "r");
  if (!out) return 0;
  double seconds = 0;
  if (std::fscanf(out, "%lf", &seconds) != 1) seconds = 0;
  return pclose(out) == 0 ? seconds : 0;
}

// CPU time of one full handshake with an already built context (no session
// offered), the floor of what a new HTTPS connection costs the client.
double HandshakeCpuSeconds(int port, int count) {
  SSL_CTX* context = qp::SharedClientContext(true);
  if (!context) return 0;
  double total = 0;
  int done = 0;
  for (int i = 0; i < count; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      continue;
    }
    double cpu = ThreadCpuSeconds();
    SSL* ssl = SSL_new(context);
    BIO* bio = qp::NewSocketBio(fd);
    SSL_set_bio(ssl, bio, bio);
    SSL_set1_host(ssl, "127.0.0.1");
    bool ok = SSL_connect(ssl) == 1;
    total += ThreadCpuSeconds() - cpu;
    done += ok;
    SSL_free(ssl);
    close(fd);
  }
  return done ? total / done : 0;
}

struct Certificates {
  qp::testing::TestCertificates certs = qp::testing::MakeTestCertificates();
  std::string bundle = certs.dir + "/bundle.pem";
  Certificates() {
    if (!certs.ok) return;
    std::ifstream system(kSystemBundle, std::ios::binary);
    std::ifstream ca(certs.caFile, std::ios::binary);
    std::ofstream out(bundle, std::ios::binary);
    out << system.rdbuf() << ca.rdbuf();
  }
  ~Certificates() {
    std::error_code ignored;
    std::filesystem::remove_all(certs.dir, ignored);
  }
};

// ---- Benchmarks --------------------------------------------------------------

void ReportRates(benchmark::State& state, const std::vector<double>& sessionSeconds, int count,
                 const std::vector<std::pair<std::string, std::vector<double>>>& peers) {
  double session = count / Median(sessionSeconds);
  state.counters["session_req_per_s"] = session;
  for (const auto& [name, seconds] : peers) {
    double rate = count / Median(seconds);
    state.counters[name + "_req_per_s"] = rate;
    state.counters["session_to_" + name] = session / rate;
  }
}

void BM_HttpGets(benchmark::State& state) {
  PageServer server(kPageSize);
  std::string url = server.Url();
  double loadBefore = LoadAverage();
  std::vector<double> session, curl;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      SessionRun ours = RunSession(url, kHttpGets, kPageSize);
      double theirs = RunCurl(url, kHttpGets, "");
      if (!ours.ok || theirs == 0) {
        state.SkipWithError("a request failed");
        return;
      }
      session.push_back(ours.seconds);
      curl.push_back(theirs);
    }
    state.SetIterationTime(Median(session));
  }
  ReportRates(state, session, kHttpGets, {{"curl", curl}});
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = LoadAverage();
}
BENCHMARK(BM_HttpGets)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_HttpsGets(benchmark::State& state) {
  Certificates certificates;
  SSL_CTX* serverContext = certificates.certs.ok ? qp::testing::ServerContext(certificates.certs)
                                                 : nullptr;
  if (!serverContext) {
    state.SkipWithError("no test certificates (is the openssl tool installed?)");
    return;
  }
  std::string savedCertFile = std::getenv("SSL_CERT_FILE") ? std::getenv("SSL_CERT_FILE") : "";
  setenv("SSL_CERT_FILE", certificates.bundle.c_str(), 1);
  double loadBefore = LoadAverage();
  std::vector<double> session, sessionCpu, curl, urllib;
  double handshakeCpu = 0;
  {
    PageServer server(kPageSize, serverContext);
    std::string url = server.Url();
    for (auto _ : state) {
      for (int round = 0; round < kRounds; ++round) {
        SessionRun ours = RunSession(url, kHttpsGets, kPageSize);
        double byCurl = RunCurl(url, kHttpsGets, "--cacert " + certificates.bundle);
        double byUrllib = RunUrllib(url, kHttpsGets);
        if (!ours.ok || byCurl == 0 || byUrllib == 0) {
          state.SkipWithError(!ours.ok ? "a request of HttpSession failed"
                              : byCurl == 0 ? "curl failed" : "python3 urllib failed");
          break;
        }
        session.push_back(ours.seconds);
        sessionCpu.push_back(ours.cpuSeconds);
        curl.push_back(byCurl);
        urllib.push_back(byUrllib);
      }
      state.SetIterationTime(Median(session));
    }
    std::string port = url.substr(url.rfind(':') + 1);
    handshakeCpu = HandshakeCpuSeconds(std::atoi(port.c_str()), 100);
  }
  SSL_CTX_free(serverContext);
  if (savedCertFile.empty()) {
    unsetenv("SSL_CERT_FILE");
  } else {
    setenv("SSL_CERT_FILE", savedCertFile.c_str(), 1);
  }
  if (session.empty()) return;
  ReportRates(state, session, kHttpsGets, {{"curl", curl}, {"urllib", urllib}});
  state.counters["session_cpu_ms_per_req"] = Median(sessionCpu) * 1000 / kHttpsGets;
  state.counters["full_handshake_cpu_ms"] = handshakeCpu * 1000;
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = LoadAverage();
}
BENCHMARK(BM_HttpsGets)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

long StatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  size_t length = std::char_traits<char>::length(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length);
  }
  return -1;
}

struct LargeResult {
  double seconds = 0;
  double extraPeakMb = 0;
  size_t bodyBytes = 0;
};

// In a child process, so that the peak of one read is not hidden by another.
LargeResult ReadLargeBody(const std::string& url, const std::string& saveTo) {
  int pipeFds[2];
  LargeResult result;
  if (pipe(pipeFds) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak count here
    long before = StatusKilobytes("VmRSS:");
    qp::HttpSession session;
    session.SetSaveTo(saveTo);
    auto start = std::chrono::steady_clock::now();
    session.Request(url, false);
    LargeResult out;
    out.seconds = SecondsSince(start);
    out.extraPeakMb = (StatusKilobytes("VmHWM:") - before) / 1024.0;
    struct stat info;
    out.bodyBytes = saveTo.empty() ? session.ResponseBody().size()
                    : stat(saveTo.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size)
                                                       : 0;
    ssize_t written = write(pipeFds[1], &out, sizeof out);
    _exit(written == sizeof out ? 0 : 1);
  }
  close(pipeFds[1]);
  if (read(pipeFds[0], &result, sizeof result) != sizeof result) result = LargeResult();
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  return result;
}

// curl -o into a file; 0 when it failed or the file is short.
double CurlToFile(const std::string& url, const std::string& file) {
  std::string command = "curl --http1.0 -s -q --fail -o " + file + " " + url;
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  double seconds = SecondsSince(start);
  struct stat info;
  bool whole = stat(file.c_str(), &info) == 0 && static_cast<size_t>(info.st_size) == kLargeBody;
  unlink(file.c_str());
  return status == 0 && whole ? seconds : 0;
}

void BM_LargeBody(benchmark::State& state) {
  PageServer server(kLargeBody);
  std::string url = server.Url();
  qp::testing::TempDir dir;
  std::string file = dir.File("body.bin");
  double loadBefore = LoadAverage();
  std::vector<double> memory, saveTo, curl, memoryPeak, saveToPeak;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      LargeResult inMemory = ReadLargeBody(url, "");
      LargeResult toFile = ReadLargeBody(url, file);
      unlink(file.c_str());
      double byCurl = CurlToFile(url, file);
      if (inMemory.bodyBytes != kLargeBody || toFile.bodyBytes != kLargeBody || byCurl == 0) {
        state.SkipWithError("a body arrived short");
        return;
      }
      memory.push_back(inMemory.seconds);
      saveTo.push_back(toFile.seconds);
      curl.push_back(byCurl);
      memoryPeak.push_back(inMemory.extraPeakMb);
      saveToPeak.push_back(toFile.extraPeakMb);
    }
    state.SetIterationTime(Median(memory));
  }
  double megabytes = static_cast<double>(kLargeBody) / (1024 * 1024);
  double curlRate = megabytes / Median(curl);
  state.counters["memory_MB_per_s"] = megabytes / Median(memory);
  state.counters["saveto_MB_per_s"] = megabytes / Median(saveTo);
  state.counters["curl_o_MB_per_s"] = curlRate;
  state.counters["memory_to_curl"] = megabytes / Median(memory) / curlRate;
  state.counters["saveto_to_curl"] = megabytes / Median(saveTo) / curlRate;
  state.counters["memory_extra_peak_MB"] = Median(memoryPeak);
  state.counters["saveto_extra_peak_MB"] = Median(saveToPeak);
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = LoadAverage();
}
BENCHMARK(BM_LargeBody)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
