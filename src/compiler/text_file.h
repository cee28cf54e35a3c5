// Reading script, include and boot files the way C's text mode reads them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qp {

// The file's text with every line ended by CR LF, the last one included: a
// line ends at LF, a CR right before that LF is dropped, a lone CR stays, and
// byte 0x1A ends the text. No code-page conversion, no byte-order-mark
// handling. A file that cannot be opened gives the empty text, and so do a
// folder, a device and a file that cannot be read. `path` is a file-system
// path (files.h).
std::string ReadTextFile(const std::string& path);

// The same line rules applied to bytes already in memory.
std::string TextModeLines(std::string_view bytes);

// One usable line of the boot file: its first three "^"-separated fields.
struct BootLine {
  std::string tag;     // field 1, not used by the runner
  std::string script;  // field 2: path under Script/, extension included
  std::string param;   // field 3: the script's "param"
};

// Splits boot-file text into lines (LF ends a line, a CR before it is
// dropped) and keeps the lines with at least three fields, in order.
std::vector<BootLine> ParseBootFile(std::string_view text);

}  // namespace qp
