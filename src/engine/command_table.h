// The routing of every command code, made from the one command list
// (compiler/command_codes.def), and the registry through which subsystems
// above the engine supply the handlers of their command families and the
// "~" reader. The engine itself never includes those subsystems: it knows a
// family only by the handler registered for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compiler/script_program.h"
#include "engine/ui_request.h"

namespace qp {

class ScriptRunner;

enum class CommandFamily : uint8_t {
  Flow,      // the executor's own commands
  Text,      // the engine's text commands on named patterns
  Ui,        // one request to the UI service
  Http,      // registered: HTTP client and cookie jar
  Database,  // registered: database connections
  Native,    // registered: native libraries
};
inline constexpr int kCommandFamilyCount = 6;

enum class OperandUse : uint8_t {
  Raw,          // the handler gets the operand as compiled
  Substituted,  // the dispatcher substitutes the whole operand first
  Unused,       // the operand is not read
};

struct CommandRoute {
  CommandFamily family = CommandFamily::Flow;
  OperandUse operand = OperandUse::Raw;
  UiRequestKind ui = UiRequestKind::NoRequest;
};

// The route of a code; codes outside the list route to Flow (a no-op there).
const CommandRoute& RouteOf(int32_t code);

// A family's handler: the operand as the route says (as compiled, or
// substituted).
using CommandHandler = void (*)(ScriptRunner& runner, CommandCode code, const std::string& operand);
// A reader of call references ("~"): the call's items as the substitution cut
// them, and the whole inner text for error reports.
using CallReader = std::string (*)(ScriptRunner& runner, const std::vector<std::string>& items,
                                   const std::string& inner);

// Registration happens at start-up, before any script thread runs; a later
// registration for the same family replaces the earlier one.
void RegisterCommandFamily(CommandFamily family, CommandHandler handler);
void RegisterNativeCallReader(CallReader reader);

// Runs a command of a registered family, substituting its operand (an
// instruction's operand, whose template the runner keeps) first when its
// route says so. A family that nothing registered does nothing.
void RunRegisteredCommand(ScriptRunner& runner, CommandCode code, const std::string& operand);
// The value of a "~" reference; the empty text when no reader is registered.
std::string ReadNativeCall(ScriptRunner& runner, const std::vector<std::string>& items,
                           const std::string& inner);

}  // namespace qp
