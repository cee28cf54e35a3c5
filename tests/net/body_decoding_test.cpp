#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "net/compress_text.h"
#include "net/body_decoding.h"

namespace qp {
namespace {

using qp::testing::Compress;
using qp::testing::Gzip;

using Content = BodyCodings::Content;

// Compresses with zlib: windowBits 15+16 gives gzip, 15 the zlib wrapper of
// "deflate", -15 a bare deflate stream.

std::string Chunk(const std::string& data, size_t piece) {
  std::string out;
  char size[32];
  for (size_t i = 0; i < data.size(); i += piece) {
    std::string part = data.substr(i, piece);
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    out += size + part + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// Text long and varied enough that compressed blocks span many reads.
std::string SampleText() {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
  return text;
}

// Feeds `body` in pieces of `step` bytes, as reads from a socket would.
std::string FeedInSteps(const std::string& body, const BodyCodings& codings, size_t step) {
  BodyDecoder decoder(codings);
  std::string out;
  for (size_t i = 0; i < body.size(); i += step) {
    if (!decoder.Feed(std::string_view(body).substr(i, step), out)) break;
  }
  return out;
}

TEST(BodyDecoding, HeadFieldsNameTheCodings) {
  struct Case {
    const char* head;
    bool chunked;
    Content content;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true, Content::kNone},
      {"HTTP/1.1 200 OK\nCONTENT-ENCODING:  GZIP \n\n", false, Content::kGzip},
      {"HTTP/1.1 200 OK\r\ncontent-encoding: x-gzip\r\n\r\n", false, Content::kGzip},
      {"HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\ntransfer-encoding: gzip, chunked\r\n\r\n",
       true, Content::kDeflate},
      {"HTTP/1.1 200 OK\r\nContent-Encoding: br\r\n\r\n", false, Content::kNone},
      {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip, br\r\n\r\n", false, Content::kNone},
      {"HTTP/1.1 200 OK\r\nX-Content-Encoding: gzip\r\n\r\n", false, Content::kNone},
      {"Content-Encoding: gzip\r\n\r\n", false, Content::kNone},  // a status line, not a field
  };
  for (const Case& c : cases) {
    BodyCodings codings = CodingsOf(c.head);
    EXPECT_EQ(codings.chunked, c.chunked) << c.head;
    EXPECT_EQ(codings.content, c.content) << c.head;
  }
}

TEST(BodyDecoding, ChunkedBodies) {
  struct Case {
    const char* name;
    std::string body;
    std::string expected;
    bool complete;
  } cases[] = {
      {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", true},
      {"hex sizes in any case, extension", "A;name=v\r\n0123456789\r\na\r\nabcdefghij\r\n0\r\n\r\n",
       "0123456789abcdefghij", true},
      {"bare line feeds", "3\nabc\n0\n\n", "abc", true},
      {"trailer and bytes after the end are ignored", "2\r\nok\r\n0\r\nX-T: 1\r\n\r\nGARBAGE", "ok",
       true},
      {"a size that is no number keeps what came", "3\r\nabc\r\nzz\r\nmore\r\n", "abc", false},
      {"data longer than its size", "2\r\nabc\r\n0\r\n\r\n", "ab", false},
      {"cut in the middle of a chunk", "a\r\nabc", "abc", false},
      {"a size past any buffer", "ffffffffffffffffff\r\nx", "", false},
      {"huge size, short data", "7fffffff\r\nxyz", "xyz", false},
      {"empty body", "", "", false},
  };
  for (const Case& c : cases) {
    for (size_t step : {size_t{1}, size_t{3}, size_t{4096}}) {
      ChunkDecoder decoder;
      std::string out;
      for (size_t i = 0; i < c.body.size(); i += step) {
        if (!decoder.Feed(std::string_view(c.body).substr(i, step), out)) break;
      }
      EXPECT_EQ(out, c.expected) << c.name << " step " << step;
      EXPECT_EQ(decoder.complete(), c.complete) << c.name << " step " << step;
    }
  }
}

TEST(BodyDecoding, GzipAndDeflateWithAndWithoutTheZlibWrapper) {
  const std::string text = SampleText();
  struct Case {
    const char* name;
    int windowBits;
    Content content;
  } cases[] = {
      {"gzip", 15 + 16, Content::kGzip},
      {"deflate (zlib wrapper)", 15, Content::kDeflate},
      {"deflate (bare stream)", -15, Content::kDeflate},
  };
  for (const Case& c : cases) {
    std::string body = Compress(text, c.windowBits);
    BodyCodings codings;
    codings.content = c.content;
    EXPECT_EQ(DecodeBody(body, codings), text) << c.name;
    for (size_t step : {size_t{1}, size_t{777}}) {
      EXPECT_EQ(FeedInSteps(body, codings, step), text) << c.name << " step " << step;
    }
  }
}

TEST(BodyDecoding, ChunkedAndGzippedTogether) {
  const std::string text = SampleText();
  BodyCodings codings;
  codings.chunked = true;
  codings.content = Content::kGzip;
  std::string body = Chunk(Compress(text, 15 + 16), 1000);
  EXPECT_EQ(DecodeBody(body, codings), text);
  EXPECT_EQ(FeedInSteps(body, codings, 333), text);
}

TEST(BodyDecoding, TwoGzipMembersBothCount) {
  BodyCodings codings;
  codings.content = Content::kGzip;
  EXPECT_EQ(DecodeBody(Compress("first ", 31) + Compress("second", 31), codings), "first second");
}

// Found by fuzzing: a member that ended exactly where a piece ended (or one
// byte before) made the next member count as trailing garbage. Every split of
// the body now decodes the same; what follows the last member still ends it.
TEST(BodyDecoding, GzipMembersDecodeTheSameWhereverThePiecesEnd) {
  BodyCodings codings;
  codings.content = Content::kGzip;
  const std::string first = Compress("first ", 31);
  const std::string body = first + Compress("second", 31) + Compress("third", 31);
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    for (size_t second = cut; second <= body.size(); second += 7) {
      BodyDecoder decoder(codings);
      std::string out;
      std::string_view all = body;
      decoder.Feed(all.substr(0, cut), out);
      decoder.Feed(all.substr(cut, second - cut), out);
      decoder.Feed(all.substr(second), out);
      ASSERT_EQ(out, "first secondthird") << "pieces end at " << cut << " and " << second;
    }
  }
  BodyDecoder decoder(codings);
  std::string out;
  EXPECT_TRUE(decoder.Feed(first, out));
  EXPECT_TRUE(decoder.complete()) << "a member has ended: the body may be whole";
  EXPECT_TRUE(decoder.Feed("\x1f", out));
  EXPECT_FALSE(decoder.complete()) << "half the start of another";
  EXPECT_FALSE(decoder.Feed("x trailing", out));
  EXPECT_EQ(out, "first ");
}

TEST(BodyDecoding, CorruptOrCutStreamsKeepWhatWasDecoded) {
  const std::string text = SampleText();
  BodyCodings codings;
  codings.content = Content::kGzip;
  std::string body = Compress(text, 31);
  std::string cut = DecodeBody(body.substr(0, body.size() / 2), codings);
  EXPECT_FALSE(cut.empty());
  EXPECT_EQ(text.compare(0, cut.size(), cut), 0) << "a cut stream gives a prefix";
  std::string damaged = body;
  damaged[damaged.size() / 2] ^= 0x55;
  damaged[damaged.size() / 2 + 1] ^= 0x55;
  std::string out = DecodeBody(damaged, codings);
  EXPECT_LE(out.size(), text.size() + 65536);
  EXPECT_EQ(DecodeBody("not compressed at all", codings), "");
  codings.content = Content::kDeflate;
  EXPECT_EQ(DecodeBody("x", codings), "") << "one byte never starts a stream";
  EXPECT_EQ(DecodeBody("", codings), "");
}

// Damaged bodies in many shapes: the decoders never read past what they are
// given (the sanitizer builds check that), de-chunking never makes a body
// longer, and every body ends.
TEST(BodyDecoding, DamagedBodiesStayWithinTheirBounds) {
  const std::string text = SampleText().substr(0, 20000);
  const std::string gzipped = Compress(text, 31);
  const std::string chunked = Chunk(gzipped, 300);
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  BodyCodings both;
  both.chunked = true;
  both.content = Content::kGzip;
  BodyCodings chunkedOnly;
  chunkedOnly.chunked = true;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = chunked;
    for (int flips = 1 + next() % 4; flips > 0; --flips) {
      damaged[next() % damaged.size()] = static_cast<char>(next() >> 8);
    }
    damaged.resize(next() % (damaged.size() + 1));
    std::string dechunked = DecodeBody(damaged, chunkedOnly);
    EXPECT_LE(dechunked.size(), damaged.size()) << "round " << round;
    std::string decoded = FeedInSteps(damaged, both, 1 + next() % 500);
    EXPECT_LE(decoded.size(), text.size() + 65536) << "round " << round;
  }
}

TEST(BodyDecoding, NoCodingLeavesTheBodyAlone) {
  EXPECT_EQ(DecodeBody("5\r\nhello\r\n0\r\n\r\n", BodyCodings()), "5\r\nhello\r\n0\r\n\r\n");
}

}  // namespace
}  // namespace qp
