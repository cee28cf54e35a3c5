#include "engine/script_host.h"

#include <duktape.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "support/codepage.h"
#include "support/text.h"

// The engine's execution-time check (see duk_exec_timeout_config.h).
extern "C" int qp_duk_exec_timeout(void* udata) {
  return udata != nullptr && static_cast<const qp::ScriptHost*>(udata)->PastDeadline() ? 1 : 0;
}

namespace qp {
namespace {

constexpr size_t kErrorTextLimit = 256;
// The engine names eval code "input"; evaluated texts are filed under it.
constexpr const char* kEvalFileName = "input";
// Hidden properties (not reachable from script code) of the native functions
// that serve host objects.
constexpr const char* kHostKey = "\xFF" "qpHost";
constexpr const char* kMemberKey = "\xFF" "qpMember";

duk_context* Ctx(void* context) { return static_cast<duk_context*>(context); }

// Errors outside every protected call cannot happen by construction; should
// the engine still give up, there is no state left to save.
void FatalHandler(void*, const char* message) {
  std::fprintf(stderr, "quorpack: JavaScript engine failure: %s\n", message ? message : "");
  std::abort();
}

void* AllocateFor(void* host, duk_size_t size) {
  return static_cast<ScriptHost*>(host)->Allocate(size);
}
void* ReallocateFor(void* host, void* block, duk_size_t size) {
  return static_cast<ScriptHost*>(host)->Reallocate(block, size);
}
void ReleaseFor(void* host, void* block) { static_cast<ScriptHost*>(host)->Release(block); }

// Engine calls that may throw (an allocation past the memory limit, a getter
// of script code) run inside protected calls, so that the engine unwinds only
// these C functions, never C++ frames, and never reaches its fatal handler.
struct Utf8Text {
  explicit Utf8Text(std::string_view text)
      : bytes(ConvertCodePage(text, kCodePageActive, kCodePageUtf8)) {}
  std::string bytes;
};

duk_ret_t PushBytes(duk_context* ctx, void* udata) {
  const std::string& bytes = static_cast<const Utf8Text*>(udata)->bytes;
  duk_push_lstring(ctx, bytes.data(), bytes.size());
  return 1;
}

// Pushes `text` converted to UTF-8; false (nothing pushed) when the engine
// cannot hold it.
bool PushText(duk_context* ctx, std::string_view text) {
  Utf8Text utf8(text);
  if (duk_safe_call(ctx, PushBytes, &utf8, 0, 1) == DUK_EXEC_SUCCESS) return true;
  duk_pop(ctx);
  return false;
}

// [] -> [value of global name(argument)].
struct NamedCall {
  const char* name;
  Utf8Text argument;
};

duk_ret_t CallByName(duk_context* ctx, void* udata) {
  const auto* call = static_cast<const NamedCall*>(udata);
  duk_get_global_string(ctx, call->name);
  duk_push_lstring(ctx, call->argument.bytes.data(), call->argument.bytes.size());
  duk_call(ctx, 1);
  return 1;
}

// [] -> [value of the compiled source].
struct CompiledRun {
  Utf8Text source;
  const char* fileName;
  duk_uint_t flags;
};

duk_ret_t CompileAndRun(duk_context* ctx, void* udata) {
  const auto* run = static_cast<const CompiledRun*>(udata);
  duk_push_lstring(ctx, run->source.bytes.data(), run->source.bytes.size());
  duk_push_string(ctx, run->fileName);
  duk_compile(ctx, run->flags);
  duk_call(ctx, 0);
  return 1;
}

// The string at `index` in the active code page. Read character by character
// so that the engine's own encoding of characters outside the BMP (and of
// surrogate halves built by script code) turns into proper UTF-16.
std::string TextAt(duk_context* ctx, duk_idx_t index) {
  std::u16string wide;
  const duk_size_t length = duk_get_length(ctx, index);
  wide.reserve(length);
  for (duk_size_t i = 0; i < length; ++i) {
    duk_codepoint_t c = duk_char_code_at(ctx, index, i);
    if (c < 0 || c > 0x10FFFF) c = 0xFFFD;
    if (c > 0xFFFF) {
      c -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (c >> 10));
      wide += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
  }
  return FromWide(wide);
}

// Line `number` (from 1) of `text`; CR LF, LF and CR each end a line, as in
// the engine's lexer. Empty when there is no such line.
std::string LineOf(const std::string& text, int32_t number) {
  size_t start = 0;
  for (int32_t line = 1; start <= text.size(); ++line) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (line == number) return text.substr(start, end - start);
    if (end == text.size()) break;
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return std::string();
}

duk_ret_t CoerceToString(duk_context* ctx, void*) {
  duk_to_string(ctx, -1);
  return 1;
}

// [error] -> [line, fileName, description]; never throws past itself.
duk_ret_t DescribeError(duk_context* ctx, void*) {
  if (duk_is_error(ctx, 0)) {
    duk_get_prop_string(ctx, 0, "lineNumber");
    duk_get_prop_string(ctx, 0, "fileName");
  } else {
    duk_push_int(ctx, 0);
    duk_push_string(ctx, "");
  }
  duk_dup(ctx, 0);
  duk_safe_to_string(ctx, -1);
  return 3;
}

// [] -> [array of the global object's own enumerable function names]. Reads
// property descriptors so that no getter runs.
duk_ret_t ListGlobalFunctions(duk_context* ctx, void*) {
  duk_push_array(ctx);
  duk_push_global_object(ctx);
  duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
  duk_uarridx_t count = 0;
  while (duk_next(ctx, -1, 0)) {
    duk_dup(ctx, -1);
    duk_get_prop_desc(ctx, -4, 0);
    duk_get_prop_string(ctx, -1, "value");
    const bool callable = duk_is_callable(ctx, -1);
    duk_pop_2(ctx);
    if (callable) {
      duk_put_prop_index(ctx, -4, count++);
    } else {
      duk_pop(ctx);
    }
  }
  duk_pop_2(ctx);
  return 1;
}

// Host objects: every member is served by a native function that carries the
// object and the member name as hidden properties.
struct MemberCall {
  HostObject* object = nullptr;
  std::string name;
};

MemberCall CurrentMember(duk_context* ctx) {
  MemberCall call;
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kHostKey);
  call.object = static_cast<HostObject*>(duk_get_pointer(ctx, -1));
  duk_get_prop_string(ctx, -2, kMemberKey);
  call.name = TextAt(ctx, -1);
  duk_pop_3(ctx);
  return call;
}

// Text of argument `index`, coerced without letting a script error escape.
std::string ArgumentText(duk_context* ctx, duk_idx_t index) {
  duk_safe_to_string(ctx, index);
  return TextAt(ctx, index);
}

// A refused access becomes a TypeError raised by the engine after this frame
// has returned, so no C++ frame is ever unwound by the engine.
duk_ret_t GetMember(duk_context* ctx) {
  MemberCall call = CurrentMember(ctx);
  std::string value;
  if (call.object == nullptr || !call.object->Get(call.name, value)) return DUK_RET_TYPE_ERROR;
  return PushText(ctx, value) ? 1 : DUK_RET_RANGE_ERROR;
}

duk_ret_t SetMember(duk_context* ctx) {
  MemberCall call = CurrentMember(ctx);
  const std::string value = ArgumentText(ctx, 0);
  if (call.object == nullptr || !call.object->Set(call.name, value)) return DUK_RET_TYPE_ERROR;
  return 0;
}

duk_ret_t CallMember(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  std::vector<std::string> args;
  for (duk_idx_t i = 0; i < count; ++i) args.push_back(ArgumentText(ctx, i));
  MemberCall call = CurrentMember(ctx);
  std::string result;
  if (call.object == nullptr || !call.object->Call(call.name, args, result)) {
    return DUK_RET_TYPE_ERROR;
  }
  return PushText(ctx, result) ? 1 : DUK_RET_RANGE_ERROR;
}

// What the protected builder of a host object needs, converted beforehand so
// that the builder creates no C++ objects the engine could unwind.
struct ObjectPlan {
  HostObject* object = nullptr;
  std::string name;                  // UTF-8
  std::vector<std::string> members;  // UTF-8
  std::vector<bool> methods;
  bool addMembers = false;
};

void PushMemberFunction(duk_context* ctx, duk_c_function fn, duk_idx_t nargs,
                        const ObjectPlan& plan, size_t i) {
  duk_push_c_function(ctx, fn, nargs);
  duk_push_pointer(ctx, plan.object);
  duk_put_prop_string(ctx, -2, kHostKey);
  duk_push_string(ctx, plan.members[i].c_str());
  duk_put_prop_string(ctx, -2, kMemberKey);
}

// Defines member i on the object at `target`.
void DefineMember(duk_context* ctx, duk_idx_t target, const ObjectPlan& plan, size_t i) {
  target = duk_normalize_index(ctx, target);
  duk_push_string(ctx, plan.members[i].c_str());
  if (plan.methods[i]) {
    PushMemberFunction(ctx, CallMember, DUK_VARARGS, plan, i);
    duk_def_prop(ctx, target, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                                  DUK_DEFPROP_SET_CONFIGURABLE | DUK_DEFPROP_FORCE);
    return;
  }
  PushMemberFunction(ctx, GetMember, 0, plan, i);
  PushMemberFunction(ctx, SetMember, 1, plan, i);
  duk_def_prop(ctx, target, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER |
                                DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                                DUK_DEFPROP_FORCE);
}

duk_ret_t BuildHostObject(duk_context* ctx, void* udata) {
  const ObjectPlan& plan = *static_cast<const ObjectPlan*>(udata);
  duk_push_global_object(ctx);
  duk_push_object(ctx);
  for (size_t i = 0; i < plan.members.size(); ++i) {
    DefineMember(ctx, -1, plan, i);
    if (plan.addMembers) DefineMember(ctx, -2, plan, i);
  }
  duk_put_prop_string(ctx, -2, plan.name.c_str());
  duk_pop(ctx);
  return 0;
}

}  // namespace

