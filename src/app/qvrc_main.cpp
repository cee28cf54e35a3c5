// qvrc: the script author's tool.
//   qvrc [--home DIR] FILE            compile FILE and list its instructions and labels
//   qvrc --match PATTERN FILE         run PATTERN over FILE's bytes and list the results
// Operands and results are written with "\\", "\n", "\r" and "\t" escapes so
// that each instruction or result stays on one line.
#include <cstdio>
#include <iostream>
#include <string>

#include "compiler/compiler.h"
#include "compiler/text_file.h"
#include "regex/regex_pattern.h"
#include "support/codepage.h"
#include "support/files.h"
#include "support/settings.h"

namespace {

std::string Escape(const std::string& text, bool tabsAndCr) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': if (tabsAndCr) out += "\\r"; else out += c; break;
      case '\t': if (tabsAndCr) out += "\\t"; else out += c; break;
      default: out += c;
    }
  }
  return out;
}

// A folder or a device is no script: "cannot read", like a missing file.
bool ReadBytes(const std::string& path, std::string& bytes) {
  return qp::ReadWholeFile(path, bytes);
}

int Usage() {
  std::fprintf(stderr,
               "usage: qvrc [--home DIR] FILE\n"
               "       qvrc [--home DIR] --match PATTERN FILE\n");
  return 2;
}

int ListProgram(const std::string& path, const std::string& home) {
  std::string raw;
  if (!ReadBytes(path, raw)) {
    std::fprintf(stderr, "qvrc: cannot read %s\n", path.c_str());
    return 2;
  }
  qp::ScriptProgram program;
  qp::CompileOptions options;
  options.homeDir = home;
  options.rootPath = path;
  qp::Compile(qp::TextModeLines(raw), program, options);
  std::string out;
  for (int32_t i = 0; i < program.size(); ++i) {
    const qp::ScriptInstruction& instruction = program.instructions[i];
    out += std::to_string(i) + '\t' + std::to_string(instruction.code) + '\t' +
           qp::CommandName(instruction.code) + '\t' + Escape(instruction.operand, true) + '\n';
  }
  for (const auto& [name, index] : program.labels)
    out += "label\t" + name + '\t' + std::to_string(index) + '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int MatchFile(const std::string& pattern, const std::string& path) {
  std::string text;
  if (!ReadBytes(path, text)) {
    std::fprintf(stderr, "qvrc: cannot read %s\n", path.c_str());
    return 2;
  }
  qp::RegexPattern regex(pattern);
  std::string out = regex.valid() ? "valid 1\n" : "error " + std::to_string(regex.error()) + "\n";
  regex.MatchAll(text);
  for (const std::string& result : regex.results()) out += Escape(result, false) + '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home, pattern, file;
  bool match = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg == "--match" && i + 1 < argc) {
      match = true;
      pattern = argv[++i];
    } else if (file.empty() && (arg.empty() || arg[0] != '-' || arg == "-")) {
      file = arg;
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();
  if (!home.empty()) qp::SetProgramDir(home);
  // The code page is the home's setting, as the runner would use it.
  qp::SetActiveCodePage(qp::CodePageFromSetting(qp::ReadSetting("codepage", "")));
  return match ? MatchFile(pattern, file) : ListProgram(file, home);
}
