// The line compiler: turns one script text into a ScriptProgram in a single
// pass. Every line is a command, a label, an include (`using`), a comment, a
// blank line, or a continuation of the previous command's operand. The
// compiler never fails: text it does not recognise joins the previous operand
// or is dropped, and a bad include adds nothing.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "compiler/script_program.h"

namespace qp {

// One parsed line: the code (0 for no command, 23 for a label) and the
// operand (for a label, its lower-cased name). The line arrives without
// leading blanks.
std::pair<CommandCode, std::string> ParseLine(std::string_view line,
                                              const KeywordTable& keywords);

struct CompileOptions {
  // Folder that holds Script/; empty means the program folder.
  std::string homeDir;
  // Full path of the file being compiled, when known: an include of it is a
  // cycle like any other.
  std::string rootPath;
};

// Includes nest at most this deep; a deeper `using` is skipped like a cycle.
inline constexpr int kMaxIncludeDepth = 64;

// Compiles `text` into `program` (instructions emptied first, labels added).
// Includes: "<home>/Script/<name with dots as folders>.qvr", compiled in place.
// A `using` of a file that is already being included (directly or through
// other files) is skipped, so circular includes cannot loop; a file included
// twice side by side is compiled twice, as written.
void Compile(std::string_view text, ScriptProgram& program, const CompileOptions& options = {});

// Path of an include name: dots become folder separators, blanks around the
// name are removed.
std::string IncludePath(std::string_view name, const std::string& homeDir);

}  // namespace qp