ScriptHost::~ScriptHost() { Destroy(); }

bool ScriptHost::Create() {
  Destroy();
  context_ = duk_create_heap(AllocateFor, ReallocateFor, ReleaseFor, this, FatalHandler);
  return context_ != nullptr;
}

void ScriptHost::Destroy() {
  if (context_ != nullptr) duk_destroy_heap(Ctx(context_));
  context_ = nullptr;
  procedures_.clear();
  objects_.clear();
  sources_.clear();
  codeCount_ = 0;
  pending_ = PendingError();
  timing_ = false;
}

// The engine's allocator: the C library's, counting the usable size of every
// block so that the engine never holds more than the limit. A refused
// allocation makes the engine collect garbage and retry, then fail with a
// RangeError.
size_t ScriptHost::MemoryRoom() const {
  return memoryInUse_ < memoryLimit_ ? memoryLimit_ - memoryInUse_ : 0;
}

void* ScriptHost::Allocate(size_t size) {
  if (size > MemoryRoom()) return nullptr;
  void* block = std::malloc(size);
  if (block != nullptr) memoryInUse_ += malloc_usable_size(block);
  return block;
}

void* ScriptHost::Reallocate(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  if (size == 0) {
    Release(block);
    return nullptr;
  }
  const size_t old = malloc_usable_size(block);
  if (size > old && size - old > MemoryRoom()) return nullptr;
  void* moved = std::realloc(block, size);
  if (moved == nullptr) return nullptr;
  memoryInUse_ = memoryInUse_ - old + malloc_usable_size(moved);
  return moved;
}

