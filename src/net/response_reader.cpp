#include "net/response_reader.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "net/body_decoding.h"
#include "support/atomic_file.h"

namespace qp {
namespace {

// Reads go through a block buffer, so that the head, read byte by byte,
// costs no read call per byte.
constexpr size_t kInputBlock = 64 * 1024;
// A declared body length is trusted this far for reserving the body's
// storage, so that a lying head cannot make the client reserve memory it
// will never use.
constexpr size_t kPresizeLimit = size_t{128} << 20;
// At most this much is read into the body at once: the storage beyond the
// bytes received so far is never touched.
constexpr size_t kDirectReadStep = size_t{1} << 20;
// A compressed body is inflated from slices this small, so that no single
// step (zlib inflates at most about 1:1032) makes more than a few MiB.
constexpr size_t kInflateSlice = 4096;
constexpr size_t kFileBlock = size_t{1} << 20;

// A body of unknown length, held in pieces of anonymous memory that are
// joined once at the end. Each piece is given back to the system as soon as
// it is copied, so the join needs hardly more than the body's size, where a
// growing string would briefly need twice (or three times) that.
class BodyPieces {
 public:
  BodyPieces() = default;
  ~BodyPieces() {
    for (Piece& piece : pieces_) munmap(piece.data, piece.capacity);
  }
  BodyPieces(const BodyPieces&) = delete;
  BodyPieces& operator=(const BodyPieces&) = delete;

  size_t total() const { return total_; }

