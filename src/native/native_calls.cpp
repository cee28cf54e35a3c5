#include "native/native_calls.h"

#include <dlfcn.h>

#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "native/native_invoke.h"
#include "native/native_reference.h"
#include "support/files.h"
#include "support/messages.h"

namespace qp {
namespace {

// Frees the library loaded under `name` and drops its cached entry points,
// so that none of them can be called after the library has gone.
void ForgetLibrary(ScriptRunner& runner, const std::string& name) {
  auto library = runner.libraries.find(name);
  if (library == runner.libraries.end()) return;
  if (library->second != nullptr) dlclose(library->second);
  runner.libraries.erase(library);
  const std::string prefix = name + ".";
  auto& functions = runner.libraryFunctions;
  for (auto it = functions.lower_bound(prefix); it != functions.end();) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    it = functions.erase(it);
  }
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
  auto cached = runner.libraryFunctions.find(reference);
  if (cached != runner.libraryFunctions.end()) return cached->second;
  const SplitResult parts = Split(reference, ".");
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), inner);
    return nullptr;
  }
  auto library = runner.libraries.find(parts.first);
  if (library == runner.libraries.end()) {
    ReportError(runner, parts.first + Msg(MessageId::kDllMissing), inner);
    return nullptr;
  }
  void* entry = library->second ? dlsym(library->second, parts.rest.c_str()) : nullptr;
  if (entry == nullptr) {
    ReportError(runner, reference + Msg(MessageId::kDllFunctionMissing), inner);
    return nullptr;
  }
  runner.libraryFunctions[reference] = entry;
  return entry;
}

}  // namespace

void LoadLibraryCommand(ScriptRunner& runner, const std::string& operand) {
  const SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  const std::string name = Expanded(runner, parts.first);
  const std::string path = Expanded(runner, parts.rest);
  ForgetLibrary(runner, name);
  // An empty path would open the program itself; it counts as a failed load.
  // A failed load is noticed only when one of its functions is called.
  void* handle =
      path.empty() ? nullptr : dlopen(FileSystemPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  runner.libraries[name] = handle;
  runner.freeLibraries = &FreeLibraries;  // the runner closes what is left when it ends
}

void UnloadLibraryCommand(ScriptRunner& runner, const std::string& name) {
  if (runner.libraries.count(name) == 0) {
    ReportError(runner, Msg(MessageId::kUnloadUnknownDll), "UNLOADDLL " + name);
    return;
  }
  ForgetLibrary(runner, name);
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
  for (auto& [name, handle] : runner.libraries) {
    if (handle != nullptr) dlclose(handle);
  }
  runner.libraries.clear();
  runner.libraryFunctions.clear();
}

}  // namespace qp