void ScriptHost::Release(void* block) {
  if (block == nullptr) return;
  memoryInUse_ -= malloc_usable_size(block);
  std::free(block);
}

bool ScriptHost::PastDeadline() const {
  return timing_ && std::chrono::steady_clock::now() >= deadline_;
}

void ScriptHost::StartClock() {
  deadline_ = std::chrono::steady_clock::now() + budget_;
  timing_ = true;
}

bool ScriptHost::AddObject(const std::string& name, std::shared_ptr<HostObject> object,
                           bool addMembers) {
  if (context_ == nullptr || object == nullptr) return false;
  ObjectPlan plan;
  plan.object = object.get();
  plan.name = ConvertCodePage(name, kCodePageActive, kCodePageUtf8);
  for (const std::string& member : object->Members()) {
    plan.members.push_back(ConvertCodePage(member, kCodePageActive, kCodePageUtf8));
    plan.methods.push_back(object->IsMethod(member));
  }
  plan.addMembers = addMembers;
  duk_context* ctx = Ctx(context_);
  if (duk_safe_call(ctx, BuildHostObject, &plan, 0, 1) != DUK_EXEC_SUCCESS) {
    RecordError();
    duk_pop(ctx);
    return false;
  }
  duk_pop(ctx);
  objects_.push_back(std::move(object));
  return true;
}

