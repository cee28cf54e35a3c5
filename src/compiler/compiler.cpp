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
  int32_t file = 0;  // index in the SourceMap's files
  int32_t line = 0;  // the line being compiled, from 1
};

// What ReadTextFile can read: a folder or a device is no include.
bool CanOpen(const std::string& path) { return IsReadableFile(path); }

// The file index of `path` in the side table, added on first use.
int32_t FileIndex(SourceMap* map, const std::string& path) {
  if (!map) return 0;
  for (size_t k = 0; k < map->files.size(); ++k)
    if (map->files[k] == path) return static_cast<int32_t>(k);
  map->files.push_back(path);
  return static_cast<int32_t>(map->files.size() - 1);
}

void Include(const std::string& operand, SourceLocation at, std::vector<Source>& sources,
             const CompileOptions& options) {
  std::string path = IncludePath(operand, options.homeDir);
  bool skipped = static_cast<int>(sources.size()) > kMaxIncludeDepth;
  for (const Source& open : sources)
    if (open.path == path) skipped = true;  // a cycle: skip the repeated include
  if (options.listener) options.listener->OnInclude(path, skipped || CanOpen(path), skipped, at);
  if (skipped) return;
  sources.push_back(Source{ReadTextFile(path), 0, path, FileIndex(options.sourceMap, path), 0});
}

void AddLine(std::string_view rawLine, ScriptProgram& program, const KeywordTable& keywords,
             std::vector<Source>& sources, const CompileOptions& options) {
  std::string_view line = TrimLeft(rawLine);
  auto [code, operand] = ParseLine(line, keywords);
  const SourceLocation at{sources.back().file, sources.back().line};
  switch (code) {
    case kLabel:
      program.labels[operand] = program.size();
      if (options.listener) options.listener->OnLabel(line.substr(0, operand.size()), operand, at);
      return;
    case kUsing:
      Include(operand, at, sources, options);
      return;
    case kNoCommand:
      if (line.empty() || line.substr(0, 2) == "//") return;
      if (options.listener) options.listener->OnLooseLine(line, program.size() - 1, at);
      if (!program.instructions.empty()) {
        std::string& target = program.instructions.back().operand;
        target += '\n';
        target.append(line);
      }
      return;
    default:
      program.Append(code, std::move(operand));
      if (options.sourceMap) options.sourceMap->locations.push_back(at);
  }
}

}  // namespace

void Compile(std::string_view text, ScriptProgram& program, const CompileOptions& options) {
  const KeywordTable& keywords = KeywordTable::Instance();
  program.instructions.clear();

  if (options.sourceMap) *options.sourceMap = SourceMap{{options.rootPath}, {}};

  std::vector<Source> sources;
  sources.push_back(Source{std::string(text), 0, options.rootPath, 0, 0});
  std::string line;
  int32_t rootLines = 0;
  while (!sources.empty()) {
    Source& source = sources.back();
    if (source.position >= source.text.size()) {
      if (sources.size() == 1) rootLines = source.line;
      sources.pop_back();
      continue;
    }
    ++source.line;
    size_t end = source.text.find("\r\n", source.position);
    if (end == std::string::npos) end = source.text.size();
    // A copy: AddLine may push a new source, which can move this one.
    line.assign(source.text, source.position, end - source.position);
    source.position = end + 2;
    AddLine(line, program, keywords, sources, options);
  }
  auto [code, operand] = ParseLine("exit", keywords);
  program.Append(code, std::move(operand));
  if (options.sourceMap) options.sourceMap->locations.push_back({0, rootLines + 1});
}

std::string SourceMap::Describe(SourceLocation at) const {
  std::string file = at.file >= 0 && static_cast<size_t>(at.file) < files.size()
                         ? files[static_cast<size_t>(at.file)]
                         : std::string("?");
  return file + ':' + std::to_string(at.line);
}

std::string SourceMap::Describe(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= locations.size()) return "?:0";
  return Describe(locations[static_cast<size_t>(index)]);
}

}  // namespace qp
