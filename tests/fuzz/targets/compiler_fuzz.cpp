// The script compiler, its listing and the static checker on one script
// text. Input: the script's bytes as a file holds them (read in text mode);
// an odd first byte selects UTF-8, else GBK. Includes are resolved in a home
// that holds a few include files: plain ones, nested ones, a cycle, one that
// includes itself, and a folder whose name looks like an include.
#include <filesystem>
#include <set>

#include "checker/script_checker.h"
#include "compiler/compiler.h"
#include "compiler/text_file.h"
#include "fuzz_support.h"
#include "support/codepage.h"

namespace {

using qp::fuzz::PutFile;

const std::string& Home() {
  static const std::string home = [] {
    std::string dir = qp::fuzz::FreshDir("compiler_home");
    std::filesystem::create_directories(dir + "/Script/lib");
    std::filesystem::create_directories(dir + "/Script/ring");
    std::filesystem::create_directories(dir + "/Script/folder.qvr");
    PutFile(dir + "/Script/lib.qvr", "<lib>\r\nnote in lib\r\n  continued\r\nreturn\r\n");
    PutFile(dir + "/Script/lib/mail.qvr", "using lib\nvar [#to] someone\n<mail>\ngoto <lib>\n");
    PutFile(dir + "/Script/self.qvr", "note self\nusing self\n");
    PutFile(dir + "/Script/ring/a.qvr", "using ring.b\nnote a\n");
    PutFile(dir + "/Script/ring/b.qvr", "using ring.a\nnote b\x1Anever read\n");
    PutFile(dir + "/Script/odd.qvr", "\r\rnote cr\r\n{\n\twhile (1)\n}\n}\n");
    return dir;
  }();
  return home;
}

// Counts what the compiler reports, and checks that it reports in bounds.
class Listener : public qp::CompileListener {
 public:
  void OnLabel(std::string_view written, const std::string& name, qp::SourceLocation) override {
    QP_FUZZ_CHECK(name.size() >= 3 && name.front() == '<' && name.back() == '>');
    QP_FUZZ_CHECK(written.size() == name.size());
    ++events;
  }
  void OnInclude(const std::string& path, bool opened, qp::IncludeSkip skipped,
                 qp::SourceLocation) override {
    QP_FUZZ_CHECK(!path.empty());
    QP_FUZZ_CHECK(skipped == qp::IncludeSkip::kNone || opened);
    ++events;
  }
  void OnLooseLine(std::string_view line, int32_t joinedTo, qp::SourceLocation) override {
    QP_FUZZ_CHECK(!line.empty() && joinedTo >= -1);
    ++events;
  }
  size_t events = 0;
};

std::string Listing(const qp::ScriptProgram& program, const qp::SourceMap& lines) {
  std::string out;
  for (int32_t i = 0; i < program.size(); ++i) {
    const qp::ScriptInstruction& instruction = program.instructions[static_cast<size_t>(i)];
    out += std::to_string(i) + '\t' + qp::CommandName(instruction.code) + '\t' +
           instruction.operand + '\t' + lines.Describe(i) + '\n';
  }
  for (const auto& [name, index] : program.labels)
    out += "label\t" + name + '\t' + std::to_string(index) + '\n';
  return out;
}

}  // namespace

int qp_fuzz_compiler(const uint8_t* data, size_t size) {
  std::string_view input = qp::fuzz::AsText(data, size);
  qp::SetActiveCodePage(!input.empty() && (input[0] & 1) ? qp::kCodePageUtf8 : qp::kCodePageGbk);
  const std::string text = qp::TextModeLines(input);
  const std::string rootPath = Home() + "/Script/root.qvr";

  qp::ScriptProgram program;
  qp::SourceMap lines;
  Listener listener;
  qp::CompileOptions options;
  options.homeDir = Home();
  options.rootPath = rootPath;
  options.sourceMap = &lines;
  options.listener = &listener;
  qp::Compile(text, program, options);

  // The compiled form as the executor relies on it: a final `exit`, one
  // location per instruction, labels inside the program, no pseudo-codes.
  QP_FUZZ_CHECK(program.size() >= 1);
  QP_FUZZ_CHECK(std::string(qp::CommandName(program.instructions.back().code)) == "exit");
  QP_FUZZ_CHECK(lines.locations.size() == program.instructions.size());
  for (const qp::ScriptInstruction& instruction : program.instructions)
    QP_FUZZ_CHECK(instruction.code != qp::kNoCommand && instruction.code != qp::kLabel &&
                  instruction.code != qp::kUsing);
  for (const auto& [name, index] : program.labels) QP_FUZZ_CHECK(index >= 0 && index < program.size());
  for (const qp::SourceLocation& at : lines.locations)
    QP_FUZZ_CHECK(at.file >= 0 && static_cast<size_t>(at.file) < lines.files.size() && at.line >= 0);
  QP_FUZZ_CHECK(!Listing(program, lines).empty());

  // The same text compiled without a listener or map gives the same program.
  qp::ScriptProgram plain;
  qp::CompileOptions plainOptions;
  plainOptions.homeDir = Home();
  plainOptions.rootPath = rootPath;
  qp::Compile(text, plain, plainOptions);
  QP_FUZZ_CHECK(plain.size() == program.size() && plain.labels == program.labels);

  qp::ScriptChecker checker(Home());
  checker.Check(text, rootPath);
  for (const qp::Finding& finding : checker.Finish())
    QP_FUZZ_CHECK(!qp::FormatFinding(finding).empty());
  return 0;
}
