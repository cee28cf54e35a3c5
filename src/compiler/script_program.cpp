#include "compiler/script_program.h"

namespace qp {

const char* CommandName(int32_t code) {
  switch (code) {
#define QP_COMMAND(name, keyword, number, ...) \
  case number:                            \
    return keyword;
#include "compiler/command_codes.def"
#undef QP_COMMAND
    case kLabel:
      return "<label>";
    default:
      return "";
  }
}

KeywordTable::KeywordTable() {
#define QP_COMMAND(name, keyword, code, ...) table_.emplace(keyword, k##name);
#include "compiler/command_codes.def"
#undef QP_COMMAND
}

const KeywordTable& KeywordTable::Instance() {
  static const KeywordTable table;
  return table;
}

CommandCode KeywordTable::Lookup(std::string_view token) const {
  auto it = table_.find(token);
  return it == table_.end() ? kNoCommand : it->second;
}

int32_t ScriptProgram::FindLabel(std::string_view name) const {
  auto it = labels.find(std::string(name));
  return it == labels.end() ? -1 : it->second;
}

int32_t ScriptProgram::LabelOrZero(std::string_view name) const {
  int32_t index = FindLabel(name);
  return index < 0 ? 0 : index;
}

}  // namespace qp
