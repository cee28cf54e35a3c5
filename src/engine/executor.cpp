// The executor: runs one compiled script on its script thread, one
// instruction per iteration. Between two instructions it takes at most one
// thread message (stop, or a window event waiting) and sleeps in place for
// `pause`. Blocks are paired at run time from the braces of the instruction
// list; the pairing is computed once per run (closeFrom), so no instruction
// rescans a block.
#include <chrono>
#include <ctime>

#include "engine/command_table.h"
#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/executor.h"
#include "engine/text_commands.h"
#include "engine/trace.h"
#include "support/messages.h"
#include "support/text.h"

namespace qp {

void PrepareBlocks(ScriptRunner& runner) {
  const auto& code = runner.program->instructions;
  const int32_t n = static_cast<int32_t>(code.size());
  runner.closeFrom.assign(static_cast<size_t>(n) + 1, -1);
  for (int32_t s = n - 1; s >= 0; --s) {
    int32_t result = runner.closeFrom[s + 1];
    if (code[s].code == kBlockClose) {
      result = s;
    } else if (code[s].code == kBlockOpen) {
      int32_t inner = runner.closeFrom[s + 1];
      result = inner < 0 ? -1 : runner.closeFrom[inner + 1];
    }
    runner.closeFrom[s] = result;
  }
}

namespace {

// The "}" that closes depth 1 when scanning from `start`; -1 when there is
// none before the final `exit`.
int32_t CloseAfter(ScriptRunner& runner, int32_t start) {
  if (runner.closeFrom.size() != static_cast<size_t>(runner.program->size()) + 1)
    PrepareBlocks(runner);
  if (start < 0 || start >= runner.lastIndex) return -1;
  int32_t close = runner.closeFrom[start];
  return close >= runner.lastIndex ? -1 : close;
}

}  // namespace

int32_t FindAfterBlock(ScriptRunner& runner, int32_t openIndex) {
  int32_t close = CloseAfter(runner, openIndex + 1);
  return close < 0 ? openIndex + 1 : close + 1;
}

void EnterBlock(ScriptRunner& runner, int32_t openIndex) {
  int32_t close = CloseAfter(runner, openIndex + 1);
  if (close >= 0) runner.continuations.push_back(close + 1);
  runner.continuations.push_back(openIndex + 1);
}

namespace {

bool IsTrue(const std::string& condition) {
  return !condition.empty() && Trim(condition) != "0";
}

class Executor {
 public:
  explicit Executor(ScriptRunner& runner)
      : r_(runner),
        code_(runner.program->instructions),
        templates_(code_.size(), nullptr),
        plans_(code_.size(), nullptr) {}

  // Returns when the script has ended or was stopped.
  void Loop() {
    while (!r_.continuations.empty()) {
      int32_t message = r_.control.TakeMessage();
      if (message == WM_SCRIPT_STOP) {
        SendUiRequest(r_, UiRequestKind::State, "stop");
        SendUiRequest(r_, UiRequestKind::State, "exit");
        return;
      }
      if (message == WM_SCRIPT_WAKE && TakeEvent()) continue;
      if (r_.sleepRemainingMs > 0) {
        Sleep();
        continue;
      }
      if (!Step()) break;
    }
    r_.continuations.clear();
    SendUiRequest(r_, UiRequestKind::State, "exit");
  }

 private:
  // A window event is waiting. True when the thread suspended itself and the
  // loop must begin a new iteration.
  bool TakeEvent() {
    if (r_.handlerDepth > 0) return false;  // events during a handler are lost
    SendUiRequest(r_, UiRequestKind::FetchWindowEvent, std::string());
    std::string label = "<on_" + r_.variables.Get("window_name") + "_" +
                        r_.variables.Get("window_event") + ">";
    if (r_.trace) TraceEvent(r_, label);
    int32_t index = r_.program->FindLabel(label);
    if (index >= 0) {
      ++r_.handlerDepth;
      r_.continuations.push_back(index);
      return false;
    }
    if (!r_.waitForEvents) return false;
    SuspendForEvents();
    return true;
  }

  void SuspendForEvents() {
    SendUiRequest(r_, UiRequestKind::Suspend, std::string());
    r_.control.SuspendSelf();
  }

