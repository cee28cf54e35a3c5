#include "engine/trace.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "compiler/compiler.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "support/codepage.h"
#include "support/settings.h"
#include "support/text.h"

namespace qp {
namespace {

bool IsSigil(char c) { return std::string_view("#$@%~!").find(c) != std::string_view::npos; }

// The "]" that closes the reference opened at `open`, or npos.
size_t Closing(std::string_view text, size_t open) {
  int depth = 0;
  for (size_t k = open; k < text.size(); ++k) {
    if (text[k] == '[') ++depth;
    if (text[k] == ']' && --depth == 0) return k;
  }
  return std::string_view::npos;
}

std::string Preview(const VariableStore& variables, std::string_view text) {
  std::string out;
  size_t k = 0;
  while (k < text.size()) {
    size_t close = std::string_view::npos;
    if (text[k] == '[' && k + 1 < text.size() && IsSigil(text[k + 1])) close = Closing(text, k);
    if (close == std::string_view::npos) {
      out += text[k++];
      continue;
    }
    std::string inner = Preview(variables, text.substr(k + 2, close - k - 2));
    if (text[k + 1] == '#' && inner.find('[') == std::string::npos) {
      // An absent variable reads as the empty text, as the run will read it.
      auto found = variables.all().find(inner);
      if (found != variables.all().end()) out += found->second;
    } else {
      out += std::string("[") + text[k + 1] + inner + "]";
    }
    k = close + 1;
  }
  return out;
}

// UTF-8 text on one line: "\\", line feeds and CRs escaped, cut to the limit
// at a character boundary.
std::string OneLine(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  if (out.size() <= kTraceOperandBytes) return out;
  size_t cut = kTraceOperandBytes;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  out.resize(cut);
  return out;
}

std::string ToUtf8(std::string_view text) {
  return ConvertCodePage(text, kCodePageActive, kCodePageUtf8);
}

void WriteLine(std::string line) {
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);  // one write: lines of threads never mix
}

}  // namespace

bool TraceEnabled() {
  if (const char* value = std::getenv("QUORPACK_TRACE")) return std::string_view(value) == "1";
  return Trim(ReadSetting("trace", "0")) == "1";
}

std::string TracePreview(const ScriptRunner& runner, const std::string& operand) {
  return Preview(runner.variables, operand);
}

namespace {

// The operand of one instruction as the trace shows it. A variable that an
// instruction assigns is shown by its reference, not by its old value, and a
// pattern is never substituted.
std::string ShownOperand(const ScriptRunner& runner, const ScriptInstruction& in) {
  if (in.code != kVar && in.code != kGetCookies && in.code != kRegex)
    return TracePreview(runner, in.operand);
  SplitResult parts = Split(in.operand);
  std::string first = parts.first;
  if (in.code != kRegex && first.size() > 3 && first.compare(0, 2, "[#") == 0 && first.back() == ']')
    first = "[#" + TracePreview(runner, first.substr(2, first.size() - 3)) + "]";
  else
    first = TracePreview(runner, first);
  if (!parts.found) return first;
  return first + ' ' + (in.code == kRegex ? parts.rest : TracePreview(runner, parts.rest));
}

}  // namespace

std::string TraceLine(const ScriptRunner& runner, int32_t index) {
  const ScriptInstruction& in = runner.program->instructions[static_cast<size_t>(index)];
  // The source map holds file-system names, which are UTF-8 already; only
  // the operand is in the script's code page.
  std::string where = runner.sourceMap ? runner.sourceMap->Describe(index) : "?:0";
  std::string line = std::to_string(runner.id) + ' ' + where + ' ' + CommandName(in.code);
  if (!in.operand.empty()) line += ' ' + OneLine(ToUtf8(ShownOperand(runner, in)));
  return line;
}

void TraceInstruction(const ScriptRunner& runner, int32_t index) {
  WriteLine(TraceLine(runner, index));
}

void TraceEvent(const ScriptRunner& runner, const std::string& label) {
  WriteLine(std::to_string(runner.id) + " event " + OneLine(ToUtf8(label)));
}

}  // namespace qp
