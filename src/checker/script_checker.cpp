#include "checker/script_checker.h"

#include <algorithm>
#include <map>
#include <set>

#include "compiler/compiler.h"
#include "compiler/text_file.h"
#include "regex/regex_pattern.h"
#include "support/text.h"

namespace qp {
namespace {

struct BuiltinShape {
  const char* name;
  size_t minimum;  // items, the name included
  size_t maximum;  // 0: no limit
};

constexpr BuiltinShape kBuiltinShapes[] = {
#define QP_BUILTIN(name, minimum, maximum, tooFew, function) {name, minimum, maximum},
#include "compiler/builtin_names.def"
#undef QP_BUILTIN
};

// Variables that the program itself sets: the boot line, HTTP results,
// prompt answers, JavaScript results and events.
constexpr const char* kSystemVariables[] = {
    "param", "source", "status", "http_head", "http_body", "input", "return",
    "window_name", "window_event", "window_value", "accuracy",
};

// The events of the program's own sources; windows raise any event name.
struct FixedSource {
  const char* name;
  std::vector<std::string> events;
};
const FixedSource kFixedSources[] = {
    {"tray", {"click", "click_show", "click_quit"}},
    {"system", {"hotkey"}},
};

const char* RegexErrorMeaning(int32_t error) {
  switch (error) {
    case kRegexOutOfMemory: return "too large or nested too deep";
    case kRegexUnclosedBrace: return "a \"{\" is never closed by \"}\"";
    case kRegexUnclosedParen: return "a \"(\" is never closed by \")\"";
    case kRegexUnclosedClass: return "a \"[\" is never closed by \"]\", or a range has no upper bound";
    case kRegexBadAbbreviation: return "an abbreviation does not compile";
    case kRegexEmptyClass: return "an empty class \"[]\" or \"[^]\"";
    case kRegexBadBackReference: return "a back-reference names a group not yet opened";
    case kRegexReversedRange: return "a class range runs backwards";
    case kRegexEmptyLoop: return "\"*\" or \"+\" repeats an item that can match nothing";
    case kRegexNoPattern: return "no pattern given";
    default: return "it does not compile";
  }
}

bool HasUpper(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool IsLetters(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first word of a line, as the compiler would cut it.
std::string_view FirstToken(std::string_view line) {
  size_t separator = line.find(' ');
  if (separator == std::string_view::npos) separator = line.find('\t');
  return Trim(line.substr(0, separator));
}

// A loose line whose first word reads as a mistyped command: a keyword with a
// "(" or "[" glued to it, or a word one letter away from a keyword (two for
// words of eight letters or more). Short words need to be closer, so that
// prose in a multi-line operand ("result ...") is not taken for a command. Gives the explanation, empty when it is none.
std::string UnknownKeyword(std::string_view line) {
  std::string token = AsciiLower(FirstToken(line));
  for (const auto& [keyword, code] : KeywordTable::Instance().entries()) {
    if (keyword.size() < 2 || !IsLetters(keyword)) continue;
    if (token.size() > keyword.size() && token.compare(0, keyword.size(), keyword) == 0 &&
        (token[keyword.size()] == '(' || token[keyword.size()] == '['))
      return "unknown keyword \"" + std::string(FirstToken(line)) + "\": a space must follow \"" +
             keyword + "\"";
  }
  if (!IsLetters(token) || token.size() < 4) return std::string();
  const size_t allowed = token.size() >= 8 ? 2 : 1;
  for (const auto& [keyword, code] : KeywordTable::Instance().entries())
    if (EditDistance(token, keyword) <= allowed)
      return "unknown keyword \"" + std::string(FirstToken(line)) + "\" (did you mean \"" + keyword +
             "\"?)";
  return std::string();
}

// One bracket reference found in an operand: its kind and inner text.
struct Reference {
  char sigil;
  std::string inner;
};

bool IsSigil(char c) { return std::string_view("#$@%~!").find(c) != std::string_view::npos; }

// Every reference of `text`, nested ones included; brackets are paired by
// depth, which is how the innermost-first substitution reads them.
void FindReferences(std::string_view text, std::vector<Reference>& out) {
  for (size_t k = 0; k + 1 < text.size(); ++k) {
    if (text[k] != '[' || !IsSigil(text[k + 1])) continue;
    int depth = 0;
    size_t end = k;
    for (; end < text.size(); ++end) {
      if (text[end] == '[') ++depth;
      if (text[end] == ']' && --depth == 0) break;
    }
    if (end >= text.size()) return;  // unclosed: the rest is plain text
    out.push_back({text[k + 1], std::string(text.substr(k + 2, end - k - 2))});
  }
}

// Items of a call at "<<<", outside nested references.
std::vector<std::string> CallItems(std::string_view inner) {
  std::vector<std::string> items(1);
  int depth = 0;
  for (size_t k = 0; k < inner.size(); ++k) {
    if (inner[k] == '[') ++depth;
    if (inner[k] == ']') --depth;
    if (depth == 0 && inner.compare(k, 3, "<<<") == 0) {
      items.emplace_back();
      k += 2;
      continue;
    }
    items.back() += inner[k];
  }
  return items;
}

bool IsLiteral(std::string_view text) { return text.find('[') == std::string_view::npos; }

// The name of a "[#name]" written as the first word of an operand.
std::string AssignedName(std::string_view word) {
  if (word.size() > 3 && word.substr(0, 2) == "[#" && word.back() == ']')
    return std::string(word.substr(2, word.size() - 3));
  return std::string();
}

// The operand split at its first blank, else its first tab, as commands split.
struct OperandParts {
  std::string first, rest;
  bool found = false;
};
OperandParts SplitFirst(std::string_view text) {
  size_t p = text.find(' ');
  if (p == std::string_view::npos) p = text.find('\t');
  if (p == std::string_view::npos) return {std::string(TrimRight(text)), std::string(), false};
  return {std::string(text.substr(0, p)), std::string(TrimLeft(text.substr(p + 1))), true};
}

}  // namespace

// The checks of one compiled program (a root file with its includes).
class ProgramCheck : public CompileListener {
 public:
  ProgramCheck(ScriptChecker& owner, const std::string& path) : owner_(owner), path_(path) {}

  void Run(std::string_view text) {
    CompileOptions options;
    options.homeDir = owner_.homeDir_;
    options.rootPath = path_;
    options.sourceMap = &map_;
    options.listener = this;
    Compile(text, program_, options);
    CheckBlocks();
    CollectNames();
    for (int32_t i = 0; i + 1 < program_.size(); ++i) CheckInstruction(i);
    CheckHandlers();
  }

  void OnLabel(std::string_view written, const std::string& name, SourceLocation at) override {
    auto [it, fresh] = labelsAt_.emplace(name, at);
    if (!fresh)
      Warn(at, "label \"" + name + "\" is defined again (first at " + map_.Describe(it->second) +
                   "); this later one counts");
    labelsWritten_.push_back({std::string(written), at});
  }

  void OnInclude(const std::string& path, bool opened, IncludeSkip skipped,
                 SourceLocation at) override {
    switch (skipped) {
      case IncludeSkip::kNone:
        if (!opened) Error(at, "using: the file " + path + " does not exist");
        break;
      case IncludeSkip::kCycle:
        Warn(at, "using: " + path + " is already being included; skipped");
        break;
      case IncludeSkip::kTooDeep:
        Warn(at, "using: includes nest more than " + std::to_string(kMaxIncludeDepth) +
                     " deep; " + path + " skipped");
        break;
      case IncludeSkip::kTooMany:
        // Said once, at the first include left out; the rest go the same way.
        if (!capReported_)
          Warn(at, "using: more than " + std::to_string(kMaxIncludedFiles) +
                       " files included; this include and every later one are skipped");
        capReported_ = true;
        break;
    }
  }

  void OnLooseLine(std::string_view line, int32_t joinedTo, SourceLocation at) override {
    std::string unknown = UnknownKeyword(line);
    if (!unknown.empty()) return Error(at, unknown);
    if (joinedTo < 0) return Warn(at, "text before the first command is ignored: " + std::string(line));
    const ScriptInstruction& target = program_.instructions[static_cast<size_t>(joinedTo)];
    SourceLocation from = At(joinedTo);
    std::string where = from.file == at.file ? "line " + std::to_string(from.line) : map_.Describe(from);
    Warn(at, "line joined to the operand of \"" + std::string(CommandName(target.code)) + "\" on " +
                 where + ": " + std::string(line));
  }

 private:
  SourceLocation At(int32_t index) const { return map_.locations[static_cast<size_t>(index)]; }
  Finding Make(SourceLocation at, bool error, std::string text) const {
    return Finding{map_.files[static_cast<size_t>(at.file)], at.line, error, std::move(text)};
  }
  void Error(SourceLocation at, std::string text) { owner_.Add(Make(at, true, std::move(text))); }
  void Warn(SourceLocation at, std::string text) { owner_.Add(Make(at, false, std::move(text))); }
  const ScriptInstruction& In(int32_t i) const { return program_.instructions[static_cast<size_t>(i)]; }

  // Braces pair by depth; `if`, `while`, `switch` and `else` need a block
  // right after them, and `else` comes right after the block of an `if`.
  void CheckBlocks() {
    std::vector<int32_t> open;
    const int32_t last = program_.size() - 1;
    int32_t closedIfBlock = -1;  // index of a "}" that closed an `if` block
    for (int32_t i = 0; i < last; ++i) {
      CommandCode code = In(i).code;
      if (code == kBlockOpen) open.push_back(i);
      if (code == kBlockClose) {
        if (open.empty()) {
          Error(At(i), "\"}\" without its \"{\"");
          continue;
        }
        int32_t opener = open.back();
        open.pop_back();
        if (opener > 0 && In(opener - 1).code == kIf) closedIfBlock = i;
      }
      bool needsBlock = code == kIf || code == kWhile || code == kSwitch || code == kElse;
      if (needsBlock && (i + 1 >= last || In(i + 1).code != kBlockOpen))
        Error(At(i), "\"" + std::string(CommandName(code)) + "\" is not followed by a \"{\" block");
      if (code == kElse && closedIfBlock != i - 1)
        Error(At(i), "\"else\" does not follow the block of an \"if\"");
    }
    for (int32_t i : open) Error(At(i), "\"{\" is never closed by \"}\"");
  }

  // Pattern names, window names and assigned variables of the whole program.
  void CollectNames() {
    for (int32_t i = 0; i + 1 < program_.size(); ++i) {
      const ScriptInstruction& in = In(i);
      OperandParts parts = SplitFirst(in.operand);
      switch (in.code) {
        case kRegex: patterns_.insert(parts.first); break;
        case kOpenWindow:
          if (IsLiteral(parts.first)) windows_.insert(parts.first);
          else anyWindow_ = true;
          break;
        case kVar: case kGetCookies: Assign(parts.first); break;
        case kReplace: Assign(SplitFirst(parts.rest).first); break;
        default: break;
      }
      if (in.operand.find("[@split<<<") != std::string::npos) splitUsed_ = true;
    }
  }

  void Assign(std::string_view word) {
    std::string name = AssignedName(word);
    if (!name.empty()) owner_.assigned_.push_back(name);
  }

  void CheckInstruction(int32_t i) {
    const ScriptInstruction& in = In(i);
    OperandParts parts = SplitFirst(in.operand);
    switch (in.code) {
      case kGoto: case kCall: CheckJump(i, in.operand); break;
      case kRegex: CheckPattern(i, parts); break;
      case kMatch: case kReplace:
        if (!parts.found) Error(At(i), "\"" + std::string(CommandName(in.code)) + "\" needs a pattern name and a text");
        else CheckPatternName(i, parts.first);
        break;
      default: break;
    }
    // A pattern is never substituted: its brackets are pattern syntax.
    std::string_view scanned = in.code == kRegex ? std::string_view(parts.first) : in.operand;
    std::vector<Reference> refs;
    FindReferences(scanned, refs);
    for (const Reference& ref : refs) CheckReference(i, ref);
  }

  void CheckJump(int32_t i, const std::string& operand) {
    if (!IsLiteral(operand)) return;
    const std::string what = std::string(CommandName(In(i).code)) + " " + operand;
    if (program_.FindLabel(operand) >= 0) return;
    if (program_.FindLabel(AsciiLower(operand)) >= 0)
      return Error(At(i), "\"" + what + "\": labels are stored in lower case, so only \"" +
                              AsciiLower(operand) + "\" reaches it");
    Error(At(i), "\"" + what + "\": no file defines the label " + operand);
  }

  void CheckPattern(int32_t i, const OperandParts& parts) {
    if (!parts.found || parts.rest.empty()) return Error(At(i), "\"regex\" needs a name and a pattern");
    RegexPattern pattern(parts.rest);
    if (!pattern.valid())
      Error(At(i), "regex \"" + parts.first + "\": the pattern does not compile: " +
                       RegexErrorMeaning(pattern.error()));
  }

  void CheckPatternName(int32_t i, const std::string& name) {
    if (IsLiteral(name) && !patterns_.count(name))
      Error(At(i), "no \"regex " + name + "\" defines the pattern \"" + name + "\"");
  }

  void CheckReference(int32_t i, const Reference& ref) {
    if (ref.sigil == '#') {
      if (IsLiteral(ref.inner)) owner_.reads_.push_back({ref.inner, {map_.files[static_cast<size_t>(At(i).file)], At(i).line}});
      return;
    }
    if (ref.sigil == '$') {
      size_t dot = ref.inner.find('.');
      if (dot != std::string::npos) CheckPatternName(i, ref.inner.substr(0, dot));
      return;
    }
    if (ref.sigil == '@') CheckCall(i, ref.inner);
  }

  void CheckCall(int32_t i, const std::string& inner) {
    std::vector<std::string> items = CallItems(inner);
    if (!IsLiteral(items[0])) return;
    std::string name = AsciiLower(Trim(items[0]));
    for (const BuiltinShape& shape : kBuiltinShapes) {
      if (name != shape.name) continue;
      if (items.size() < shape.minimum)
        Error(At(i), "built-in \"@" + name + "\" needs " + std::to_string(shape.minimum - 1) +
                         " item(s) after its name, this call has " + std::to_string(items.size() - 1));
      else if (shape.maximum != 0 && items.size() > shape.maximum)
        Error(At(i), "built-in \"@" + name + "\" takes at most " +
                         std::to_string(shape.maximum - 1) + " items after its name");
      return;
    }
    Error(At(i), "unknown built-in \"@" + std::string(Trim(items[0])) + "\" (it gives the empty text)");
  }

  // Handler labels "<on_SOURCE_EVENT>": the tray and the hotkey raise a fixed
  // set of events, windows any event. Labels are stored in lower case while
  // the event's label is composed from the window's name as written, so a
  // window named with upper case never reaches its handlers.
  void CheckHandlers() {
    for (const auto& [written, at] : labelsWritten_) {
      std::string name = AsciiLower(written);
      if (name.rfind("<on_", 0) != 0) continue;
      std::string rest = name.substr(4, name.size() - 5);
      std::string problem = HandlerProblem(rest);
      if (!problem.empty()) {
        Warn(at, "handler label \"" + written + "\" can never match: " + problem);
      } else if (HasUpper(written) && !IsFixedSource(rest) && !WindowFor(rest)) {
        Warn(at, "handler label \"" + written + "\" is stored in lower case: only events of a "
                 "window named in lower case reach it");
      }
    }
  }

  bool IsFixedSource(const std::string& rest) const {
    for (const FixedSource& source : kFixedSources)
      if (rest.rfind(std::string(source.name) + "_", 0) == 0) return true;
    return false;
  }

  bool WindowFor(const std::string& rest) const {
    for (const std::string& window : windows_)
      if (rest.rfind(window + "_", 0) == 0 && rest.size() > window.size() + 1) return true;
    return false;
  }

  std::string HandlerProblem(const std::string& rest) const {
    for (const FixedSource& source : kFixedSources) {
      std::string prefix = std::string(source.name) + "_";
      if (rest.rfind(prefix, 0) != 0) continue;
      std::string event = rest.substr(prefix.size());
      if (std::find(source.events.begin(), source.events.end(), event) != source.events.end())
        return std::string();
      std::string known;
      for (const std::string& e : source.events) known += (known.empty() ? "" : ", ") + e;
      return "\"" + std::string(source.name) + "\" raises only " + known;
    }
    if (WindowFor(rest)) return std::string();
    for (const std::string& window : windows_)
      if (rest.rfind(AsciiLower(window) + "_", 0) == 0)
        return "window \"" + window + "\" has upper case, and labels are stored in lower case";
    if (anyWindow_) return std::string();
    return "no source raises it (the tray, the system hotkey or a window that openwindow opens)";
  }

  ScriptChecker& owner_;
  std::string path_;
  ScriptProgram program_;
  SourceMap map_;
  std::map<std::string, SourceLocation> labelsAt_;
  std::vector<std::pair<std::string, SourceLocation>> labelsWritten_;
  std::set<std::string> patterns_;
  std::set<std::string> windows_;
  bool anyWindow_ = false;   // some openwindow names its window at run time
  bool splitUsed_ = false;   // "@split" assigns _0, _1, ...
  bool capReported_ = false; // the include cap has been reported
  friend class ScriptChecker;
};

std::string FormatFinding(const Finding& finding) {
  return finding.file + ':' + std::to_string(finding.line) + (finding.error ? ": error: " : ": warning: ") +
         finding.text;
}

void ScriptChecker::Check(std::string_view text, const std::string& path) {
  ProgramCheck check(*this, path);
  check.Run(text);
  if (check.splitUsed_)
    for (int k = 0; k < 100; ++k) assigned_.push_back("_" + std::to_string(k));
}

std::vector<Finding> ScriptChecker::Finish() {
  std::set<std::string> assigned(assigned_.begin(), assigned_.end());
  for (const char* name : kSystemVariables) assigned.insert(name);
  std::set<std::string> reported;
  for (const auto& [name, read] : reads_) {
    if (assigned.count(name) || !reported.insert(name).second) continue;
    findings_.push_back(Finding{read.file, read.line, false,
                                "variable \"" + name + "\" is read but never assigned (it reads as empty)"});
  }
  // Stable: findings of one line keep the order in which they were found.
  std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
    return a.file != b.file ? a.file < b.file : a.line < b.line;
  });
  // An include checked as part of several programs is reported once.
  std::vector<Finding> unique;
  std::set<std::string> seen;
  for (Finding& finding : findings_)
    if (seen.insert(FormatFinding(finding)).second) unique.push_back(std::move(finding));
  findings_.clear();
  return unique;
}

std::vector<Finding> CheckFiles(const std::vector<std::string>& files, const std::string& homeDir) {
  ScriptChecker checker(homeDir);
  for (const std::string& path : files) checker.Check(ReadTextFile(path), path);
  return checker.Finish();
}

}  // namespace qp
