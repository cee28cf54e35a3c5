// Placeholder until the executor lands: runs nothing.
#include "engine/script_runner.h"

namespace qp {

void Run(ScriptRunner& runner) {
  runner.continuations.clear();
  SendUiRequest(runner, UiRequestKind::State, "exit");
}

void Substitute(ScriptRunner&, std::string&) {}
void Evaluate(ScriptRunner&, std::string&) {}

}  // namespace qp
