// The regular-expression compiler, matcher and replacement, under GBK and
// under UTF-8. Input: pattern NUL subject [NUL replacement].
#include "fuzz_support.h"
#include "regex/regex_pattern.h"
#include "support/codepage.h"

namespace {

void RunIn(int codePage, std::string_view pattern, std::string_view subject,
           const std::string_view* replacement) {
  qp::SetActiveCodePage(codePage);
  qp::RegexPattern regex(pattern);
  QP_FUZZ_CHECK(regex.valid() == (regex.error() == qp::kRegexOk));
  if (regex.valid()) {
    QP_FUZZ_CHECK(!regex.Listing().empty());
  }
  const int32_t count = regex.MatchAll(subject);
  QP_FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) == regex.results().size());
  // Every captured text is cut from the subject's own bytes.
  for (const std::string& result : regex.results())
    QP_FUZZ_CHECK(result.size() <= subject.size());
  if (replacement) regex.ReplaceAll(subject, *replacement);
}

}  // namespace

int qp_fuzz_regex(const uint8_t* data, size_t size) {
  std::string_view input = qp::fuzz::AsText(data, size);
  size_t nuls = 0;
  for (char c : input) nuls += c == '\0';
  const std::vector<std::string_view> fields = qp::fuzz::SplitFields(input, 3);
  const std::string_view* replacement = nuls >= 2 ? &fields[2] : nullptr;
  RunIn(qp::kCodePageGbk, fields[0], fields[1], replacement);
  RunIn(qp::kCodePageUtf8, fields[0], fields[1], replacement);
  qp::SetActiveCodePage(qp::kCodePageGbk);
  return 0;
}
