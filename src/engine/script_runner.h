// ScriptRunner: the whole state of one running script (the executor,
// substitution, built-ins and text commands that work on it have headers of
// their own). The UI thread creates
// it, fills the start fields and starts its thread; from then on only its
// script thread uses it, except for the fields the UI thread writes while the
// script thread is blocked in a UI request or suspended (variables, the
// `suspended` flag) and the RunnerControl signals.
//
// The compiled program is shared read-only with the program table. Everything
// else belongs to the runner and is freed with it: patterns, HTTP session,
// database connections, loaded libraries.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compiler/script_program.h"
#include "engine/operand_template.h"
#include "engine/runner_control.h"
#include "engine/ui_request.h"
#include "engine/variable_store.h"

namespace qp {

struct SourceMap;    // compiler/compiler.h
class RegexPattern;  // regex/regex_pattern.h
class HttpSession;   // net/http_session.h, kept by the HTTP commands
class CDBWrapper;    // db/db_wrapper.h, kept by the database commands
class NativeLibraries;  // native/native_libraries.h, kept by the native calls

// Owns an object of a subsystem above the engine, which the engine cannot
// delete itself: the deleter is taken from the std::unique_ptr it is made
// from, where the type is complete. Make one from std::make_unique (or any
// std::unique_ptr<T>); a pointer given to reset() directly is never freed.
template <class T>
struct SubsystemDeleter {
  void (*destroy)(T*) = nullptr;
  SubsystemDeleter() = default;
  SubsystemDeleter(std::default_delete<T>) : destroy([](T* p) { delete p; }) {}
  void operator()(T* p) const {
    if (destroy) destroy(p);
  }
};
template <class T>
using SubsystemPtr = std::unique_ptr<T, SubsystemDeleter<T>>;

struct LoopFrame {
  int32_t headIndex;      // index of the "{" that opens the loop body; the
                          // `while` before it holds the condition
  int32_t closeIndex;     // index of the matching "}"
  // Size of `continuations` with the loop's after-loop index on top: once the
  // stack is shorter than this plus one, the body's frame is gone and the
  // loop has been left (by `break`, `return` or a `goto` out of the body).
  size_t baseDepth = 0;
};

// A query result: rows of column texts.
using QueryTable = std::vector<std::vector<std::string>>;

class ScriptRunner {
 public:
  ScriptRunner();
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  int32_t id = 0;                                   // 1 for the first script started
  std::shared_ptr<const ScriptProgram> program;     // instructions and labels, read-only
  std::shared_ptr<const SourceMap> sourceMap;       // file and line of each instruction (trace)
  bool trace = false;                               // write each instruction to stderr (trace.h)
  int32_t lastIndex = 0;                            // index of the final `exit`
  std::deque<int32_t> continuations;                // top = next instruction; empty = ended
  std::deque<LoopFrame> loops;                      // active `while` loops
  VariableStore variables;
  std::map<std::string, std::unique_ptr<RegexPattern>> regexes;
  SubsystemPtr<HttpSession> http;                   // made by the first HTTP command
  std::map<std::string, SubsystemPtr<CDBWrapper>> databases;
  std::map<std::string, QueryTable> queryResults;
  SubsystemPtr<NativeLibraries> native;             // loaded libraries; closed with the run
  int32_t handlerDepth = 0;                         // > 0 while an event handler runs
  int32_t sleepRemainingMs = 0;                     // time still to sleep in a `pause`
  int32_t waitForEvents = 0;                        // set by `suspend`, cleared by `resume`
  std::string scriptPath;                           // full path of the script file
  std::string param;                                // third boot-file field
  int32_t suspended = 1;                            // kept by the UI thread under its runner lock
  int32_t listIndex = 0;                            // position in the UI thread's runner list
  void* inputDialog = nullptr;                      // open input dialog of a desktop back end
  uint32_t randomState = 1;                         // state of the `rand` generator (`srand`)

  uint64_t instructionCount = 0;                    // instructions run so far (benchmarks)
  uint32_t errorCount = 0;                          // error reports so far
  // For every index s, the first "}" at or after s that closes depth 1 when
  // scanning from s (-1 if none): the pairing of braces, computed once per run
  // so that no instruction rescans a block.
  std::vector<int32_t> closeFrom;
  // The program's operands compiled for this run, and their variable slots.
  OperandCache operands;

  UiService* ui = nullptr;                          // where UI requests go
  RunnerControl control;                            // messages, suspend count, sleep event

  // Fills program, lastIndex and the entry continuation.
  void Load(std::shared_ptr<const ScriptProgram> compiled);
};

// Sends a request to the UI service and waits until it has been served.
void SendUiRequest(ScriptRunner& runner, UiRequestKind kind, const std::string& text);

// The script error report: empties the continuations and sends an Alert with
// "出错：" "\"" command "\"" CR LF "原因：" reason. The instruction in progress
// completes; the run ends when control returns to the main loop.
void ReportError(ScriptRunner& runner, const std::string& reason, const std::string& command);

}  // namespace qp
