// Fifty scripts at once, each doing everything that crosses threads: HTTP
// gets against a server on 127.0.0.1, patterns, JavaScript, message boxes,
// notes, events through the pipe; some end by themselves, the rest are
// stopped by SIGTERM. Built with ThreadSanitizer, the program exits with the
// sanitizer's exit code on any report that the suppressions do not name.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

// Answers every GET on 127.0.0.1 with one small page and closes; any number
// of connections at once, served by one thread that never blocks.
class PageServer {
 public:
  PageServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        listen(listener_, 128) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    for (auto& [fd, received] : clients_) close(fd);
    close(listener_);
  }
  int port() const { return port_; }
  int answered() const { return answered_; }

 private:
  void Serve() {
    const std::string page = "<html><body>hello world</body></html>";
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
    while (!stop_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (auto& [fd, received] : clients_) fds.push_back({fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        int fd;
        while ((fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0)
          clients_[fd];
      }
      for (size_t k = 1; k < fds.size(); ++k) {
        if (!fds[k].revents) continue;
        int fd = fds[k].fd;
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        std::string& received = clients_[fd];
        if (n > 0) received.append(buffer, static_cast<size_t>(n));
        bool complete = received.find("\r\n\r\n") != std::string::npos;
        if (complete) {
          // A small reply fits in the socket's buffer: one send does it.
          send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
          ++answered_;
        }
        if (complete || n == 0 || (n < 0 && errno != EAGAIN)) {
          close(fd);
          clients_.erase(fd);
        }
      }
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> answered_{0};
  std::map<int, std::string> clients_;  // the server thread's only
  std::thread thread_;
};

std::string Alert(const std::string& text) { return "提示窗口: " + text + "\n"; }

bool SendEvent(const HomeFixture& home, const std::string& line) {
  int fd = open(home.Path("Temp/events").c_str(), O_WRONLY | O_NONBLOCK);
  if (fd < 0) return false;
  bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  return sent;
}

TEST(Stress, FiftyScriptsDoingEverythingThenSigterm) {
  constexpr int kScripts = 50;
  constexpr int kShortScripts = 10;  // these end by themselves after a few rounds
  PageServer server;
  ASSERT_NE(server.port(), 0);
  HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\neventfifo=Temp/events\r\n");
  home.WriteScript("work.qvr",
                   "<main>\nregex word {[a-z]+}\nvar [#i] 0\nwhile ([#i]<[#param])\n{\n"
                   "var [#i] ([#i]+1)\nget http://127.0.0.1:" + std::to_string(server.port()) +
                   "/page[#i]\nmatch word [#http_body]\njs [#i]*2\n"
                   "alert s[@robotid] [#i] [$word.2] [#return]\nnote [#i] [#status]\n}\n"
                   "alert done [@robotid]\nexit\n"
                   "<on_test_ping>\nalert ping [@robotid] [#window_value]\nreturn\n");
  std::string boot;
  for (int k = 1; k <= kScripts; ++k)
    boot += "w^work.qvr^" + std::string(k <= kShortScripts ? "5" : "1000000") + "\r\n";
  home.WriteBoot(boot);
  auto quorpack = home.Start();

  // Every script is under way, and the short ones have ended.
  EXPECT_TRUE(quorpack->WaitForOut(home.Path("Temp/note_" + std::to_string(kScripts) + ".txt"),
                                   60000ms))
      << quorpack->err().substr(0, 2000);
  for (int k = 1; k <= kShortScripts; ++k)
    EXPECT_TRUE(quorpack->WaitForErr(Alert("done " + std::to_string(k)), 60000ms)) << k;
  EXPECT_NE(quorpack->err().find(Alert("s1 1 hello 2")), std::string::npos)
      << quorpack->err().substr(0, 2000);

  // Events reach the running scripts' handlers while they work. One that
  // comes while the handler of the one before still runs is dropped by
  // design: it is sent again until the last script has answered it.
  for (int k = 1; k <= 5; ++k) {
    std::string answer = Alert("ping " + std::to_string(kScripts) + " " + std::to_string(k));
    bool answered = false;
    for (int attempt = 0; attempt < 40 && !answered; ++attempt) {
      ASSERT_TRUE(SendEvent(home, "test\tping\t" + std::to_string(k) + "\n"));
      answered = quorpack->WaitForErr(answer, 250ms);
    }
    EXPECT_TRUE(answered) << k;
  }
  EXPECT_NE(quorpack->err().find("提示窗口: ping "), std::string::npos);
  EXPECT_GE(server.answered(), 2 * kScripts);

  RunResult run = quorpack->Stop(SIGTERM, 60000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.find("ThreadSanitizer"), std::string::npos)
      << run.err.substr(run.err.find("ThreadSanitizer") - std::min<size_t>(run.err.find("ThreadSanitizer"), 200), 6000);
  EXPECT_EQ(run.err.find("did not stop"), std::string::npos);
  EXPECT_EQ(run.err.find("出错"), std::string::npos) << run.err.substr(0, 2000);
}

}  // namespace
}  // namespace qp::testing
