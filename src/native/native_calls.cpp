#include "native/native_calls.h"

#include <dlfcn.h>

#include <memory>

#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "native/native_invoke.h"
#include "native/native_libraries.h"
#include "native/native_reference.h"
#include "support/files.h"
#include "support/messages.h"

namespace qp {
namespace {

// The run's libraries, made on first use.
NativeLibraries& Libraries(ScriptRunner& runner) {
  if (!runner.native) runner.native = std::make_unique<NativeLibraries>();
  return *runner.native;
}

// Parses one item, reporting an unclosed cast with the item as the command.
NativeItem ParseReported(ScriptRunner& runner, const std::string& item) {
  NativeItem parsed = ParseNativeItem(item);
  if (parsed.bracketError) ReportError(runner, Msg(MessageId::kBracketMismatch), item);
  return parsed;
}

// The entry point of "library.function", from the cache or looked up once;
// null after reporting why there is none.
void* ResolveEntryPoint(ScriptRunner& runner, const std::string& reference,
                        const std::string& inner) {
  NativeLibraries& libraries = Libraries(runner);
  auto cached = libraries.functions.find(reference);
  if (cached != libraries.functions.end()) return cached->second;
  const SplitResult parts = Split(reference, ".");
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), inner);
    return nullptr;
  }
  auto library = libraries.handles.find(parts.first);
  if (library == libraries.handles.end()) {
    ReportError(runner, parts.first + Msg(MessageId::kDllMissing), inner);
    return nullptr;
  }
  void* entry = library->second ? dlsym(library->second, parts.rest.c_str()) : nullptr;
  if (entry == nullptr) {
    ReportError(runner, reference + Msg(MessageId::kDllFunctionMissing), inner);
    return nullptr;
  }
  libraries.functions[reference] = entry;
  return entry;
}

}  // namespace

void LoadLibraryCommand(ScriptRunner& runner, const std::string& operand) {
  NativeLibraries& libraries = Libraries(runner);
  const SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  const std::string name = Expanded(runner, parts.first);
  const std::string path = Expanded(runner, parts.rest);
  libraries.Forget(name);
  // An empty path would open the program itself; it counts as a failed load.
  // A failed load is noticed only when one of its functions is called.
  void* handle =
      path.empty() ? nullptr : dlopen(FileSystemPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  libraries.handles[name] = handle;
}

void UnloadLibraryCommand(ScriptRunner& runner, const std::string& name) {
  NativeLibraries& libraries = Libraries(runner);
  if (libraries.handles.count(name) == 0) {
    ReportError(runner, Msg(MessageId::kUnloadUnknownDll), "UNLOADDLL " + name);
    return;
  }
  libraries.Forget(name);
}

void RunNativeCommand(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  if (code == kLoadDll) LoadLibraryCommand(runner, operand);
  if (code == kUnloadDll) UnloadLibraryCommand(runner, operand);
}

std::string CallNativeFunction(ScriptRunner& runner, const std::string& inner) {
  return CallNativeFunction(runner, SplitNativeItems(inner), inner);
}

std::string CallNativeFunction(ScriptRunner& runner, const std::vector<std::string>& items,
                               const std::string& inner) {
  const NativeItem function = ParseReported(runner, items[0]);
  void* entry = ResolveEntryPoint(runner, function.text, inner);
  if (entry == nullptr) return std::string();
  std::vector<NativeItem> args;
  for (size_t i = 1; i < items.size(); ++i) {
    args.push_back(ParseReported(runner, items[i]));
    if (args.back().kind == NativeKind::kBstr) {
      ReportError(runner, Msg(MessageId::kFormatError), inner);
      return std::string();
    }
  }
  std::string result;
  if (!InvokeNative(entry, function.kind, args, result)) return std::string();
  return result;
}

void FreeLibraries(ScriptRunner& runner) {
  if (runner.native) runner.native->CloseAll();
}

}  // namespace qp
