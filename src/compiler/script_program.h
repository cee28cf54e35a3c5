// The compiled form of one script: a flat list of instructions, one per
// command line, and a table of labels. It holds no jump targets, block
// structure or line numbers: blocks are paired by the executor at run time and
// labels are looked up by name. Once compiled, a program is never changed, so
// any number of runners may read it at once.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qp {

// Signed 32-bit command numbers. 0 is "no keyword" and 23 the label code;
// neither, nor 42 (`using`), is ever stored in a program.
enum CommandCode : int32_t {
  kNoCommand = 0,
  kLabel = 23,
#define QP_COMMAND(name, keyword, code, ...) k##name = code,
#include "compiler/command_codes.def"
#undef QP_COMMAND
};

// Keyword of a code ("" for 0, "<label>" for 23); used by listings.
const char* CommandName(int32_t code);

// Maps a lower-case keyword to its code. The table is constant; one instance
// serves every compilation.
class KeywordTable {
 public:
  static const KeywordTable& Instance();
  // Exact lookup of an already lower-cased token; 0 when absent.
  CommandCode Lookup(std::string_view token) const;
  size_t size() const { return table_.size(); }
  const std::map<std::string, CommandCode, std::less<>>& entries() const { return table_; }

 private:
  KeywordTable();
  std::map<std::string, CommandCode, std::less<>> table_;
};

struct ScriptInstruction {
  CommandCode code;     // the keyword's code
  std::string operand;  // text after the keyword; continuation lines follow after LF
};

struct ScriptProgram {
  std::vector<ScriptInstruction> instructions;
  // Label ("<main>", lower case, brackets included) -> index of the next
  // instruction at the label line.
  std::map<std::string, int32_t> labels;

  void Append(CommandCode code, std::string operand) {
    instructions.push_back({code, std::move(operand)});
  }
  int32_t size() const { return static_cast<int32_t>(instructions.size()); }
  // Index of the label, or -1 when the program has none of that name.
  int32_t FindLabel(std::string_view name) const;
  // Index of the label, or 0 when absent (goto and the entry point). Never
  // inserts: the table stays read-only while runners share it.
  int32_t LabelOrZero(std::string_view name) const;
  int32_t EntryIndex() const { return LabelOrZero("<main>"); }
};

}  // namespace qp
