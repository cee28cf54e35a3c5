#include "engine/command_table.h"

#include <array>

#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"

namespace qp {
namespace {

// One more than the highest code of the list.
constexpr int32_t kCodeLimit = [] {
  int32_t limit = 0;
#define QP_COMMAND(name, keyword, code, ...) limit = code >= limit ? code + 1 : limit;
#include "compiler/command_codes.def"
#undef QP_COMMAND
  return limit;
}();

constexpr std::array<CommandRoute, kCodeLimit> kRoutes = [] {
  std::array<CommandRoute, kCodeLimit> routes{};
#define QP_COMMAND(name, keyword, code, family, operand, ui) \
  routes[code] = {CommandFamily::family, OperandUse::operand, UiRequestKind::ui};
#include "compiler/command_codes.def"
#undef QP_COMMAND
  return routes;
}();

constexpr CommandRoute kNoRoute{};

std::array<CommandHandler, kCommandFamilyCount> handlers{};
CallReader nativeCallReader = nullptr;

}  // namespace

const CommandRoute& RouteOf(int32_t code) {
  return code >= 0 && code < kCodeLimit ? kRoutes[static_cast<size_t>(code)] : kNoRoute;
}

void RegisterCommandFamily(CommandFamily family, CommandHandler handler) {
  handlers[static_cast<size_t>(family)] = handler;
}

void RegisterNativeCallReader(CallReader reader) { nativeCallReader = reader; }

void RunRegisteredCommand(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  const CommandRoute& route = RouteOf(code);
  CommandHandler handler = handlers[static_cast<size_t>(route.family)];
  if (!handler) return;
  if (route.operand == OperandUse::Substituted) {
    std::string text;
    ExpandOperand(runner, operand, text);
    handler(runner, code, text);
  } else {
    handler(runner, code, operand);
  }
}

std::string ReadNativeCall(ScriptRunner& runner, const std::vector<std::string>& items,
                           const std::string& inner) {
  return nativeCallReader ? nativeCallReader(runner, items, inner) : std::string();
}

}  // namespace qp