bool ScriptHost::AddCode(const std::string& code) {
  if (context_ == nullptr) return false;
  const std::string fileName = "code" + ToDecimal(++codeCount_);
  std::string ignored;
  const bool ok = RunCompiled(code, fileName, false, ignored);
  RefreshProcedures();
  return ok;
}

bool ScriptHost::LoadEvaluator() { return AddCode(kEvaluatorCode); }

bool ScriptHost::RunEvaluator(const std::string& argument, std::string& result) {
  if (context_ == nullptr) return false;
  bool loaded = false;
  for (const std::string& name : procedures_) loaded = loaded || name == kEvaluatorName;
  if (!loaded) return false;
  sources_[kEvalFileName] = argument;
  NamedCall call{kEvaluatorName, Utf8Text(argument)};
  return CallProtected(CallByName, &call, result);
}

bool ScriptHost::EvalExpression(const std::string& expression, std::string& result) {
  if (context_ == nullptr) return false;
  return RunCompiled(expression, kEvalFileName, true, result);
}

const std::string& ScriptHost::ErrorText() {
  lastError_.clear();
  if (context_ == nullptr) return lastError_;
  std::string text = "Error: " + pending_.description + ", " + pending_.sourceLine +
                     "; in line " + ToDecimal(pending_.line);
  lastError_ = std::string(PrefixOnBoundary(text, kErrorTextLimit));
  pending_ = PendingError();
  return lastError_;
}

// Compiles `source` under `fileName` (as eval code: its last value is the
// result) and runs it.
bool ScriptHost::RunCompiled(const std::string& source, const std::string& fileName, bool eval,
                             std::string& result) {
  sources_[fileName] = source;
  CompiledRun run{Utf8Text(source), fileName.c_str(), eval ? DUK_COMPILE_EVAL : 0u};
  return CallProtected(CompileAndRun, &run, result);
}

// Runs `body` protected and under the time budget and turns the value it
// leaves into text. Leaves the stack as it found it.
bool ScriptHost::CallProtected(EngineBody body, void* data, std::string& result) {
  static_assert(std::is_same_v<EngineBody, duk_safe_call_function>);
  duk_context* ctx = Ctx(context_);
  StartClock();
  bool ok = duk_safe_call(ctx, body, data, 0, 1) == DUK_EXEC_SUCCESS;
  if (ok && duk_is_null_or_undefined(ctx, -1)) {
    result.clear();
  } else if (ok) {
    ok = duk_safe_call(ctx, CoerceToString, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
    if (ok) result = TextAt(ctx, -1);
  }
  if (!ok) RecordError();
  duk_pop(ctx);
  StopClock();
  return ok;
}

// Records the error on top of the stack (left in place) for ErrorText.
void ScriptHost::RecordError() {
  duk_context* ctx = Ctx(context_);
  pending_ = PendingError();
  duk_dup(ctx, -1);
  if (duk_safe_call(ctx, DescribeError, nullptr, 1, 3) != DUK_EXEC_SUCCESS) {
    duk_pop_3(ctx);
    return;
  }
  pending_.line = duk_is_number(ctx, -3) ? duk_get_int(ctx, -3) : 0;
  const std::string fileName = duk_is_string(ctx, -2) ? duk_get_string(ctx, -2) : "";
  pending_.description = TextAt(ctx, -1);
  duk_pop_3(ctx);
  auto source = sources_.find(fileName);
  if (source != sources_.end() && pending_.line > 0) {
    pending_.sourceLine = LineOf(source->second, pending_.line);
  }
}

void ScriptHost::RefreshProcedures() {
  procedures_.clear();
  duk_context* ctx = Ctx(context_);
  StartClock();
  if (duk_safe_call(ctx, ListGlobalFunctions, nullptr, 0, 1) == DUK_EXEC_SUCCESS) {
    const duk_size_t count = duk_get_length(ctx, -1);
    for (duk_size_t i = 0; i < count; ++i) {
      duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(i));
      procedures_.push_back(TextAt(ctx, -1));
      duk_pop(ctx);
    }
  }
  duk_pop(ctx);
  StopClock();
}

}  // namespace qp
