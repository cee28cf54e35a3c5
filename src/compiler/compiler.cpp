#include "compiler/compiler.h"

#include <map>
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
// the same as inserting it after the `using` line, without copying. The
// texts live as long as the compilation (the caller's text, or the file
// cache), so a line can be read in place.
struct Source {
  std::string_view text;
  std::string_view path;
  size_t position = 0;
  int32_t file = 0;  // index in the SourceMap's files
  int32_t line = 0;  // the line being compiled, from 1
};

// An included file as read once per compilation.
struct IncludedText {
  std::string text;
  int32_t file = 0;
};

// What ReadTextFile can read: a folder or a device is no include.
bool CanOpen(const std::string& path) { return IsReadableFile(path); }

class Compilation {
 public:
  Compilation(ScriptProgram& program, const CompileOptions& options)
      : program_(program), options_(options), keywords_(KeywordTable::Instance()) {}

  CompileSummary Run(std::string_view text) {
    program_.instructions.clear();
    if (options_.sourceMap) *options_.sourceMap = SourceMap{{options_.rootPath}, {}};
    sources_.push_back(Source{text, options_.rootPath, 0, 0, 0});
    int32_t rootLines = 0;
    while (!sources_.empty()) {
      if (options_.stopRequested && options_.stopRequested->load(std::memory_order_relaxed)) {
        summary_.stopped = true;
        rootLines = sources_.front().line;
        break;
      }
      Source& source = sources_.back();
      if (source.position >= source.text.size()) {
        if (sources_.size() == 1) rootLines = source.line;
        sources_.pop_back();
        continue;
      }
      ++source.line;
      size_t end = source.text.find("\r\n", source.position);
      if (end == std::string_view::npos) end = source.text.size();
      std::string_view line = source.text.substr(source.position, end - source.position);
      source.position = end + 2;
      AddLine(line);  // may push a source: `source` is not used after this
    }
    auto [code, operand] = ParseLine("exit", keywords_);
    program_.Append(code, std::move(operand));
    if (options_.sourceMap) options_.sourceMap->locations.push_back({0, rootLines + 1});
    return summary_;
  }

 private:
  IncludeSkip WhySkipped(const std::string& path) const {
    for (const Source& open : sources_)
      if (open.path == path) return IncludeSkip::kCycle;  // skip the repeated include
    if (static_cast<int>(sources_.size()) > kMaxIncludeDepth) return IncludeSkip::kTooDeep;
    if (summary_.includedFiles >= kMaxIncludedFiles) return IncludeSkip::kTooMany;
    return IncludeSkip::kNone;
  }

  void Include(const std::string& operand, SourceLocation at) {
    std::string path = IncludePath(operand, options_.homeDir);
    IncludeSkip skipped = WhySkipped(path);
    if (options_.listener)
      options_.listener->OnInclude(path, skipped != IncludeSkip::kNone || CanOpen(path), skipped,
                                   at);
    if (skipped == IncludeSkip::kTooMany) ++summary_.cappedIncludes;
    if (skipped != IncludeSkip::kNone) return;
    ++summary_.includedFiles;
    auto [it, fresh] = files_.try_emplace(std::move(path));
    if (fresh) {
      it->second.text = ReadTextFile(it->first);
      if (SourceMap* map = options_.sourceMap) {
        map->files.push_back(it->first);
        it->second.file = static_cast<int32_t>(map->files.size() - 1);
      }
    }
    sources_.push_back(Source{it->second.text, it->first, 0, it->second.file, 0});
  }

  void AddLine(std::string_view rawLine) {
    std::string_view line = TrimLeft(rawLine);
    auto [code, operand] = ParseLine(line, keywords_);
    const SourceLocation at{sources_.back().file, sources_.back().line};
    CompileListener* listener = options_.listener;
    switch (code) {
      case kLabel:
        program_.labels[operand] = program_.size();
        if (listener) listener->OnLabel(line.substr(0, operand.size()), operand, at);
        return;
      case kUsing:
        Include(operand, at);
        return;
      case kNoCommand:
        if (line.empty() || line.substr(0, 2) == "//") return;
        if (listener) listener->OnLooseLine(line, program_.size() - 1, at);
        if (!program_.instructions.empty()) {
          std::string& target = program_.instructions.back().operand;
          target += '\n';
          target.append(line);
        }
        return;
      default:
        program_.Append(code, std::move(operand));
        if (options_.sourceMap) options_.sourceMap->locations.push_back(at);
    }
  }

  ScriptProgram& program_;
  const CompileOptions& options_;
  const KeywordTable& keywords_;
  std::vector<Source> sources_;
  // Included files by path; std::map keeps each text in place while others
  // are added, so the sources can point into them.
  std::map<std::string, IncludedText, std::less<>> files_;
  CompileSummary summary_;
};

}  // namespace

CompileSummary Compile(std::string_view text, ScriptProgram& program,
                       const CompileOptions& options) {
  return Compilation(program, options).Run(text);
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
