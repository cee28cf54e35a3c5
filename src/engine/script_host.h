// ScriptHost: one JavaScript engine (a Duktape heap) that evaluates text on
// behalf of scripts. The main dialog keeps one for the program's whole life
// (the `js` command); an HTML window may keep one per loaded document. A host
// is used by one thread only; the owner serialises access to it.
//
// Texts cross the boundary in the active code page and are converted to and
// from UTF-8 for the engine. Every evaluation runs under a time budget; past
// it the engine throws a RangeError that script code cannot catch for good,
// so a loop that never ends fails instead of freezing the owner's thread.
//
// The engine's memory is capped as well: past the cap an allocation fails
// inside the engine, which turns it into a script error, instead of the
// whole program running out of memory.
//
// A value becomes text like JavaScript's String(value), except that undefined
// and null give the empty text.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct duk_hthread;  // the engine's context

namespace qp {

// A native object that scripts see under a global name. Members are named
// properties (text values) and methods (text arguments, text result). It is
// called on the host's thread, during an evaluation; it must not throw.
class HostObject {
 public:
  virtual ~HostObject() = default;
  // The names of every property and method, fixed while the host lives.
  virtual std::vector<std::string> Members() const = 0;
  virtual bool IsMethod(const std::string& name) const = 0;
  // Property access; false makes the access a script error.
  virtual bool Get(const std::string& name, std::string& value) = 0;
  virtual bool Set(const std::string& name, const std::string& value) = 0;
  // Method call; false makes the call a script error.
  virtual bool Call(const std::string& name, const std::vector<std::string>& args,
                    std::string& result) = 0;
};

class ScriptHost {
 public:
  // The name of the procedure that the evaluator code defines, and the code.
  static constexpr const char* kEvaluatorName = "kvm27eval";
  static constexpr const char* kEvaluatorCode = "function kvm27eval(s){return eval(s);}";
  static constexpr std::chrono::milliseconds kDefaultTimeBudget{5000};
  static constexpr size_t kDefaultMemoryLimit = size_t{512} << 20;

  ScriptHost() = default;
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Starts a fresh engine (destroying an earlier one). False when the engine
  // cannot be created.
  bool Create();
  // Ends the engine; host objects and procedures are dropped with it.
  void Destroy();
  bool created() const { return context_ != nullptr; }

  // Exposes `object` under the global `name`; with `addMembers` its members
  // are also visible as globals of their own.
  bool AddObject(const std::string& name, std::shared_ptr<HostObject> object, bool addMembers);
  // Runs `code` in the global scope (functions it declares stay defined) and
  // refreshes `procedures`.
  bool AddCode(const std::string& code);
  // Adds the evaluator code; its name then appears in `procedures`.
  bool LoadEvaluator();
  // Calls the evaluator with `argument` as its one text argument: any
  // statement list, whose last value comes back as text.
  bool RunEvaluator(const std::string& argument, std::string& result);
  // Evaluates `expression` in the global scope and gives its value as text.
  bool EvalExpression(const std::string& expression, std::string& result);
  // "Error: " description ", " offending source line "; in line " number,
  // cut to 256 bytes, for the last failure; the failure is then forgotten.
  // Empty when there is no engine.
  const std::string& ErrorText();

  // Global functions defined by added code, in the order they were defined.
  const std::vector<std::string>& procedures() const { return procedures_; }
  void SetTimeBudget(std::chrono::milliseconds budget) { budget_ = budget; }
  // Bytes the engine may hold at once; takes effect at the next Create.
  void SetMemoryLimit(size_t bytes) { memoryLimit_ = bytes; }
  size_t memoryInUse() const { return memoryInUse_; }

  // Called by the engine during evaluations.
  bool PastDeadline() const;
  void* Allocate(size_t size);
  void* Reallocate(void* block, size_t size);
  void Release(void* block);

 private:
  struct PendingError {
    std::string description;
    std::string sourceLine;
    int32_t line = 0;
  };

  // A C function the engine runs protected: (context, data) -> values left.
  using EngineBody = int (*)(duk_hthread*, void*);
  bool CallProtected(EngineBody body, void* data, std::string& result);
  bool RunCompiled(const std::string& source, const std::string& fileName, bool eval,
                   std::string& result);
  void RefreshProcedures();
  void RecordError();
  size_t MemoryRoom() const;
  void StartClock();
  void StopClock() { timing_ = false; }

  void* context_ = nullptr;  // duk_context*, owned
  std::vector<std::string> procedures_;
  std::vector<std::shared_ptr<HostObject>> objects_;  // kept alive for the engine
  std::map<std::string, std::string> sources_;        // file name -> source text
  int32_t codeCount_ = 0;
  PendingError pending_;
  std::string lastError_;
  std::chrono::milliseconds budget_ = kDefaultTimeBudget;
  std::chrono::steady_clock::time_point deadline_;
  bool timing_ = false;
  size_t memoryLimit_ = kDefaultMemoryLimit;
  size_t memoryInUse_ = 0;
};

}  // namespace qp
