// Substitution and the evaluator on a script runner, with the text commands
// that keep named patterns. Input: lines (LF); the first byte of a line says
// what the rest is:
//   v  the operand of `var`          r  of `regex`      m  of `match`
//   p  of `replace`                  u  of `unregex`
//   x  a text to evaluate            c  a built-in call ("name<<<arg...")
// any other first byte: the whole line is an operand, substituted and
// evaluated both as text and through its compiled template. An odd first
// byte of the input selects UTF-8, else GBK. Files that scripts name stay in
// a scratch folder (fuzz_support.h).
#include <algorithm>
#include <memory>

#include "compiler/compiler.h"
#include "engine/builtins.h"
#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "engine/text_commands.h"
#include "fuzz_support.h"
#include "support/codepage.h"
#include "support/settings.h"

namespace {

// Answers every request at once: prompts get the empty answer.
class SilentUi : public qp::UiService {
 public:
  void Request(qp::ScriptRunner&, qp::UiRequestKind, const std::string&) override {}
};

void RunLine(qp::ScriptRunner& runner, std::string_view line) {
  if (line.empty()) return;
  const std::string rest(line.substr(1));
  switch (line[0]) {
    case 'v': qp::AssignVariable(runner, rest); break;
    case 'r': qp::RegexCommand(runner, rest); break;
    case 'm': qp::MatchCommand(runner, rest); break;
    case 'p': qp::ReplaceCommand(runner, rest); break;
    case 'u': qp::UnregexCommand(runner, rest); break;
    case 'x': {
      std::string text = rest;
      qp::Evaluate(runner, text);
      break;
    }
    case 'c': qp::CallBuiltin(runner, rest); break;
    default: {
      std::string text(line);
      qp::Expand(runner, text);
      qp::OperandTemplate compiled{std::string(line)};
      std::string out;
      compiled.Expand(runner, out);
    }
  }
}

// Lines such as "v[#a] [#a][#a]" double a value each time, and one
// "creplace<<<[#a]<<<x<<<[#a]" squares it, so a short input can ask for
// gigabytes of honest work. Once a value passes this size the input has shown
// what it can; the rest of it is not run. 4 KiB keeps one line's work under
// 16 MiB while values stay far longer than any structure the parsers read.
constexpr size_t kValueBound = 4 * 1024;

size_t LargestValue(qp::ScriptRunner& runner) {
  size_t largest = 0;
  for (const auto& [name, value] : runner.variables.all())
    largest = std::max(largest, std::max(name.size(), value.size()));
  return largest;
}

}  // namespace

int qp_fuzz_subst(const uint8_t* data, size_t size) {
  std::string_view input = qp::fuzz::AsText(data, size);
  qp::SetActiveCodePage(!input.empty() && (input[0] & 1) ? qp::kCodePageUtf8 : qp::kCodePageGbk);
  const std::string files = qp::fuzz::FreshDir("subst_files");
  qp::fuzz::FileConfinement confined(files);
  qp::SetProgramDir(files);

  static SilentUi ui;
  auto program = std::make_shared<qp::ScriptProgram>();
  qp::Compile("", *program);
  qp::ScriptRunner runner;
  runner.id = 1;
  runner.ui = &ui;
  runner.Load(program);
  for (std::string_view line : qp::fuzz::SplitLines(input)) {
    RunLine(runner, line);
    if (LargestValue(runner) > kValueBound) break;
  }
  qp::SetActiveCodePage(qp::kCodePageGbk);
  return 0;
}