  // Room after the last byte; null when no memory could be had.
  char* Space(size_t& room) {
    if (pieces_.empty() || pieces_.back().size == pieces_.back().capacity) {
      size_t capacity = pieces_.empty() ? kInputBlock
                                        : std::min(pieces_.back().capacity * 2, kMaxPiece);
      void* data = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                        -1, 0);
      if (data == MAP_FAILED) return nullptr;
      pieces_.push_back({static_cast<char*>(data), 0, capacity});
    }
    Piece& last = pieces_.back();
    room = last.capacity - last.size;
    return last.data + last.size;
  }
  void Commit(size_t n) {
    pieces_.back().size += n;
    total_ += n;
  }
  bool Append(std::string_view bytes) {
    while (!bytes.empty()) {
      size_t room;
      char* space = Space(room);
      if (!space) return false;
      size_t n = std::min(room, bytes.size());
      std::memcpy(space, bytes.data(), n);
      Commit(n);
      bytes.remove_prefix(n);
    }
    return true;
  }
  // Appends everything to `out`, giving each piece back once copied.
  bool MoveInto(std::string& out) {
    try {
      out.reserve(out.size() + total_);
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (Piece& piece : pieces_) {
      out.append(piece.data, piece.size);
      munmap(piece.data, piece.capacity);
    }
    pieces_.clear();
    total_ = 0;
    return true;
  }

 private:
  static constexpr size_t kMaxPiece = size_t{8} << 20;
  struct Piece {
    char* data;
    size_t size;
    size_t capacity;
  };
  std::vector<Piece> pieces_;
  size_t total_ = 0;
};

}  // namespace

size_t RangeSource::Read(char* space, size_t room) {
  size_t n = std::min({room, piece_, rest_.size()});
  if (n > 0) std::memcpy(space, rest_.data(), n);
  rest_.remove_prefix(n);
  return n;
}

size_t DeclaredLength(std::string_view head) {
  std::string field = HeadField(head, "content-length");
  if (field.empty() || field.size() > 18) return 0;
  size_t length = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  return length;
}

ResponseReader::ResponseReader(ByteSource& source, const ResponseLimits& limits)
    : source_(source), limits_(limits), input_(new char[kInputBlock]) {
  if (limits_.bodyBytes == 0) limits_.bodyBytes = SIZE_MAX;
}

ResponseReader::~ResponseReader() = default;

// Makes sure unread bytes are buffered; false once the stream has ended.
bool ResponseReader::Fill() {
  if (start_ < end_) return true;
  if (ended_) return false;
  size_t n = source_.Read(input_.get(), kInputBlock);
  start_ = 0;
  end_ = n;
  ended_ = n == 0;
  return n > 0;
}

ResponseEnd ResponseReader::EndOfStream() const {
  return source_.Expired() ? ResponseEnd::kDeadline : ResponseEnd::kComplete;
}

ResponseEnd ResponseReader::ReadHead(std::string& head) {
  head.clear();
  // Non-CR bytes of the current line; the status line counts as begun.
  size_t lineBytes = 1;
  while (Fill()) {
    while (start_ < end_) {
      char c = input_[start_++];
      head += c;
      if (head.size() > limits_.headBytes) {
        std::string().swap(head);
        return ResponseEnd::kHeadTooLarge;
      }
      if (c == '\n') {
        if (lineBytes == 0) return ResponseEnd::kComplete;
        lineBytes = 0;
      } else if (c != '\r') {
        ++lineBytes;
      }
    }
  }
  ResponseEnd end = EndOfStream();
  if (end != ResponseEnd::kComplete) std::string().swap(head);
  return end;
}

ResponseEnd ResponseReader::ReadBody(std::string_view head, std::string& body) {
  std::string().swap(body);
  BodyCodings codings = CodingsOf(head);
  ResponseEnd end = codings.chunked || codings.content != BodyCodings::Content::kNone
                        ? ReadDecodedBody(head, &body, nullptr)
                        : ReadPlainBody(DeclaredLength(head), body);
  if (end != ResponseEnd::kComplete) std::string().swap(body);
  return end;
}

// A body whose length the head declares is read straight into its final
// storage: one allocation, no joining copy. Bytes beyond the declared length
// (HTTP/1.0 reads until the server closes) and bodies without a length grow
// in pieces that are joined once at the end.
ResponseEnd ResponseReader::ReadPlainBody(size_t declared, std::string& body) {
  const size_t limit = limits_.bodyBytes;
  size_t presize = std::min({declared, kPresizeLimit, limit});
  if (presize > 0) {
    try {
      body.reserve(presize);
    } catch (const std::bad_alloc&) {
      return ResponseEnd::kNoMemory;
    }
    size_t buffered = std::min(presize, end_ - start_);
    body.append(input_.get() + start_, buffered);
    start_ += buffered;
    while (body.size() < presize && start_ == end_ && !ended_) {
      size_t used = body.size();
      size_t room = std::min(presize - used, kDirectReadStep);
      body.resize(used + room);
      size_t n = source_.Read(&body[used], room);
      body.resize(used + n);
      ended_ = n == 0;
    }
    if (body.size() < presize / 2) body.shrink_to_fit();  // a length that lied
  }
  BodyPieces rest;
  while (Fill()) {
    if (!rest.Append(std::string_view(input_.get() + start_, end_ - start_)))
      return ResponseEnd::kNoMemory;
    start_ = end_;
    while (!ended_) {
      if (body.size() + rest.total() > limit) return ResponseEnd::kBodyTooLarge;
      size_t room;
      char* space = rest.Space(room);
      if (!space) return ResponseEnd::kNoMemory;
      size_t n = source_.Read(space, room);
      rest.Commit(n);
      ended_ = n == 0;
    }
  }
  if (body.size() + rest.total() > limit) return ResponseEnd::kBodyTooLarge;
  // A body that arrived to its declared length is whole, whatever cut the
  // stream after it.
  ResponseEnd end = EndOfStream();
  if (end != ResponseEnd::kComplete && (declared == 0 || body.size() + rest.total() < declared)) {
    return end;
  }
  return rest.MoveInto(body) ? ResponseEnd::kComplete : ResponseEnd::kNoMemory;
}

// A chunked or compressed body, decoded block by block into memory or into
// the file. Reading stops where the decoding ends (the last chunk, the end of
// the compressed stream, or malformed bytes).
ResponseEnd ResponseReader::ReadDecodedBody(std::string_view head, std::string* body,
                                            AtomicFileWriter* file) {
  BodyCodings codings = CodingsOf(head);
  const size_t slice =
      codings.content == BodyCodings::Content::kNone ? kInputBlock : kInflateSlice;
  BodyDecoder decoder(codings);
  BodyPieces pieces;
  std::string block;
  bool more = true;
  while (more && Fill()) {
    std::string_view in(input_.get() + start_, end_ - start_);
    start_ = end_;
    while (more && !in.empty()) {
      std::string_view part = in.substr(0, slice);
      in.remove_prefix(part.size());
      block.clear();
      more = decoder.Feed(part, block);
      if (file) {
        if (!file->Write(block)) return ResponseEnd::kFileFailed;
        continue;
      }
      if (pieces.total() + block.size() > limits_.bodyBytes) return ResponseEnd::kBodyTooLarge;
      if (!pieces.Append(block)) return ResponseEnd::kNoMemory;
    }
  }
  ended_ = true;
  // A body whole by its framing is whole, whatever cut the stream after it.
  if (more && !decoder.complete()) {
    ResponseEnd end = EndOfStream();
    if (end != ResponseEnd::kComplete) return end;
  }
  if (body && !pieces.MoveInto(*body)) return ResponseEnd::kNoMemory;
  return ResponseEnd::kComplete;
}

// The bytes already buffered, then the rest straight from the source into
// the file, in the kernel where the source can. A body that reached its
// declared length is whole, whatever cut the stream after it.
ResponseEnd ResponseReader::ReadBodyTo(std::string_view head, AtomicFileWriter& file) {
  BodyCodings codings = CodingsOf(head);
  if (codings.chunked || codings.content != BodyCodings::Content::kNone) {
    return ReadDecodedBody(head, nullptr, &file);
  }
  const size_t declared = DeclaredLength(head);
  auto finish = [&] {
    ResponseEnd end = EndOfStream();
    struct stat st;
    if (end != ResponseEnd::kComplete && declared > 0 && fstat(file.fd(), &st) == 0 &&
        static_cast<size_t>(st.st_size) >= declared) {
      return ResponseEnd::kComplete;
    }
    return end;
  };
  if (start_ < end_ && !file.Write(std::string_view(input_.get() + start_, end_ - start_))) {
    return ResponseEnd::kFileFailed;
  }
  start_ = end_;
  if (ended_) return finish();
  ended_ = true;
  switch (source_.MoveRestTo(file.fd())) {
    case ByteSource::Move::kMoved: return finish();
    case ByteSource::Move::kFileFailed: file.Fail(errno); return ResponseEnd::kFileFailed;
    case ByteSource::Move::kUnsupported: break;
  }
  std::unique_ptr<char[]> block(new char[kFileBlock]);
  for (size_t n; (n = source_.Read(block.get(), kFileBlock)) > 0;) {
    if (!file.Write(std::string_view(block.get(), n))) return ResponseEnd::kFileFailed;
  }
  return finish();
}

}  // namespace qp
