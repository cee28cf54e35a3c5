// Code-page conversions: GBK and UTF-8 to UTF-16 with byte offsets and back,
// the conversions between the two, and the character-boundary scans that
// every text command relies on. Input: the bytes, read in both code pages.
#include <algorithm>

#include "fuzz_support.h"
#include "support/characters.h"
#include "support/codepage.h"

namespace {

void CheckBoundaries(std::string_view text) {
  // Characters tile the text and none reaches past its end.
  size_t at = 0;
  std::vector<size_t> starts;
  while (at < text.size()) {
    starts.push_back(at);
    const size_t length = qp::CharLengthAt(text, at);
    QP_FUZZ_CHECK(length >= 1 && at + length <= text.size());
    at += length;
  }
  // Every UTF-16 unit begins at a character start, in order; the last
  // offset is the text's end.
  std::vector<uint32_t> offsets;
  const std::u16string wide = qp::ToWide(text, offsets);
  QP_FUZZ_CHECK(offsets.size() == wide.size() + 1 && offsets.back() == text.size());
  for (size_t k = 0; k + 1 < offsets.size(); ++k) {
    QP_FUZZ_CHECK(offsets[k] <= offsets[k + 1]);
    QP_FUZZ_CHECK(std::binary_search(starts.begin(), starts.end(), offsets[k]));
  }
  QP_FUZZ_CHECK(qp::ToWide(text) == wide);

  // Cuts and case mapping keep characters whole.
  const std::string_view prefix = qp::PrefixOnBoundary(text, text.size() / 2);
  QP_FUZZ_CHECK(prefix.size() == text.size() || std::binary_search(starts.begin(), starts.end(), prefix.size()));
  QP_FUZZ_CHECK(qp::AsciiLower(text).size() == text.size());
  QP_FUZZ_CHECK(qp::AsciiUpper(text).size() == text.size());
  std::string joined;
  const std::string separator(text.substr(0, std::min<size_t>(2, text.size())));
  const std::vector<std::string> pieces = qp::SplitOnBoundaries(text, separator);
  for (size_t k = 0; k < pieces.size(); ++k) joined += (k ? separator : "") + pieces[k];
  QP_FUZZ_CHECK(joined == text);
  QP_FUZZ_CHECK(qp::ReplaceOnBoundaries(text, separator, separator) == text);
  QP_FUZZ_CHECK(qp::ForwardSlashes(text).size() == text.size());
}

}  // namespace

int qp_fuzz_codepage(const uint8_t* data, size_t size) {
  const std::string_view text = qp::fuzz::AsText(data, size);
  for (int page : {qp::kCodePageGbk, qp::kCodePageUtf8}) {
    qp::SetActiveCodePage(page);
    CheckBoundaries(text);
    const std::u16string wide = qp::ToWide(text);
    qp::FromWide(wide);
    std::string exact;
    if (qp::ConvertCodePageExactly(text, page, page, exact)) QP_FUZZ_CHECK(exact == text);
  }
  qp::SetActiveCodePage(qp::kCodePageGbk);

  // Text that UTF-8 and GBK both hold exactly comes back unchanged.
  std::string gbk, utf8;
  if (qp::ConvertCodePageExactly(text, qp::kCodePageUtf8, qp::kCodePageGbk, gbk)) {
    QP_FUZZ_CHECK(qp::ConvertCodePageExactly(gbk, qp::kCodePageGbk, qp::kCodePageUtf8, utf8));
    QP_FUZZ_CHECK(utf8 == text);
  }
  QP_FUZZ_CHECK(qp::ConvertCodePage(text, qp::kCodePageGbk, qp::kCodePageUtf8) ==
                qp::ActiveToUtf8(text));
  qp::Utf8ToActive(text);
  return 0;
}
