// Decoding of response bodies: the chunked transfer coding and the gzip and
// deflate content codings. Everything here works on byte ranges and growing
// output buffers, never on a socket, so the response reader feeds it block by
// block and a fuzzer can feed it any bytes at all.
//
// Malformed input never reads past the given range: a decoder keeps what it
// has produced, reports that the body ended, and ignores everything after.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qp {

// What the response head says about the body's codings.
struct BodyCodings {
  bool chunked = false;  // Transfer-Encoding names chunked
  enum class Content { kNone, kGzip, kDeflate } content = Content::kNone;
};

// Reads the Transfer-Encoding and Content-Encoding fields of a response head
// (field names in any case, line ends CR LF or LF). A content coding other
// than gzip, x-gzip or deflate, or a list of several, is left alone: such a
// body stays as received.
BodyCodings CodingsOf(std::string_view head);

// The value of the first head field called `name` (compared without case),
// without surrounding blanks; empty when absent.
std::string HeadField(std::string_view head, std::string_view name);

// Removes the chunked framing as the bytes arrive. Chunk extensions and
// trailer fields are skipped.
class ChunkDecoder {
 public:
  // Appends the data bytes of `in` to `out`. Returns false once the body has
  // ended (the last chunk, or malformed framing); later calls add nothing.
  bool Feed(std::string_view in, std::string& out);
  bool ended() const { return state_ == State::kEnded; }
  // True when the body ended with the zero-size chunk, not on an error.
  bool complete() const { return complete_; }

 private:
  enum class State { kSize, kExtension, kSizeLf, kData, kDataCr, kDataLf, kEnded };
  void Fail() { state_ = State::kEnded; }
  State state_ = State::kSize;
  size_t remaining_ = 0;  // bytes left in the current chunk
  int sizeDigits_ = 0;
  bool complete_ = false;
};

// Inflates a gzip or deflate body as the bytes arrive. "deflate" bodies come
// both with the zlib wrapper the coding names and as a bare deflate stream,
// as some servers send them; the first two bytes tell which. Concatenated
// gzip members are all decoded, wherever the pieces they arrive in end.
class Inflater {
 public:
  explicit Inflater(BodyCodings::Content coding);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Appends the decoded bytes of `in` to `out`. False once the stream has
  // ended or turned out corrupt; what was decoded before stays in `out`.
  bool Feed(std::string_view in, std::string& out);
  bool ended() const { return ended_; }
  // True right after the end of a gzip member: the body may be whole.
  bool betweenMembers() const { return memberEnded_ && memberTail_.empty(); }

 private:
  bool Start(std::string_view in);
  bool StartNextMember(std::string_view& in);
  bool Inflate(std::string_view& in, std::string& out);
  struct Stream;
  std::unique_ptr<Stream> stream_;
  BodyCodings::Content coding_;
  std::string pending_;  // the first byte of a deflate body, until its second
  std::string memberTail_;  // the first byte after a gzip member, until its second
  bool started_ = false;
  bool memberEnded_ = false;  // a gzip member has ended; another may follow
  bool ended_ = false;
};

// The whole chain over one complete body: de-chunking first, then inflating.
// A body with neither coding is returned unchanged.
std::string DecodeBody(std::string_view body, const BodyCodings& codings);

// The same chain fed block by block, for a body that arrives from a socket.
class BodyDecoder {
 public:
  explicit BodyDecoder(const BodyCodings& codings);
  // Appends the decoded bytes of `in` to `out`; false once nothing more can
  // come (the chunked framing or the compressed stream has ended).
  bool Feed(std::string_view in, std::string& out);
  // Whether what was fed so far is a whole body by its own framing (the
  // last chunk, or the end of a gzip member), even if more could follow.
  bool complete() const;

 private:
  BodyCodings codings_;
  ChunkDecoder chunks_;
  std::unique_ptr<Inflater> inflater_;
  std::string dechunked_;
};

}  // namespace qp
