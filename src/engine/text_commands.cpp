// `var` and the text commands on named patterns: regex, match, unregex,
// replace. Each handler gets its operand as compiled and substitutes only the
// parts it names; a pattern is never substituted, so its "[", "]" and "$" are
// pattern syntax.
#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "engine/text_commands.h"
#include "regex/regex_pattern.h"
#include "support/messages.h"

namespace qp {
namespace {

// The name of "[#name]" written as a reference: without its first two bytes
// and its last one, whatever they are. The caller checks the length.
std::string ReferenceName(const std::string& reference) {
  return reference.substr(2, reference.size() - 3);
}

RegexPattern* FindPattern(ScriptRunner& runner, const std::string& name) {
  auto it = runner.regexes.find(name);
  return it == runner.regexes.end() ? nullptr : it->second.get();
}

}  // namespace

void AssignVariable(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (parts.first.size() <= 3) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  std::string name = Expanded(runner, ReferenceName(parts.first));
  std::string value = Expanded(runner, std::move(parts.rest));
  runner.variables.Set(name, std::move(value));
}

AssignmentPlan::AssignmentPlan(const std::string& operand) : source(operand) {
  SplitResult parts = Split(operand);
  if (parts.first.size() <= 3) return;
  valid = true;
  std::string namePart = ReferenceName(parts.first);
  fixedName = namePart.find('[') == std::string::npos &&
              !(namePart.size() >= 2 && namePart.front() == '(' && namePart.back() == ')');
  name = std::make_unique<OperandTemplate>(std::move(namePart));
  value = std::make_unique<OperandTemplate>(std::move(parts.rest));
}

AssignmentPlan& OperandCache::Assignment(const std::string& operand) {
  std::unique_ptr<AssignmentPlan>& entry = assignments_[&operand];
  if (!entry || entry->source != operand) entry = std::make_unique<AssignmentPlan>(operand);
  return *entry;
}

// The name first, then the value, as AssignVariable takes them.
// The storage an assignment keeps for its next run (beyond it, a value's
// storage is given back at once).
constexpr size_t kKeptScratchBytes = 64 * 1024;

void AssignCompiled(ScriptRunner& runner, AssignmentPlan& plan) {
  if (!plan.valid) {
    AssignVariable(runner, plan.source);
    return;
  }
  if (!plan.fixedName) {
    std::string name;
    plan.name->Expand(runner, name);
    std::string value;
    plan.value->Expand(runner, value);
    runner.variables.Set(name, std::move(value));
    return;
  }
  plan.value->Expand(runner, plan.scratch);
  if (!plan.target) plan.target = &runner.variables.Ref(plan.name->source());
  plan.target->swap(plan.scratch);
  // The scratch now holds the variable's earlier value; a large one is not
  // kept until the next run of this line.
  if (plan.scratch.capacity() > kKeptScratchBytes) std::string().swap(plan.scratch);
}

void RegexCommand(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kNoValidRegex), operand);
    return;
  }
  std::string name = Expanded(runner, std::move(parts.first));
  // A pattern that does not compile is kept all the same: it matches nothing.
  runner.regexes[name] = std::make_unique<RegexPattern>(parts.rest);
}

void MatchCommand(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  std::string name = Expanded(runner, std::move(parts.first));
  std::string text = Expanded(runner, std::move(parts.rest));
  RegexPattern* pattern = FindPattern(runner, name);
  if (!pattern) {
    ReportError(runner, name + Msg(MessageId::kRegexMissing), operand);
    return;
  }
  pattern->MatchAll(text);
}

void UnregexCommand(ScriptRunner& runner, const std::string& operand) {
  runner.regexes.erase(Expanded(runner, operand));
}

void ReplaceCommand(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  std::string name = Expanded(runner, std::move(parts.first));
  SplitResult target = Split(parts.rest);
  if (target.first.size() <= 3) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  std::string targetName = ReferenceName(target.first);
  std::string source = Expanded(runner, target.first);
  std::string replacement = Expanded(runner, std::move(target.rest));
  targetName = Expanded(runner, std::move(targetName));
  RegexPattern* pattern = FindPattern(runner, name);
  if (!pattern) {
    ReportError(runner, name + Msg(MessageId::kRegexMissing), operand);
    return;
  }
  runner.variables.Set(targetName, pattern->ReplaceAll(source, replacement));
}

}  // namespace qp
