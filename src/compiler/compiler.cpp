#include "compiler/compiler.h"

#include <vector>

#include "compiler/text_file.h"
#include "support/files.h"
#include "support/settings.h"
#include "support/text.h"

namespace qp {

std::pair<CommandCode, std::string> ParseLine(std::string_view line,
                                              const KeywordTable& keywords) {
  // The first space separates; only a line without any space splits at a tab.
  size_t separator = line.find(' ');
  if (separator == std::string_view::npos) separator = line.find('\t');
  std::string_view token = line, rest;
  if (separator != std::string_view::npos) {
    token = line.substr(0, separator);
    rest = line.substr(separator + 1);
  }
  std::string name = AsciiLower(Trim(token));
  rest = TrimLeft(rest);

  CommandCode code = keywords.Lookup(name);
  if (code != kNoCommand) {
    if (code != kEval && code != kShow && code != kRegex) rest = TrimRight(rest);
    return {code, std::string(rest)};
  }
  if (name.size() >= 3 && name.front() == '<' && name.back() == '>') return {kLabel, name};
  return {kNoCommand, std::string()};
}

std::string IncludePath(std::string_view name, const std::string& homeDir) {
  // Dots are separators too; a "." is never a trail byte, so a byte-wise
  // rewrite cannot cut a character.
  std::string relative(Trim(name));
  for (char& c : relative)
    if (c == '.') c = '/';
  return (homeDir.empty() ? ProgramDir() : homeDir) + "/Script/" + FileSystemPath(relative) +
         ".qvr";
}

namespace {

// One source being read: the root text or an included file's text. Reading
// the included text to its end and then going on with the including text is
// the same as inserting it after the `using` line, without copying.
struct Source {
  std::string text;
  size_t position = 0;
  std::string path;
};

void AddLine(std::string_view rawLine, ScriptProgram& program, const KeywordTable& keywords,
             std::vector<Source>& sources, const CompileOptions& options) {
  std::string_view line = TrimLeft(rawLine);
  auto [code, operand] = ParseLine(line, keywords);
  switch (code) {
    case kLabel:
      program.labels[operand] = program.size();
      return;
    case kUsing: {
      std::string path = IncludePath(operand, options.homeDir);
      if (static_cast<int>(sources.size()) > kMaxIncludeDepth) return;
      for (const Source& open : sources)
        if (open.path == path) return;  // a cycle: skip the repeated include
      sources.push_back(Source{ReadTextFile(path), 0, path});
      return;
    }
    case kNoCommand:
      if (line.empty() || line.substr(0, 2) == "//") return;
      if (!program.instructions.empty()) {
        std::string& target = program.instructions.back().operand;
        target += '\n';
        target.append(line);
      }
      return;
    default:
      program.Append(code, std::move(operand));
  }
}

}  // namespace

void Compile(std::string_view text, ScriptProgram& program, const CompileOptions& options) {
  const KeywordTable& keywords = KeywordTable::Instance();
  program.instructions.clear();

  std::vector<Source> sources;
  sources.push_back(Source{std::string(text), 0, options.rootPath});
  std::string line;
  while (!sources.empty()) {
    Source& source = sources.back();
    if (source.position >= source.text.size()) {
      sources.pop_back();
      continue;
    }
    size_t end = source.text.find("\r\n", source.position);
    if (end == std::string::npos) end = source.text.size();
    // A copy: AddLine may push a new source, which can move this one.
    line.assign(source.text, source.position, end - source.position);
    source.position = end + 2;
    AddLine(line, program, keywords, sources, options);
  }
  auto [code, operand] = ParseLine("exit", keywords);
  program.Append(code, std::move(operand));
}

}  // namespace qp
