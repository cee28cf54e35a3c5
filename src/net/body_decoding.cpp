#include "net/body_decoding.h"

#include <zlib.h>

#include <algorithm>

#include "support/text.h"

namespace qp {
namespace {

constexpr size_t kInflateStep = 64 * 1024;
// More hex digits than this would overflow the chunk size.
constexpr int kMaxSizeDigits = 15;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// A zlib header: compression method 8, a window of at most 32 KB, and a
// check value that makes the first two bytes a multiple of 31.
bool IsZlibHeader(unsigned char first, unsigned char second) {
  return (first & 0x0F) == 8 && (first >> 4) <= 7 && ((first << 8) | second) % 31 == 0;
}

}  // namespace

std::string HeadField(std::string_view head, std::string_view name) {
  std::string wanted = LowerAscii(name);
  size_t position = head.find('\n');  // the status line is no field
  while (position != std::string_view::npos && position < head.size()) {
    size_t start = position + 1;
    size_t end = head.find('\n', start);
    std::string_view line = head.substr(start, end == std::string_view::npos ? end : end - start);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && LowerAscii(Trim(line.substr(0, colon))) == wanted) {
      return std::string(Trim(line.substr(colon + 1)));
    }
    position = end;
  }
  return std::string();
}

BodyCodings CodingsOf(std::string_view head) {
  BodyCodings codings;
  std::string transfer = LowerAscii(HeadField(head, "transfer-encoding"));
  codings.chunked = transfer.find("chunked") != std::string::npos;
  std::string content = LowerAscii(HeadField(head, "content-encoding"));
  if (content == "gzip" || content == "x-gzip") codings.content = BodyCodings::Content::kGzip;
  if (content == "deflate") codings.content = BodyCodings::Content::kDeflate;
  return codings;
}

// ---- Chunked framing -------------------------------------------------------

bool ChunkDecoder::Feed(std::string_view in, std::string& out) {
  size_t i = 0;
  while (i < in.size() && state_ != State::kEnded) {
    char c = in[i];
    switch (state_) {
      case State::kSize: {
        int digit = HexValue(c);
        if (digit >= 0) {
          if (++sizeDigits_ > kMaxSizeDigits) return Fail(), false;
          remaining_ = remaining_ * 16 + static_cast<size_t>(digit);
        } else if (sizeDigits_ == 0) {
          return Fail(), false;
        } else if (c == ';' || c == ' ' || c == '\t') {
          state_ = State::kExtension;
        } else if (c == '\r') {
          state_ = State::kSizeLf;
        } else if (c == '\n') {
          state_ = State::kSizeLf;
          continue;  // the same byte ends the line below
        } else {
          return Fail(), false;
        }
        ++i;
        break;
      }
      case State::kExtension:
        if (c == '\n') {
          state_ = State::kSizeLf;
          continue;
        }
        ++i;
        break;
      case State::kSizeLf:
        if (c != '\n') return Fail(), false;
        ++i;
        sizeDigits_ = 0;
        if (remaining_ == 0) {  // the last chunk; trailer fields are not kept
          complete_ = true;
          state_ = State::kEnded;
        } else {
          state_ = State::kData;
        }
        break;
      case State::kData: {
        size_t take = std::min(remaining_, in.size() - i);
        out.append(in.data() + i, take);
        i += take;
        remaining_ -= take;
        if (remaining_ == 0) state_ = State::kDataCr;
        break;
      }
      case State::kDataCr:
        if (c == '\r') {
          state_ = State::kDataLf;
        } else if (c == '\n') {
          state_ = State::kSize;
        } else {
          return Fail(), false;
        }
        ++i;
        break;
      case State::kDataLf:
        if (c != '\n') return Fail(), false;
        state_ = State::kSize;
        ++i;
        break;
      case State::kEnded:
        break;
    }
  }
  return state_ != State::kEnded;
}

// ---- Compressed bodies -----------------------------------------------------

struct Inflater::Stream {
  z_stream z{};
  bool open = false;
  ~Stream() {
    if (open) inflateEnd(&z);
  }
};

Inflater::Inflater(BodyCodings::Content coding) : stream_(new Stream), coding_(coding) {}

Inflater::~Inflater() = default;

bool Inflater::Start(std::string_view in) {
  int windowBits = MAX_WBITS + 16;  // gzip wrapper
  if (coding_ == BodyCodings::Content::kDeflate) {
    windowBits = IsZlibHeader(static_cast<unsigned char>(in[0]), static_cast<unsigned char>(in[1]))
                     ? MAX_WBITS
                     : -MAX_WBITS;
  }
  stream_->open = inflateInit2(&stream_->z, windowBits) == Z_OK;
  started_ = true;
  return stream_->open;
}

