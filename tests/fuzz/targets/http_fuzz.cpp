// Fuzz target: an HTTP response as a server could send it, read by the
// response reader from a byte range (no socket) and decoded as a script
// would see it: head, chunked or compressed body, and the conversion of its
// declared charset into the code page.
//
// Input: one control byte, then the response bytes. The control byte's low
// three bits choose the size of the pieces the bytes arrive in (as single
// socket reads would end), bit 3 the code page (GBK or UTF-8).
//
// Besides not crashing, the reader must not depend on how the bytes were
// split: the same response read in one piece gives the same outcome, head
// and body, and no head or body passes its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/body_decoding.h"
#include "net/page_charset.h"
#include "net/response_reader.h"
#include "support/codepage.h"

namespace {

// Small enough that a compression bomb in a short input stops quickly.
constexpr size_t kFuzzBodyLimit = size_t{8} << 20;

struct Reading {
  qp::ResponseEnd headEnd;
  qp::ResponseEnd bodyEnd = qp::ResponseEnd::kComplete;
  std::string head;
  std::string body;
};

Reading ReadAll(std::string_view bytes, size_t piece) {
  qp::RangeSource source(bytes, piece);
  qp::ResponseLimits limits;
  limits.bodyBytes = kFuzzBodyLimit;
  qp::ResponseReader reader(source, limits);
  Reading out;
  out.headEnd = reader.ReadHead(out.head);
  if (out.headEnd == qp::ResponseEnd::kComplete) out.bodyEnd = reader.ReadBody(out.head, out.body);
  return out;
}

}  // namespace

int qp_fuzz_http(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const size_t kPieces[] = {1, 2, 3, 7, 64, 511, 4096, SIZE_MAX};
  const uint8_t control = data[0];
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  Reading split = ReadAll(bytes, kPieces[control & 7]);
  Reading whole = ReadAll(bytes, SIZE_MAX);
  if (split.headEnd != whole.headEnd || split.bodyEnd != whole.bodyEnd ||
      split.head != whole.head || split.body != whole.body) {
    std::abort();  // the outcome depends on where reads ended
  }
  if (split.head.size() > qp::kHeadLimitBytes || split.body.size() > kFuzzBodyLimit) std::abort();
  if (split.bodyEnd != qp::ResponseEnd::kComplete && !split.body.empty()) std::abort();

  // The parts of the head the client reads, and the page as a script sees it.
  qp::DeclaredLength(split.head);
  qp::CodingsOf(split.head);
  qp::SetActiveCodePage((control & 8) ? qp::kCodePageUtf8 : qp::kCodePageGbk);
  std::string text = qp::PageTextInCodePage(split.head, std::move(split.body));
  (void)text;
  return 0;
}