  void Sleep() {
    auto started = std::chrono::steady_clock::now();
    r_.control.ResetSleep();
    if (!r_.control.WaitSleep(r_.sleepRemainingMs)) {
      r_.sleepRemainingMs = 0;
      return;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    r_.sleepRemainingMs -= static_cast<int32_t>(elapsed.count());
  }

  // Runs the instruction on top of the stack; false when the script exits.
  bool Step() {
    i_ = r_.continuations.back();
    r_.continuations.pop_back();
    ++r_.instructionCount;
    // An index past the program (a block opened on the last line) ends its
    // frame instead of reading outside the instruction list.
    if (i_ < 0 || i_ > r_.lastIndex) return true;
    if (r_.trace) TraceInstruction(r_, i_);
    defaultPushed_ = i_ < r_.lastIndex;
    if (defaultPushed_) r_.continuations.push_back(i_ + 1);
    uint32_t errorsBefore = r_.errorCount;
    bool goOn = Dispatch(code_[i_]);
    // An error report ends the run after this instruction: what the
    // instruction pushed after the report does not revive it.
    if (r_.errorCount != errorsBefore) r_.continuations.clear();
    return goOn;
  }

  void DropDefault() {
    if (defaultPushed_ && !r_.continuations.empty()) r_.continuations.pop_back();
    defaultPushed_ = false;
  }

  void Push(int32_t index) { r_.continuations.push_back(index); }

  // The operand of instruction j, substituted through its template.
  std::string ExpandAt(int32_t j) {
    OperandTemplate*& t = templates_[static_cast<size_t>(j)];
    if (!t) t = &r_.operands.For(code_[static_cast<size_t>(j)].operand);
    std::string text;
    t->Expand(r_, text);
    return text;
  }
  std::string Expand() { return ExpandAt(i_); }

  void Assign() {
    AssignmentPlan*& plan = plans_[static_cast<size_t>(i_)];
    if (!plan) plan = &r_.operands.Assignment(code_[static_cast<size_t>(i_)].operand);
    AssignCompiled(r_, *plan);
  }

  bool Dispatch(const ScriptInstruction& in);
  bool Flow(const ScriptInstruction& in);
  void Text(const ScriptInstruction& in);
  void Request(const CommandRoute& route);
  void If();
  void While();
  void Switch();
  void BlockOpen();
  void BlockClose();
  void EndFrame();
  void Goto(const std::string& operand);
  void Call();
  void Pause();
  void Suspend();
  void Resume();
  void DropLeftLoops();

  ScriptRunner& r_;
  const std::vector<ScriptInstruction>& code_;
  // By instruction index, found on first use: the runner owns them.
  std::vector<OperandTemplate*> templates_;
  std::vector<AssignmentPlan*> plans_;
  int32_t i_ = 0;
  bool defaultPushed_ = false;
};

// The route of the code picks the family; the executor's own commands and
// the engine's text commands are the two short switches below, a UI request
// is one send, and every other family goes to the handler its subsystem
// registered.
bool Executor::Dispatch(const ScriptInstruction& in) {
  const CommandRoute& route = RouteOf(in.code);
  switch (route.family) {
    case CommandFamily::Flow: return Flow(in);
    case CommandFamily::Text: Text(in); return true;
    case CommandFamily::Ui: Request(route); return true;
    default: RunRegisteredCommand(r_, in.code, in.operand); return true;
  }
}

bool Executor::Flow(const ScriptInstruction& in) {
  const std::string& op = in.operand;
  switch (in.code) {
    case kIf: If(); break;
    case kWhile: While(); break;
    case kEval: Expand(); break;
    case kVar: Assign(); break;
    case kReturn: case kBreak: EndFrame(); break;
    case kSwitch: Switch(); break;
    case kExit: return false;
    case kBlockOpen: BlockOpen(); break;
    case kBlockClose: BlockClose(); break;
    case kGoto: Goto(op); break;
    case kCall: Call(); break;
    case kPause: Pause(); break;
    case kSrand: r_.randomState = static_cast<uint32_t>(std::time(nullptr)); break;
    case kSuspend: Suspend(); break;
    case kResume: Resume(); break;
    default:  // else, case, default, new, minwindow, maxwindow: nothing here
      break;
  }
  return true;
}

void Executor::Text(const ScriptInstruction& in) {
  switch (in.code) {
    case kRegex: RegexCommand(r_, in.operand); break;
    case kMatch: MatchCommand(r_, in.operand); break;
    case kUnregex: UnregexCommand(r_, in.operand); break;
    case kReplace: ReplaceCommand(r_, in.operand); break;
    default: break;
  }
}

// A command of the UI family sends its request with the substituted operand
// (or none); a prompt then waits until the answer is in "input".
void Executor::Request(const CommandRoute& route) {
  SendUiRequest(r_, route.ui,
                route.operand == OperandUse::Substituted ? Expand() : std::string());
  if (route.ui == UiRequestKind::Prompt) r_.control.WaitWhileSuspended();
}

// if: the then-block runs as a frame that goes on after any else-block; a
// false condition goes on after the then-block, where an `else` is a no-op
// and its "{" enters the else-block as a plain block.
void Executor::If() {
  DropDefault();
  if (i_ >= r_.lastIndex) return;
  std::string condition = Expand();
  int32_t thenOpen = i_ + 1;
  int32_t after = FindAfterBlock(r_, thenOpen);
  if (!IsTrue(condition)) {
    if (after <= r_.lastIndex) Push(after);
    return;
  }
  if (after <= r_.lastIndex && code_[after].code == kElse) after = FindAfterBlock(r_, after + 1);
  Push(after > r_.lastIndex ? r_.lastIndex : after);
  Push(thenOpen + 1);
}

// while: the condition is tested each time the body's "{" runs.
void Executor::While() {
  DropDefault();
  LoopFrame frame;
  frame.headIndex = i_ + 1;
  frame.closeIndex = FindAfterBlock(r_, i_ + 1) - 1;
  Push(frame.closeIndex + 1);
  frame.baseDepth = r_.continuations.size();
  Push(frame.headIndex);
  r_.loops.push_back(std::move(frame));
}

// switch: the first `case` (equal text) or `default` at the block's own
// depth, in text order, runs its block; no fall-through.
void Executor::Switch() {
  DropDefault();
  if (i_ >= r_.lastIndex) return;
  const std::string value = Expand();
  int32_t match = -1;
  for (int32_t j = i_ + 2; j <= r_.lastIndex; ++j) {
    CommandCode code = code_[j].code;
    if (code == kBlockOpen) {
      j = CloseAfter(r_, j + 1);  // the nested block's "}" is back at depth 1
      if (j < 0) break;
      code = code_[j].code;
    } else if (code == kBlockClose) {
      if (j < r_.lastIndex) Push(j + 1);
      break;
    }
    if (match >= 0) continue;
    std::string text = ExpandAt(j);
    bool hit = code == kDefault || (code == kCase && text == value);
    if (hit && j < r_.lastIndex) match = j + 1;
  }
  if (match < 0) return;
  // The matched block runs as a frame right above the after-switch index, so
  // its "}" goes on after the switch instead of into the next case.
  if (match < r_.lastIndex && code_[match].code == kBlockOpen) ++match;
  Push(match);
}

void Executor::BlockOpen() {
  if (!r_.loops.empty() && r_.loops.back().headIndex == i_) {
    // The `while` right before the "{" holds the condition's operand.
    std::string condition = ExpandAt(i_ - 1);
    if (Trim(condition) == "0") {
      DropDefault();
      r_.loops.pop_back();
    }
    return;
  }
  DropDefault();
  if (i_ < r_.lastIndex) EnterBlock(r_, i_);
}

void Executor::BlockClose() {
  DropDefault();
  if (!r_.loops.empty() && r_.loops.back().closeIndex == i_) {
    Push(r_.loops.back().headIndex);
    return;
  }
  DropLeftLoops();
}

// A loop whose body frame is gone (left by break, return or a goto out of
// the body) is over: its frame must not shadow an enclosing loop's "}".
void Executor::DropLeftLoops() {
  while (!r_.loops.empty() && r_.loops.back().baseDepth >= r_.continuations.size())
    r_.loops.pop_back();
}

// return, break: the current frame ends; the end of a handler may put the
// thread back to waiting for events.
void Executor::EndFrame() {
  DropDefault();
  DropLeftLoops();
  if (r_.handlerDepth <= 0) return;
  if (--r_.handlerDepth == 0 && r_.waitForEvents) SuspendForEvents();
}

void Executor::Goto(const std::string& operand) {
  if (r_.handlerDepth > 0) {
    ReportError(r_, Msg(MessageId::kGotoInHandler), "GOTO " + operand);
    return;
  }
  DropDefault();
  // A missing label jumps to instruction 0; the shared label table is only
  // read, never extended.
  Push(r_.program->LabelOrZero(Expand()));
}

void Executor::Call() {
  std::string name = Expand();
  int32_t index = r_.program->FindLabel(name);
  if (index < 0) {
    ReportError(r_, Msg(MessageId::kUndefinedSection), "CALL " + name);
    return;
  }
  Push(index);
  if (r_.handlerDepth > 0) ++r_.handlerDepth;
}

void Executor::Pause() {
  SendUiRequest(r_, UiRequestKind::State, "sleep");
  r_.sleepRemainingMs = LeadingInt(Expand());
  if (r_.sleepRemainingMs > 0) Sleep();
}

void Executor::Suspend() {
  r_.waitForEvents = 1;
  if (r_.handlerDepth == 0) SuspendForEvents();
}

void Executor::Resume() {
  r_.waitForEvents = 0;
  if (r_.handlerDepth == 0) ReportError(r_, Msg(MessageId::kResumeOutsideHandler), "RESUME");
}

}  // namespace

void Run(ScriptRunner& runner) {
  if (!runner.program || runner.program->size() == 0) {
    runner.continuations.clear();
    SendUiRequest(runner, UiRequestKind::State, "exit");
    return;
  }
  runner.lastIndex = runner.program->size() - 1;
  PrepareBlocks(runner);
  Executor(runner).Loop();
}

}  // namespace qp
