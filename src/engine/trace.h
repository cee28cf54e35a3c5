// The trace: with "trace=1" in Config.ini or QUORPACK_TRACE=1 in the
// environment, every instruction a script runs and every event it takes is
// written to standard error, one line each, as UTF-8:
//   <script-id> <FILE>:<LINE> <KEYWORD> <operand>
//   <script-id> event <LABEL>
// The executor tests `runner.trace` once per instruction; everything else
// happens here, so a run without the trace pays nothing more.
#pragma once

#include <string>

namespace qp {

class ScriptRunner;

// Operands are cut to this many bytes of UTF-8, never inside a character.
inline constexpr size_t kTraceOperandBytes = 200;

// The trace switch of this home and environment: QUORPACK_TRACE when set
// (1 on, anything else off), else the "trace" setting.
bool TraceEnabled();

// The operand as the trace shows it: variable references are replaced by the
// variables' values (nested ones from the inside out), while built-in calls,
// native calls, pattern and query results stay as written, since the trace
// must not run anything twice nor create a variable by looking at it.
std::string TracePreview(const ScriptRunner& runner, const std::string& operand);

// Writes the line of the instruction at `index`, before it runs.
void TraceInstruction(const ScriptRunner& runner, int32_t index);
// Writes the line of an event taken, with the handler label looked for.
void TraceEvent(const ScriptRunner& runner, const std::string& label);

// The whole line of an instruction (without its line end), for tests.
std::string TraceLine(const ScriptRunner& runner, int32_t index);

}  // namespace qp
