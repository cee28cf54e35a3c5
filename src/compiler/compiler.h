// The line compiler: turns one script text into a ScriptProgram in a single
// pass. Every line is a command, a label, an include (`using`), a comment, a
// blank line, or a continuation of the previous command's operand. The
// compiler never fails: text it does not recognise joins the previous operand
// or is dropped, and a bad include adds nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compiler/script_program.h"

namespace qp {

// One parsed line: the code (0 for no command, 23 for a label) and the
// operand (for a label, its lower-cased name). The line arrives without
// leading blanks.
std::pair<CommandCode, std::string> ParseLine(std::string_view line,
                                              const KeywordTable& keywords);

// Where one instruction, label or line came from: a file of the SourceMap and
// its line, counted from 1.
struct SourceLocation {
  int32_t file = 0;
  int32_t line = 0;
};

// The side table of a compilation: the file and line of every instruction,
// kept beside the ScriptProgram (which stays as the executor reads it). The
// final `exit` that the compiler appends gets the root file's last line + 1.
struct SourceMap {
  std::vector<std::string> files;          // file-system names; files[0] is the root (rootPath)
  std::vector<SourceLocation> locations;   // one per instruction, same index
  // "FILE:LINE" of an instruction ("?:0" outside the table).
  std::string Describe(int32_t index) const;
  std::string Describe(SourceLocation at) const;
};

// Why a `using` line added nothing although its file may exist.
enum class IncludeSkip {
  kNone,     // compiled in place
  kCycle,    // the file is already being included
  kTooDeep,  // includes nest deeper than kMaxIncludeDepth
  kTooMany,  // kMaxIncludedFiles files were included already
};

// What the compiler passes over silently, told to whoever wants to know
// (the static checker). Every call comes in source order.
class CompileListener {
 public:
  virtual ~CompileListener() = default;
  // A label line; `written` is its first token as written, `name` the key.
  virtual void OnLabel(std::string_view written, const std::string& name, SourceLocation at) = 0;
  // A `using` line: `opened` is false for a file that cannot be read;
  // `skipped` says why an include was left out.
  virtual void OnInclude(const std::string& path, bool opened, IncludeSkip skipped,
                         SourceLocation at) = 0;
  // A line that is no command, label, comment or blank: `joinedTo` is the
  // index of the instruction whose operand it joined, -1 when it was dropped.
  virtual void OnLooseLine(std::string_view line, int32_t joinedTo, SourceLocation at) = 0;
};

struct CompileOptions {
  // Folder that holds Script/; empty means the program folder.
  std::string homeDir;
  // Full path of the file being compiled, when known: an include of it is a
  // cycle like any other.
  std::string rootPath;
  // Filled when set: the file and line of every instruction.
  SourceMap* sourceMap = nullptr;
  // Told about labels, includes and loose lines when set.
  CompileListener* listener = nullptr;
  // When set, read before each line: once it holds true (a stop signal came
  // in), compilation ends where it is and the program gets its final `exit`.
  const std::atomic<bool>* stopRequested = nullptr;
};

// What one compilation did beyond its program.
struct CompileSummary {
  int32_t includedFiles = 0;  // includes compiled in place (a file twice counts twice)
  int32_t cappedIncludes = 0; // `using` lines skipped because of kMaxIncludedFiles
  bool stopped = false;       // ended early because a stop was requested
};

// Includes nest at most this deep; a deeper `using` is skipped like a cycle.
inline constexpr int kMaxIncludeDepth = 64;
// At most this many includes are compiled per compilation; every later
// `using` is skipped. Includes that fan out (each file including the next one
// twice) would otherwise grow exponentially with their depth.
inline constexpr int32_t kMaxIncludedFiles = 1000;

// Compiles `text` into `program` (instructions emptied first, labels added).
// Includes: "<home>/Script/<name with dots as folders>.qvr", compiled in place.
// A `using` of a file that is already being included (directly or through
// other files) is skipped, so circular includes cannot loop; a file included
// twice side by side is compiled twice, as written, up to kMaxIncludedFiles
// includes in all. Each included file is read once per compilation.
CompileSummary Compile(std::string_view text, ScriptProgram& program,
                       const CompileOptions& options = {});

// Path of an include name: dots become folder separators, blanks around the
// name are removed.
std::string IncludePath(std::string_view name, const std::string& homeDir);

}  // namespace qp
