// Pattern matching speed on one generated HTML page of about 1.2 MB (GBK, the
// same bytes on every run): link extraction, a lazy group and a failing
// search, each run by the script dialect, by PCRE2's interpreter (no JIT,
// caseless) and by std::regex (icase) with equivalent patterns. Every engine
// must find the same texts, so the figures compare equal work.
//
// Then ReplaceAll (on the page, and on runs of "a" where the replacement
// holds the matched text), the former ReplaceAll for comparison, and
// searches that backtrack without the failure table: their time, or the
// time the step budget takes to run out.
//
//   regex_bench [--page FILE]   FILE: also write the page there (for qvrc --match)
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "regex/regex_pattern.h"
#include "replace_reference.h"
#include "support/codepage.h"

namespace {

// Deterministic page: paragraphs, links (some in upper case), table rows with
// short cells, some GBK text.
class PageWriter {
 public:
  std::string Make(size_t size) {
    page_ = "<html><head><title>QuorPack sample page</title>\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\"></head>\n"
            "<body>\n";
    while (page_.size() < size) {
      switch (Next() % 6) {
        case 0: Paragraph(); break;
        case 1: Link(); break;
        case 2: page_ += "<A HREF=\"/item?id=" + Number() + "&amp;p=" + Number() +
                         "\" CLASS=\"it\">" + Words(3) + "</A>\n";
                break;
        case 3: Row(); break;
        case 4: page_ += "<div id=\"box" + Number() + "\" style=\"margin:0;padding:4px\">" +
                         Words(8) + "</div>\n";
                break;
        default: Paragraph(); break;
      }
    }
    page_ += "</body></html>\n";
    return page_;
  }

 private:
  uint32_t Next() {
    seed_ = seed_ * 1664525u + 1013904223u;
    return seed_ >> 8;
  }
  std::string Number() { return std::to_string(Next() % 100000); }
  std::string Words(int count) {
    static const char* kWords[] = {"quorvant", "script", "page", "value", "Order", "list",
                                   "\xD6\xD0\xCE\xC4", "\xB2\xE2\xCA\xD4", "cookie", "Form",
                                   "session", "result", "table", "\xCA\xFD\xBE\xDD", "item"};
    std::string out;
    for (int i = 0; i < count; ++i) {
      if (i) out += ' ';
      out += kWords[Next() % (sizeof kWords / sizeof *kWords)];
    }
    return out;
  }
  void Paragraph() { page_ += "<p class=\"text\">" + Words(20 + Next() % 40) + "</p>\n"; }
  void Link() {
    page_ += "<a href=\"http://www.example.com/" + Words(1) + "/" + Number() +
             ".html\" target=\"_blank\">" + Words(2) + "</a>\n";
  }
  void Row() {
    page_ += "<tr><td>" + Number() + "</td><td>" + Words(2) + "</td><td><span>" + Words(4) +
             "</span></td></tr>\n";
  }

  uint32_t seed_ = 20261207;
  std::string page_;
};

const std::string& Page() {
  static const std::string page = PageWriter().Make(1200 * 1024);
  return page;
}

struct Task {
  const char* dialect;  // the script dialect
  const char* pcre;     // PCRE2, caseless, dot matches all
  const char* ecma;     // std::regex, ECMAScript, icase
};

const Task kLinks = {"<a href=\"{[^\"]*}\"", "<a href=\"([^\"]*)\"", "<a href=\"([^\"]*)\""};
const Task kCells = {"<td>{.*?}</td>", "<td>(.*?)</td>", "<td>([\\s\\S]*?)</td>"};
const Task kFailing = {"{\\w}@{\\w}\\.com", "([a-z]+)@([a-z]+)\\.com",
                       "([a-z]+)@([a-z]+)\\.com"};

std::vector<std::string> RunDialect(qp::RegexPattern& regex, const std::string& text) {
  regex.MatchAll(text);
  return regex.results();
}

class Pcre2 {
 public:
  explicit Pcre2(const char* pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                          PCRE2_CASELESS | PCRE2_DOTALL, &error, &offset, nullptr);
    data_ = code_ ? pcre2_match_data_create_from_pattern(code_, nullptr) : nullptr;
  }
  ~Pcre2() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  std::vector<std::string> Run(const std::string& text) {
    std::vector<std::string> results;
    if (!code_) return results;
    uint32_t groups = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &groups);
    auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    PCRE2_SIZE start = 0;
    while (start < text.size() &&
           pcre2_match(code_, subject, text.size(), start, 0, data_, nullptr) > 0) {
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      for (uint32_t g = 1; g <= groups; ++g)
        results.emplace_back(text.data() + ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
      start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    return results;
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

std::vector<std::string> RunStd(const std::regex& regex, const std::string& text) {
  std::vector<std::string> results;
  for (std::sregex_iterator it(text.begin(), text.end(), regex), end; it != end; ++it)
    for (size_t g = 1; g < it->size(); ++g) results.push_back((*it)[g].str());
  return results;
}

// Fails the benchmark when an engine disagrees with the dialect.
bool SameAsDialect(benchmark::State& state, const Task& task,
                   const std::vector<std::string>& results) {
  qp::RegexPattern regex(task.dialect);
  if (RunDialect(regex, Page()) == results) return true;
  state.SkipWithError("results differ from the script dialect");
  return false;
}

void Report(benchmark::State& state, size_t count) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Page().size()));
  state.counters["results"] = static_cast<double>(count);
}

