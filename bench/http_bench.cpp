// HTTP client throughput against a local server:
//  - 2,000 sequential GETs of a 10 KB page, each on a new HTTP/1.0
//    connection, by HttpSession and by curl (one curl process given the same
//    2,000 URLs), with the requests per second of each and their ratio;
//  - one 100 MB body read to memory and to a save-to file, each in a child
//    process, with the time and the peak memory added by the read.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "net/http_session.h"

namespace {

constexpr int kGets = 2000;
constexpr size_t kPageSize = 10 * 1024;
constexpr size_t kLargeBody = 100u * 1024 * 1024;

// Answers every connection with one fixed head and `bodySize` bytes, then
// closes. One connection at a time, as the clients make them.
class PageServer {
 public:
  explicit PageServer(size_t bodySize) : bodySize_(bodySize) {
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
    block_.assign(64 * 1024, 'x');
    thread_ = std::thread([this] { Serve(); });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd entry = {listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Answer(fd);
      close(fd);
    }
  }
  void Answer(int fd) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    std::string first = head_ + block_.substr(0, std::min(bodySize_, block_.size()));
    if (!SendAll(fd, first)) return;
    for (size_t sent = first.size() - head_.size(); sent < bodySize_;) {
      size_t n = std::min(block_.size(), bodySize_ - sent);
      if (!SendAll(fd, std::string_view(block_).substr(0, n))) return;
      sent += n;
    }
  }
  static bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  size_t bodySize_;
  int listener_ = -1;
  int port_ = 0;
  std::string head_;
  std::string block_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double sessionRate = 0;  // requests per second of the HttpSession run

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_SessionGets(benchmark::State& state) {
  PageServer server(kPageSize);
  qp::HttpSession session;
  std::string url = server.Url();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kGets; ++i) {
      if (!session.Request(url, false) || session.ResponseBody().size() != kPageSize) {
        state.SkipWithError("a request failed");
        return;
      }
    }
    double seconds = SecondsSince(start);
    state.SetIterationTime(seconds);
    sessionRate = kGets / seconds;
  }
  state.counters["req_per_s"] = sessionRate;
}
BENCHMARK(BM_SessionGets)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CurlGets(benchmark::State& state) {
  PageServer server(kPageSize);
  char config[] = "/tmp/qp-curl-XXXXXX";
  int fd = mkstemp(config);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  {
    std::ofstream out(config);
    for (int i = 0; i < kGets; ++i) out << "url = \"" << server.Url() << "\"\noutput = \"/dev/null\"\n";
  }
  std::string command = std::string("curl --http1.0 -s -q -K ") + config;
  double rate = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double seconds = SecondsSince(start);
    if (status != 0) {
      state.SkipWithError("curl failed");
      break;
    }
    state.SetIterationTime(seconds);
    rate = kGets / seconds;
  }
  unlink(config);
  state.counters["req_per_s"] = rate;
  if (rate > 0 && sessionRate > 0) state.counters["session_to_curl"] = sessionRate / rate;
}
BENCHMARK(BM_CurlGets)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

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
    out.bodyBytes = saveTo.empty() ? session.ResponseBody().size() : 0;
    ssize_t written = write(pipeFds[1], &out, sizeof out);
    _exit(written == sizeof out ? 0 : 1);
  }
  close(pipeFds[1]);
  if (read(pipeFds[0], &result, sizeof result) != sizeof result) result = LargeResult();
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  return result;
}

void BM_LargeBody(benchmark::State& state) {
  bool toFile = state.range(0) == 1;
  PageServer server(kLargeBody);
  std::string file = toFile ? "/tmp/qp-bench-body.bin" : "";
  LargeResult result;
  for (auto _ : state) {
    result = ReadLargeBody(server.Url(), file);
    state.SetIterationTime(result.seconds);
  }
  if (toFile) unlink(file.c_str());
  state.counters["extra_peak_MB"] = result.extraPeakMb;
  state.counters["peak_to_body"] = result.extraPeakMb * 1024 * 1024 / kLargeBody;
  state.counters["MB_per_s"] = result.seconds > 0 ? 100 / result.seconds : 0;
  if (!toFile && result.bodyBytes != kLargeBody) state.SkipWithError("short body");
}
BENCHMARK(BM_LargeBody)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
