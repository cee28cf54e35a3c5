// Speed of the script engine's main loop: a `while` loop of N iterations
// with `var [#i] ([#i]+1)` and an `if` per pass (four instructions each).
//
//   engine_bench                      Google Benchmark runs
//   engine_bench --loop N             one run of N iterations; prints the
//                                     time and instructions per second
//                                     (used by engine_compare.sh)
//   engine_bench --script FILE        one run of a script file (CR LF lines)
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "compiler/compiler.h"
#include "engine/executor.h"
#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"

namespace {

class SilentUi : public qp::UiService {
 public:
  void Request(qp::ScriptRunner&, qp::UiRequestKind, const std::string&) override {}
};

std::string LoopScript(long iterations) {
  return "var [#i] 0\r\n"
         "while ([#i]<" + std::to_string(iterations) + ")\r\n"
         "{\r\n"
         "var [#i] ([#i]+1)\r\n"
         "if ([#i]==-1)\r\n"
         "{\r\n"
         "note never\r\n"
         "}\r\n"
         "}\r\n";
}

// Runs the loop once; returns the instructions executed.
uint64_t RunLoop(const std::shared_ptr<const qp::ScriptProgram>& program, SilentUi& ui) {
  qp::ScriptRunner runner;
  runner.ui = &ui;
  runner.Load(program);
  qp::Run(runner);
  return runner.instructionCount;
}

std::shared_ptr<const qp::ScriptProgram> Compiled(long iterations) {
  auto program = std::make_shared<qp::ScriptProgram>();
  qp::Compile(LoopScript(iterations), *program);
  return program;
}

void BM_WhileLoop(benchmark::State& state) {
  auto program = Compiled(state.range(0));
  SilentUi ui;
  uint64_t instructions = 0;
  for (auto _ : state) instructions += RunLoop(program, ui);
  state.SetItemsProcessed(static_cast<int64_t>(instructions));
  state.counters["instr/s"] =
      benchmark::Counter(static_cast<double>(instructions), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WhileLoop)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SubstituteNested(benchmark::State& state) {
  qp::ScriptRunner runner;
  runner.variables.Set("i", "7");
  runner.variables.Set("x7", "value");
  for (auto _ : state) {
    std::string text = "a [#x[#i]] b [#i]";
    qp::Substitute(runner, text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_SubstituteNested);

// A page-sized value (HTML with GBK text, 64 KiB) inserted into a call: the
// substitution records the origins of its bytes, which a plain ASCII value
// never needs. Arg 1: the call is the operand's only reference; arg 2: a
// second reference makes the pass replace by occurrence.
void BM_SubstitutePage(benchmark::State& state) {
  qp::ScriptRunner runner;
  std::string page;
  while (page.size() < 65536) page += "<tr><td class=\"c\">\xD6\xD0\xCE\xC4 [x] a<<<b</td></tr>\r\n";
  runner.variables.Set("page", page);
  runner.variables.Set("i", "7");
  const std::string operand = state.range(0) == 1 ? "[@len<<<[#page]]" : "[@len<<<[#page]] [#i]";
  for (auto _ : state) {
    std::string text = operand;
    qp::Substitute(runner, text);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_SubstitutePage)->Arg(1)->Arg(2);

// The same operands through their templates, as the executor uses them.
void BM_TemplateNested(benchmark::State& state) {
  qp::ScriptRunner runner;
  runner.variables.Set("i", "7");
  runner.variables.Set("x7", "value");
  qp::OperandTemplate plan("a [#x[#i]] b [#i]");
  std::string text;
  for (auto _ : state) {
    plan.Expand(runner, text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_TemplateNested);

void BM_TemplateExpression(benchmark::State& state) {
  qp::ScriptRunner runner;
  runner.variables.Set("i", "41");
  qp::OperandTemplate plan("([#i]+1)");
  std::string text;
  for (auto _ : state) {
    plan.Expand(runner, text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_TemplateExpression);

void BM_Evaluate(benchmark::State& state) {
  qp::ScriptRunner runner;
  for (auto _ : state) {
    std::string text = "(12*(3+4)>=80&&7!=2)";
    qp::Evaluate(runner, text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Evaluate);

int LoopOnce(long iterations) {
  auto program = Compiled(iterations);
  SilentUi ui;
  auto started = std::chrono::steady_clock::now();
  uint64_t instructions = RunLoop(program, ui);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("iterations %ld instructions %llu seconds %.3f instr/s %.0f\n", iterations,
              static_cast<unsigned long long>(instructions), seconds, instructions / seconds);
  return 0;
}

int ScriptOnce(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return 2;
  }
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  auto program = std::make_shared<qp::ScriptProgram>();
  qp::Compile(text, *program);
  SilentUi ui;
  auto started = std::chrono::steady_clock::now();
  uint64_t instructions = RunLoop(program, ui);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("script %s instructions %llu seconds %.3f\n", path,
              static_cast<unsigned long long>(instructions), seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--loop") == 0) return LoopOnce(std::atol(argv[2]));
  if (argc == 3 && std::strcmp(argv[1], "--script") == 0) return ScriptOnce(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