void Dialect(benchmark::State& state, const Task& task) {
  qp::SetActiveCodePage(qp::kCodePageGbk);
  qp::RegexPattern regex(task.dialect);
  size_t count = 0;
  for (auto _ : state) {
    count = static_cast<size_t>(regex.MatchAll(Page()));
    benchmark::DoNotOptimize(regex.results().data());
  }
  Report(state, count);
}

void Pcre2Interpreter(benchmark::State& state, const Task& task) {
  Pcre2 regex(task.pcre);
  if (!SameAsDialect(state, task, regex.Run(Page()))) return;
  size_t count = 0;
  for (auto _ : state) {
    auto results = regex.Run(Page());
    count = results.size();
    benchmark::DoNotOptimize(results.data());
  }
  Report(state, count);
}

void StdRegex(benchmark::State& state, const Task& task) {
  std::regex regex(task.ecma, std::regex::ECMAScript | std::regex::icase);
  if (!SameAsDialect(state, task, RunStd(regex, Page()))) return;
  size_t count = 0;
  for (auto _ : state) {
    auto results = RunStd(regex, Page());
    count = results.size();
    benchmark::DoNotOptimize(results.data());
  }
  Report(state, count);
}

// The share of a MatchAll that goes to the UTF-16 copy and the offset map.
void PrepareOnly(benchmark::State& state) {
  qp::SetActiveCodePage(qp::kCodePageGbk);
  std::vector<uint32_t> offsets;
  for (auto _ : state) {
    std::u16string wide = qp::ToWide(Page(), offsets);
    qp::RegexLowerCase(wide);
    benchmark::DoNotOptimize(wide.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Page().size()));
}

// Whether no tag is left; whether every digit sits in parentheses of its own.
bool NoTags(const std::string& out) { return out.find_first_of("<>") == std::string::npos; }
bool DigitsWrapped(const std::string& out) {
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i] >= '0' && out[i] <= '9' && (i == 0 || out[i - 1] != '(' || out[i + 1] != ')'))
      return false;
  return true;
}

// ReplaceAll over the page; the result is checked for what it must be.
void ReplacePage(benchmark::State& state, const char* pattern, const char* replacement,
                 bool (*check)(const std::string&)) {
  qp::SetActiveCodePage(qp::kCodePageGbk);
  qp::RegexPattern regex(pattern);
  std::string out;
  for (auto _ : state) {
    out = regex.ReplaceAll(Page(), replacement);
    benchmark::DoNotOptimize(out.data());
  }
  if (!check(out)) state.SkipWithError("wrong result");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Page().size()));
  state.counters["result_bytes"] = static_cast<double>(out.size());
}

// Every "a" of a run replaced by "aa" (the replacement holds the match) or "b".
void ReplaceRun(benchmark::State& state, const char* replacement, size_t factor) {
  const size_t length = static_cast<size_t>(state.range(0));
  const std::string run(length, 'a');
  qp::RegexPattern regex("{a}");
  std::string out;
  for (auto _ : state) {
    out = regex.ReplaceAll(run, replacement);
    benchmark::DoNotOptimize(out.data());
  }
  if (out.size() != length * factor) state.SkipWithError("wrong result length");
}

// The former ReplaceAll: one pass over the whole result per match.
void FormerReplaceRun(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  const std::string run(length, 'a');
  qp::RegexPattern regex("{a}");
  const auto steps = qp::ReplaceSteps(regex, run, "b");
  std::string out;
  for (auto _ : state) {
    out = qp::ReferenceReplaceAll(run, steps);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != std::string(length, 'b')) state.SkipWithError("wrong result");
}

// A search that backtracks exponentially without the table; `found` is the
// number of results it must give.
void Backtracking(benchmark::State& state, const std::string& pattern, const std::string& text,
                  int32_t found, bool budgetSpent) {
  qp::RegexPattern regex(pattern);
  int32_t count = 0;
  for (auto _ : state) {
    count = regex.MatchAll(text);
    benchmark::DoNotOptimize(regex.results().data());
  }
  if (count != found || regex.limitReached() != budgetSpent)
    state.SkipWithError("unexpected result");
  state.counters["memoizable"] = regex.memoizable();
}

std::string Optional(int count) {
  std::string out = "{";
  for (int i = 0; i < count; ++i) out += "a?";
  return out + std::string(static_cast<size_t>(count), 'a') + "}";
}

BENCHMARK_CAPTURE(Dialect, links, kLinks)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pcre2Interpreter, links, kLinks)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StdRegex, links, kLinks)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Dialect, lazy_cells, kCells)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pcre2Interpreter, lazy_cells, kCells)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StdRegex, lazy_cells, kCells)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Dialect, failing, kFailing)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pcre2Interpreter, failing, kFailing)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StdRegex, failing, kFailing)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepareOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReplacePage, strip_tags, "{<[^>]*>}", "", NoTags)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReplacePage, wrap_digits, "{{\\d}}", "($1)", DigitsWrapped)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReplaceRun, doubling, "aa", 2)->Arg(30)->Arg(16000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ReplaceRun, other, "b", 1)->Arg(16000)->Unit(benchmark::kMicrosecond);
BENCHMARK(FormerReplaceRun)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Backtracking, optional_30, Optional(30), std::string(30, 'a'), 1, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Backtracking, repeated_run, "{.+}*x", std::string(50000, 'a'), 0, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Backtracking, budget_spent, "{(a|a)*}\\0b", std::string(40, 'a'), 0, true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--page") == 0) {
      std::ofstream(argv[i + 1], std::ios::binary) << Page();
      std::memmove(argv + i, argv + i + 2, sizeof(char*) * (argc - i - 2));
      argc -= 2;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
