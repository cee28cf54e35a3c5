// The response reader on byte ranges: heads and bodies in every split a
// socket could produce, and the bounds on head and body size and on time.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <string>

#include "net/compress_text.h"
#include "net/loopback_server.h"
#include "net/response_reader.h"
#include "support/atomic_file.h"

namespace qp {
namespace {

using qp::testing::Compress;
using qp::testing::Gzip;


struct Read {
  ResponseEnd headEnd;
  ResponseEnd bodyEnd;
  std::string head;
  std::string body;
};

Read ReadAll(ByteSource& source, ResponseLimits limits = {}) {
  ResponseReader reader(source, limits);
  Read out;
  out.headEnd = reader.ReadHead(out.head);
  out.bodyEnd = out.headEnd == ResponseEnd::kComplete ? reader.ReadBody(out.head, out.body)
                                                      : out.headEnd;
  return out;
}

Read ReadRange(const std::string& bytes, size_t piece, ResponseLimits limits = {}) {
  RangeSource source(bytes, piece);
  return ReadAll(source, limits);
}

// A source that hands out its bytes and then ends as a passed deadline does.
class ExpiringSource : public ByteSource {
 public:
  explicit ExpiringSource(std::string bytes) : bytes_(std::move(bytes)), range_(bytes_, 3) {}
  size_t Read(char* space, size_t room) override {
    size_t n = range_.Read(space, room);
    expired_ = n == 0;
    return n;
  }
  bool Expired() const override { return expired_; }