// After the end of a gzip member only another member may follow, told by
// its first two bytes, which may arrive in separate pieces. False when
// something else follows (it is ignored and the body has ended); true with
// the stream reset for the next member, or with a lone first byte kept.
bool Inflater::StartNextMember(std::string_view& in) {
  unsigned char first, second;
  if (memberTail_.empty()) {
    if (in.size() < 2) {
      memberTail_.assign(in);
      in = std::string_view();
      return true;
    }
    first = static_cast<unsigned char>(in[0]);
    second = static_cast<unsigned char>(in[1]);
  } else {
    first = static_cast<unsigned char>(memberTail_[0]);
    second = static_cast<unsigned char>(in[0]);
  }
  if (first != 0x1F || second != 0x8B || inflateReset(&stream_->z) != Z_OK) return false;
  memberEnded_ = false;
  return true;
}

bool Inflater::Feed(std::string_view in, std::string& out) {
  while (!ended_ && !in.empty()) {
    if (memberEnded_) {
      if (!StartNextMember(in)) return ended_ = true, false;
      if (memberEnded_) return true;  // a lone first byte
      if (!memberTail_.empty()) {
        std::string tail;
        tail.swap(memberTail_);
        std::string_view one = tail;
        if (!Inflate(one, out)) return false;  // one byte ends no member
      }
      continue;
    }
    if (!started_) {
      // A deflate body needs two bytes to tell its wrapper; keep a lone first one.
      if (coding_ == BodyCodings::Content::kDeflate && pending_.size() + in.size() < 2) {
        pending_.append(in);
        return true;
      }
      std::string first;
      first.swap(pending_);
      if (!Start(first.empty() ? in : first + std::string(in.substr(0, 1))))
        return ended_ = true, false;
      std::string_view head = first;
      if (!first.empty() && !Inflate(head, out)) return false;
      if (memberEnded_) continue;  // cannot happen after one byte, but is handled
    }
    if (!Inflate(in, out)) return false;
  }
  return !ended_;
}

// Inflates `in` into `out` until the input is used up or a gzip member ends;
// `in` keeps what follows the end of a member. False once the stream has
// ended or is corrupt.
bool Inflater::Inflate(std::string_view& in, std::string& out) {
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  for (;;) {
    size_t used = out.size();
    size_t room = std::max(kInflateStep, static_cast<size_t>(z.avail_in) * 4);
    out.resize(used + room);
    z.next_out = reinterpret_cast<Bytef*>(&out[used]);
    z.avail_out = static_cast<uInt>(room);
    int result = inflate(&z, Z_NO_FLUSH);
    out.resize(used + room - z.avail_out);
    if (result == Z_STREAM_END) {
      // Another gzip member may follow, in this piece or a later one.
      if (coding_ != BodyCodings::Content::kGzip) return ended_ = true, false;
      in = in.substr(in.size() - z.avail_in);
      memberEnded_ = true;
      return true;
    }
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;  // needs more input
    if (result != Z_OK) return ended_ = true, false;     // corrupt: keep what came
    if (z.avail_in == 0 && z.avail_out != 0) break;
  }
  in = std::string_view();
  return true;
}

// ---- The chain -------------------------------------------------------------

BodyDecoder::BodyDecoder(const BodyCodings& codings) : codings_(codings) {
  if (codings.content != BodyCodings::Content::kNone) {
    inflater_ = std::make_unique<Inflater>(codings.content);
  }
}

bool BodyDecoder::Feed(std::string_view in, std::string& out) {
  bool more = true;
  if (codings_.chunked) {
    if (!inflater_) return chunks_.Feed(in, out);
    dechunked_.clear();
    more = chunks_.Feed(in, dechunked_);
    in = dechunked_;
  }
  if (!inflater_) {
    out.append(in);
    return more;
  }
  bool inflating = inflater_->Feed(in, out);
  return more && inflating;
}

bool BodyDecoder::complete() const {
  if (codings_.chunked) return chunks_.complete();
  return inflater_ && inflater_->betweenMembers();
}

std::string DecodeBody(std::string_view body, const BodyCodings& codings) {
  if (!codings.chunked && codings.content == BodyCodings::Content::kNone) {
    return std::string(body);
  }
  std::string out;
  BodyDecoder decoder(codings);
  decoder.Feed(body, out);
  return out;
}

}  // namespace qp
