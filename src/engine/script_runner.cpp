#include "engine/script_runner.h"

#include "regex/regex_pattern.h"
#include "support/messages.h"

namespace qp {

ScriptRunner::ScriptRunner() = default;

ScriptRunner::~ScriptRunner() {
  continuations.clear();
  loops.clear();
  regexes.clear();
  databases.clear();  // each back end closes its connection when destroyed
  http.reset();
  native.reset();  // closes every library the run loaded
}

void ScriptRunner::Load(std::shared_ptr<const ScriptProgram> compiled) {
  program = std::move(compiled);
  lastIndex = program->size() - 1;
  continuations.clear();
  continuations.push_back(program->EntryIndex());
}

void SendUiRequest(ScriptRunner& runner, UiRequestKind kind, const std::string& text) {
  if (runner.ui) runner.ui->Request(runner, kind, text);
}

void ReportError(ScriptRunner& runner, const std::string& reason, const std::string& command) {
  runner.continuations.clear();
  ++runner.errorCount;
  std::string message = Msg(MessageId::kErrorPrefix);
  message += '"';
  message += command;
  message += "\"\r\n";
  message += Msg(MessageId::kReasonPrefix);
  message += reason;
  SendUiRequest(runner, UiRequestKind::Alert, message);
}

}  // namespace qp
