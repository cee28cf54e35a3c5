// The memory a whole quorpack run needs against hostile servers and for a
// large page: its peak resident size, compared with a run that fetches a
// small page. A hostile response costs at most 64 MiB more; a large page is
// held once, and a built-in over it copies it once.
#include <gtest/gtest.h>

#include <zlib.h>

#include "app/home_fixture.h"
#include "net/loopback_server.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;

constexpr long kMiB = 1024;  // in KiB, as ru_maxrss counts

std::string GzipOfZeros(size_t size) {
  std::string zeros(size, '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, zeros.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(zeros.data());
  z.avail_in = static_cast<uInt>(zeros.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class ResponseMemory : public ::testing::Test {
 protected:
  // Runs `script` (with "URL" for the server) to its end; the run's alerts
  // and messages are in `err`.
  testing::RunResult RunScript(std::string script, const std::string& settings = "") {
    for (size_t at; (at = script.find("URL")) != std::string::npos;)
      script.replace(at, 3, "http://127.0.0.1:" + std::to_string(server.port()));
    testing::HomeFixture home;
    home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\nui=console\r\n" + settings);
    home.WriteBoot("m^m.qvr^\r\n");
    home.WriteScript("m.qvr", "<main>\r\n" + script);
    testing::RunResult result = home.Run({}, std::chrono::seconds(60));
    EXPECT_FALSE(result.timedOut);
    EXPECT_GT(result.peakKiB, 0);
    return result;
  }
  long Baseline() {
    reply = {{"HTTP/1.0 200 OK\r\n\r\nsmall page"}};
    testing::RunResult small = RunScript("get URL/\r\nalert [#status] [#http_body]\r\n");
    EXPECT_NE(small.err.find("1 small page"), std::string::npos) << small.err;
    return small.peakKiB;
  }

  std::vector<ReplyPart> reply;
  LoopbackServer server{[this](const std::string&) { return reply; }};
};

// Peak memory is measured in the normal build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST_F(ResponseMemory, HostileResponsesCostLessThan64MiB) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory and quarantine make peak sizes meaningless";
  const long baseline = Baseline();
  std::string fields;
  while (fields.size() < (2u << 20)) fields += "X-Filler: 0123456789abcdef\r\n";
  const std::string block(64 * 1024, 'e');
  struct Case {
    const char* name;
    std::vector<ReplyPart> reply;
  } cases[] = {
      {"a head of 2 MiB", {{"HTTP/1.0 200 OK\r\n" + fields + "\r\nbody"}}},
      {"a head that never ends", {{"HTTP/1.0 200 OK\r\n"}, {block, 0, 16384}}},
      {"an endless body", {{"HTTP/1.0 200 OK\r\n\r\n"}, {block, 0, 16384}}},
      {"a body that lies about its length",
       {{"HTTP/1.0 200 OK\r\nContent-Length: 100000000000\r\n\r\n"}, {block, 0, 16384}}},
      {"an endless gzip stream",
       {{"HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + GzipOfZeros(size_t{256} << 20)}}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    reply = c.reply;
    testing::RunResult run = RunScript("get URL/\r\nalert status=[#status]\r\n", "bodylimit=16\r\n");
    EXPECT_NE(run.err.find("status=0"), std::string::npos) << run.err;
    EXPECT_LT(run.peakKiB - baseline, 64 * kMiB) << "peak " << run.peakKiB << " KiB, baseline "
                                                 << baseline << " KiB";
    std::printf("%s: peak %ld KiB, %ld KiB above a small page\n", c.name, run.peakKiB,
                run.peakKiB - baseline);
  }
}

// A 64 MiB page: held once in [#http_body] (plus its converted form while a
// charset is converted), and one copy more while a built-in reads it; with
// or without a declared length.
TEST_F(ResponseMemory, LargePageIsHeldOnceAndCopiedOnceByABuiltIn) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory and quarantine make peak sizes meaningless";
  const long baseline = Baseline();
  const size_t size = size_t{64} << 20;
  // Markup, so that the substitution's record of inserted bytes is needed.
  std::string page;
  page.reserve(size);
  while (page.size() < size) page += "<p>0123456789abcdef</p>\n";
  page.resize(size);
  for (std::string head : {std::string("HTTP/1.0 200 OK\r\n\r\n"),
                           "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n",
                           std::string("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=gbk\r\n\r\n")}) {
    SCOPED_TRACE(head);
    reply = {{head + page}};
    testing::RunResult held = RunScript("get URL/\r\nalert status=[#status]\r\n");
    EXPECT_NE(held.err.find("status=1"), std::string::npos) << held.err;
    testing::RunResult measured =
        RunScript("get URL/\r\nvar [#n] [@len<<<[#http_body]]\r\nalert n=[#n]\r\n");
    EXPECT_NE(measured.err.find("n=" + std::to_string(size)), std::string::npos) << measured.err;
    long heldMiB = (held.peakKiB - baseline) / kMiB;
    long measuredMiB = (measured.peakKiB - baseline) / kMiB;
    std::printf("64 MiB page: %ld MiB held, %ld MiB with [@len<<<[#http_body]]\n", heldMiB,
                measuredMiB);
    // A page in another charset is held twice while it is converted.
    long copies = head.find("charset") != std::string::npos ? 2 : 1;
    EXPECT_LT(heldMiB, copies * 64 + 64 / 2) << "the page is held once, plus its conversion";
    EXPECT_LT(measuredMiB, 2 * 64 + 64 / 2) << "a built-in copies it once";
  }
}

}  // namespace
}  // namespace qp