 private:
  std::string bytes_;
  RangeSource range_;
  bool expired_ = false;
};

TEST(ResponseReader, EverySplitOfTheBytesReadsTheSame) {
  const std::string text = std::string(70000, 'x') + "end";
  std::string chunked;
  for (size_t i = 0; i < text.size(); i += 4096) {
    std::string part = text.substr(i, 4096);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    chunked += size + part + "\r\n";
  }
  chunked += "0\r\n\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::string head;
    std::string body;
  } cases[] = {
      {"plain", "HTTP/1.0 200 OK\r\nA: b\r\n\r\n" + text, "HTTP/1.0 200 OK\r\nA: b\r\n\r\n", text},
      {"declared length", "HTTP/1.0 200 OK\r\nContent-Length: 70003\r\n\r\n" + text,
       "HTTP/1.0 200 OK\r\nContent-Length: 70003\r\n\r\n", text},
      {"more than declared", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n" + text,
       "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n", text},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked + "after",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", text},
      {"gzip", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + Gzip(text),
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n", text},
      {"bare LF head", "\n\nbody", "\n\n", "body"},
      {"no blank line", "HTTP/1.0 200 OK\r\nA: b\r\n", "HTTP/1.0 200 OK\r\nA: b\r\n", ""},
      {"nothing", "", "", ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, SIZE_MAX}) {
      if (piece == 1 && c.bytes.size() > 20000) continue;  // a byte at a time is slow
      SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
      Read read = ReadRange(c.bytes, piece);
      EXPECT_EQ(read.headEnd, ResponseEnd::kComplete);
      EXPECT_EQ(read.bodyEnd, ResponseEnd::kComplete);
      EXPECT_EQ(read.head, c.head);
      EXPECT_TRUE(read.body == c.body) << read.body.size() << " bytes";
    }
  }
}

TEST(ResponseReader, HeadUpToTheLimitIsReadAndOneByteMoreFails) {
  const std::string start = "HTTP/1.0 200 OK\r\nX: ";
  std::string exact = start + std::string(kHeadLimitBytes - start.size() - 4, 'h') + "\r\n\r\n";
  ASSERT_EQ(exact.size(), kHeadLimitBytes);
  Read read = ReadRange(exact + "body", SIZE_MAX);
  EXPECT_EQ(read.headEnd, ResponseEnd::kComplete);
  EXPECT_EQ(read.head.size(), kHeadLimitBytes);
  EXPECT_EQ(read.body, "body");

  std::string over = start + std::string(kHeadLimitBytes - start.size() - 3, 'h') + "\r\n\r\n";
  read = ReadRange(over + "body", 4096);
  EXPECT_EQ(read.headEnd, ResponseEnd::kHeadTooLarge);
  EXPECT_EQ(read.head, "");
  // A head that never ends fails at the same place: many short lines too.
  std::string lines;
  while (lines.size() < 2 * kHeadLimitBytes) lines += "X-Filler: 0123456789\r\n";
  read = ReadRange("HTTP/1.0 200 OK\r\n" + lines, 65536);
  EXPECT_EQ(read.headEnd, ResponseEnd::kHeadTooLarge);
  EXPECT_EQ(read.head, "");
}

TEST(ResponseReader, BodyLimitCountsTheDecodedBytesHeldInMemory) {
  const std::string limit1000 = std::string(1000, 'b');
  ResponseLimits limits;
  limits.bodyBytes = 1000;
  struct Case {
    const char* name;
    std::string head;
    std::string body;
    ResponseEnd end;
  } cases[] = {
      {"plain at the limit", "HTTP/1.0 200 OK\r\n\r\n", limit1000, ResponseEnd::kComplete},
      {"plain over it", "HTTP/1.0 200 OK\r\n\r\n", limit1000 + "b", ResponseEnd::kBodyTooLarge},
      {"declared at the limit", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n", limit1000,
       ResponseEnd::kComplete},
      {"declared, then more", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n",
       limit1000 + "b", ResponseEnd::kBodyTooLarge},
      {"declared larger than the limit", "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n",
       std::string(5000, 'b'), ResponseEnd::kBodyTooLarge},
      {"chunked over it", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
       "3e9\r\n" + limit1000 + "b\r\n0\r\n\r\n", ResponseEnd::kBodyTooLarge},
      {"gzip at the limit", "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n", Gzip(limit1000),
       ResponseEnd::kComplete},
      {"gzip over it", "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n",
       Gzip(limit1000 + "b"), ResponseEnd::kBodyTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Read read = ReadRange(c.head + c.body, 100, limits);
    EXPECT_EQ(read.bodyEnd, c.end);
    EXPECT_EQ(read.head, c.head);
    if (c.end == ResponseEnd::kComplete) EXPECT_EQ(read.body, limit1000);
    else EXPECT_EQ(read.body, "");
  }
}

TEST(ResponseReader, CompressionBombStopsAtTheLimit) {
  // 256 MiB of zeros compress to about 250 KB.
  std::string zeros(size_t{256} << 20, '\0');
  std::string bomb = Gzip(zeros);
  std::string().swap(zeros);
  ASSERT_LT(bomb.size(), 1u << 20);
  ResponseLimits limits;
  limits.bodyBytes = size_t{4} << 20;
  Read read = ReadRange("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + bomb, SIZE_MAX,
                        limits);
  EXPECT_EQ(read.bodyEnd, ResponseEnd::kBodyTooLarge);
  EXPECT_EQ(read.body, "");
}

TEST(ResponseReader, DeadlineFailsAnUnfinishedHeadOrBody) {
  ExpiringSource inHead("HTTP/1.0 200 OK\r\nX: a");
  Read read = ReadAll(inHead);
  EXPECT_EQ(read.headEnd, ResponseEnd::kDeadline);
  EXPECT_EQ(read.head, "");

  ExpiringSource inBody("HTTP/1.0 200 OK\r\n\r\npart of it");
  read = ReadAll(inBody);
  EXPECT_EQ(read.headEnd, ResponseEnd::kComplete);
  EXPECT_EQ(read.bodyEnd, ResponseEnd::kDeadline);
  EXPECT_EQ(read.head, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(read.body, "");

  // A body whole by its framing or its declared length is whole, whatever
  // cut the stream afterwards (a server that keeps the connection open).
  const struct {
    const char* name;
    std::string bytes;
  } whole[] = {
      {"last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n"},
      {"end of a gzip member", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + Gzip("ok")},
      {"declared length", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"},
  };
  for (const auto& c : whole) {
    ExpiringSource source(c.bytes);
    read = ReadAll(source);
    EXPECT_EQ(read.bodyEnd, ResponseEnd::kComplete) << c.name;
    EXPECT_EQ(read.body, "ok") << c.name;
  }
  ExpiringSource shortOfLength("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nok");
  EXPECT_EQ(ReadAll(shortOfLength).bodyEnd, ResponseEnd::kDeadline);
}

TEST(ResponseReader, BodyToFileIsDecodedAndUnbounded) {
  testing::TempDir dir;
  const std::string path = dir.File("page.bin");
  const std::string text(3 << 20, 'z');
  for (std::string head : {std::string("HTTP/1.0 200 OK\r\n\r\n"),
                           std::string("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n")}) {
    SCOPED_TRACE(head);
    std::string bytes = head + (head.find("gzip") != std::string::npos ? Gzip(text) : text);
    RangeSource source(bytes, 65536);
    ResponseLimits limits;
    limits.bodyBytes = 1000;  // applies to memory only
    ResponseReader reader(source, limits);
    std::string readHead;
    ASSERT_EQ(reader.ReadHead(readHead), ResponseEnd::kComplete);
    AtomicFileWriter file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(reader.ReadBodyTo(readHead, file), ResponseEnd::kComplete);
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(dir.Read("page.bin") == text);
  }
}

}  // namespace
}  // namespace qp
