// Reading an HTTP response from a stream of bytes: the head up to the blank
// line that closes it, then the body, de-chunked and inflated as the head
// says (body_decoding.h), into memory or into a file. The bytes come from a
// ByteSource: the connection of a request is one (http_session.cpp), a byte
// range another, so that tests and fuzzers read responses without a socket.
//
// The reader bounds what a server can make it hold: a head larger than
// ResponseLimits::headBytes, or a body in memory larger than bodyBytes, ends
// the reading with an outcome that fails the request. A body that goes to a
// file has no bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qp {

class AtomicFileWriter;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `room` bytes into `space`; how many came, 0 once the stream has
  // ended (closed, failed, a read time-out, or the deadline passed). Once it
  // has returned 0 it keeps returning 0.
  virtual size_t Read(char* space, size_t room) = 0;
  // True when the stream ended because the request's deadline passed.
  virtual bool Expired() const { return false; }
  // What MoveRestTo did.
  enum class Move { kUnsupported, kMoved, kFileFailed };
  // Moves the rest of the stream straight into file `fd`, without passing
  // it through the program, where the source can (a plain socket). After
  // kMoved the stream has ended (Expired tells whether by the deadline);
  // after kFileFailed the file took no more (errno says why).
  virtual Move MoveRestTo(int fd) {
    (void)fd;
    return Move::kUnsupported;
  }
};

// A byte range as a source, handed out in pieces of at most `piece` bytes
// (every piece boundary is a place where a socket read could have ended).
class RangeSource : public ByteSource {
 public:
  explicit RangeSource(std::string_view bytes, size_t piece = SIZE_MAX)
      : rest_(bytes), piece_(piece == 0 ? 1 : piece) {}
  size_t Read(char* space, size_t room) override;

 private:
  std::string_view rest_;
  size_t piece_;
};

// A head larger than this fails the request.
inline constexpr size_t kHeadLimitBytes = size_t{1} << 20;

struct ResponseLimits {
  size_t headBytes = kHeadLimitBytes;
  size_t bodyBytes = 0;  // of a body held in memory; 0: no bound
};

// How the reading of a response ended.
enum class ResponseEnd {
  kComplete,      // at the end of the stream or of the body's coding
  kHeadTooLarge,  // the head passed ResponseLimits::headBytes
  kBodyTooLarge,  // the body in memory passed ResponseLimits::bodyBytes
  kNoMemory,      // no memory could be had for the body
  kDeadline,      // the request's deadline passed
  kFileFailed,    // the save-to file took no more (its errno is kept)
};

class ResponseReader {
 public:
  ResponseReader(ByteSource& source, const ResponseLimits& limits);
  ~ResponseReader();
  ResponseReader(const ResponseReader&) = delete;
  ResponseReader& operator=(const ResponseReader&) = delete;

  // The status line and head fields, with their line ends and the blank
  // line that closes them. The status line never closes the head, so a
  // response that starts with "\n\n" has a two-byte head. An incomplete
  // head (the stream ended first) is complete as far as it goes.
  ResponseEnd ReadHead(std::string& head);
  // The body into `body` (decoded as `head` says), up to the end of the
  // stream or of its coding. On any outcome but kComplete `body` is empty.
  ResponseEnd ReadBody(std::string_view head, std::string& body);
  // The same into a file; no bound on the size.
  ResponseEnd ReadBodyTo(std::string_view head, AtomicFileWriter& file);

 private:
  bool Fill();
  ResponseEnd EndOfStream() const;
  ResponseEnd ReadPlainBody(size_t declared, std::string& body);
  ResponseEnd ReadDecodedBody(std::string_view head, std::string* body, AtomicFileWriter* file);

  ByteSource& source_;
  ResponseLimits limits_;
  std::unique_ptr<char[]> input_;
  size_t start_ = 0;  // the unread bytes of input_
  size_t end_ = 0;
  bool ended_ = false;
};

// The Content-Length of a head; 0 when absent or not a plain number.
size_t DeclaredLength(std::string_view head);

}  // namespace qp
