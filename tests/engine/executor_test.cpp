// The executor driven through Run with real compiled scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "fake_ui.h"

namespace qp::test {
namespace {

using Stack = std::deque<int32_t>;

struct Ran {
  FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
};

// Compiles and runs `text` to its end.
std::unique_ptr<Ran> RunText(const std::string& text,
                             const std::function<void(Ran&)>& before = nullptr) {
  auto ran = std::make_unique<Ran>();
  ran->runner = MakeRunner(text, ran->ui);
  if (before) before(*ran);
  qp::Run(*ran->runner);
  return ran;
}

const char kIfElse[] = "<main>\nif 1\n{\nnote yes\n}\nelse\n{\nnote no\n}\n";

TEST(ExecutorIf, WorkedExampleTrueStepByStep) {
  auto ran = RunText(kIfElse);
  // note yes ran with 8 (after the else-block) under its block's next index.
  ASSERT_EQ(ran->ui.Notes(), std::vector<std::string>{"yes"});
  const Recorded& note = ran->ui.requests[0];
  EXPECT_EQ(note.stack, (Stack{8, 3}));
  EXPECT_EQ(ran->ui.States(), std::vector<std::string>{"exit"});
  EXPECT_TRUE(ran->runner->continuations.empty());
  // 0 if, 2 note, 3 "}", 8 exit.
  EXPECT_EQ(ran->runner->instructionCount, 4u);
}

TEST(ExecutorIf, WorkedExampleFalseStepByStep) {
  std::string text = kIfElse;
  text.replace(text.find("if 1"), 4, "if 0");
  auto ran = RunText(text);
  ASSERT_EQ(ran->ui.Notes(), std::vector<std::string>{"no"});
  EXPECT_EQ(ran->ui.requests[0].stack, (Stack{8, 7}));
  // 0 if, 4 else, 5 "{", 6 note, 7 "}", 8 exit.
  EXPECT_EQ(ran->runner->instructionCount, 6u);
}

TEST(ExecutorIf, ConditionTruth) {
  struct Case {
    const char* value;
    bool taken;
  } cases[] = {{"", false}, {"0", false}, {" 0 ", false}, {"\t0", false}, {"00", true},
               {"0.00", true}, {"   ", true}, {"1", true}, {"abc", true}, {"-0", true}};
  for (const Case& c : cases) {
    auto ran = RunText("if [#c]\n{\nnote then\n}\nnote after\n",
                       [&](Ran& r) { r.runner->variables.Set("c", c.value); });
    std::vector<std::string> expected = {"after"};
    if (c.taken) expected.insert(expected.begin(), "then");
    EXPECT_EQ(ran->ui.Notes(), expected) << "condition '" << c.value << "'";
  }
}

TEST(ExecutorIf, ExpressionConditionAndElseChain) {
  auto ran = RunText(
      "var [#i] 5\n"
      "if ([#i]>3)\n{\nnote big\n}\nelse\n{\nnote small\n}\n"
      "if ([#i]>7)\n{\nnote big\n}\nelse\n{\nnote small\n}\nnote end\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"big", "small", "end"}));
}

TEST(ExecutorIf, LastLineBeforeExitEndsCleanly) {
  // The then-block would start past the program: nothing is read there.
  auto ran = RunText("note a\nif 1\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"a"});
  EXPECT_EQ(ran->ui.States(), std::vector<std::string>{"exit"});
  auto ran2 = RunText("note a\nwhile 1\n");
  EXPECT_EQ(ran2->ui.States(), std::vector<std::string>{"exit"});
}

TEST(ExecutorProgram, MissingMainStartsAtZeroAndFinalExitEnds) {
  auto ran = RunText("note first\n<other>\nnote second\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"first", "second"}));
  auto main = RunText("note first\n<main>\nnote second\n");
  EXPECT_EQ(main->ui.Notes(), std::vector<std::string>{"second"});
}

TEST(ExecutorProgram, ExitEndsAtOnce) {
  auto ran = RunText("note a\nexit\nnote b\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"a"});
  EXPECT_EQ(ran->ui.States(), std::vector<std::string>{"exit"});
}

TEST(ExecutorWhile, CountsWithSubstitutedCondition) {
  auto ran = RunText("var [#i] 0\nwhile ([#i]<3)\n{\nvar [#i] ([#i]+1)\nnote [#i]\n}\nnote done\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"1", "2", "3", "done"}));
  EXPECT_TRUE(ran->runner->loops.empty());
}

TEST(ExecutorWhile, EmptyConditionLeftByBreak) {
  auto ran = RunText("var [#i] 0\nwhile\n{\nvar [#i] ([#i]+1)\nbreak\nnote never\n}\nnote after [#i]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"after 1"});
  EXPECT_TRUE(ran->runner->loops.empty());
}

TEST(ExecutorWhile, EmptyConditionLeftByReturnInSection) {
  auto ran = RunText(
      "<main>\nvar [#i] 0\ncall <s>\nnote back\nexit\n"
      "<s>\nwhile\n{\nvar [#i] ([#i]+1)\nreturn\n}\nnote after loop [#i]\nreturn\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"after loop 1", "back"}));
  EXPECT_TRUE(ran->runner->loops.empty());
}

TEST(ExecutorWhile, BreakInsideIfEndsOnlyTheIfBlock) {
  auto ran = RunText(
      "var [#i] 0\nvar [#n] 0\nwhile ([#i]<3)\n{\nvar [#i] ([#i]+1)\nif 1\n{\nbreak\nnote skipped\n}\n"
      "var [#n] ([#n]+1)\n}\nnote n=[#n]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"n=3"});
}

TEST(ExecutorWhile, BreakFromInnerLoopKeepsOuterLoopRunning) {
  // The inner loop's frame goes with its body, so the outer "}" still
  // belongs to the outer loop.
  auto ran = RunText(
      "var [#o] 0\nvar [#in] 0\nwhile ([#o]<3)\n{\nvar [#o] ([#o]+1)\n"
      "while\n{\nvar [#in] ([#in]+1)\nbreak\n}\n"
      "}\nnote [#o] [#in]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"3 3"});
  EXPECT_TRUE(ran->runner->loops.empty());
}

TEST(ExecutorWhile, NestedLoops) {
  auto ran = RunText(
      "var [#a] 0\nvar [#n] 0\nwhile ([#a]<2)\n{\nvar [#a] ([#a]+1)\nvar [#b] 0\n"
      "while ([#b]<3)\n{\nvar [#b] ([#b]+1)\nvar [#n] ([#n]+1)\n}\n}\nnote [#n]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"6"});
}

TEST(ExecutorSwitch, FirstCaseOrDefaultInTextOrder) {
  const char* script =
      "switch [#v]\n{\ncase a\n{\nnote A\n}\ndefault\n{\nnote D\n}\ncase b\n{\nnote B\n}\n}\n"
      "note after\n";
  struct Case {
    const char* value;
    const char* note;
  } cases[] = {{"a", "A"}, {"b", "D"}, {"x", "D"}, {"A", "D"}};
  for (const Case& c : cases) {
    auto ran = RunText(script, [&](Ran& r) { r.runner->variables.Set("v", c.value); });
    EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{c.note, "after"})) << c.value;
  }
}

TEST(ExecutorSwitch, NoMatchNoDefaultAndSubstitutedCases) {
  const char* script =
      "var [#k] b\nswitch [#v]\n{\ncase a\n{\nnote A\n}\ncase [#k]\n{\nnote B\n}\n}\nnote after\n";
  auto none = RunText(script, [](Ran& r) { r.runner->variables.Set("v", "z"); });
  EXPECT_EQ(none->ui.Notes(), std::vector<std::string>{"after"});
  auto hit = RunText(script, [](Ran& r) { r.runner->variables.Set("v", "b"); });
  EXPECT_EQ(hit->ui.Notes(), (std::vector<std::string>{"B", "after"}));
}

TEST(ExecutorGoto, JumpsToLabelAndMissingLabelGoesToZeroWithoutInserting) {
  auto ran = RunText("<main>\nvar [#n] ([#n]+1)\nif ([#n]<3)\n{\ngoto <nowhere>\n}\nnote [#n]\n",
                     [](Ran& r) { r.runner->variables.Set("n", "0"); });
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"3"});
  EXPECT_EQ(ran->runner->program->labels.size(), 1u);
  auto jump = RunText("goto <b>\nnote skipped\n<b>\nnote b\n");
  EXPECT_EQ(jump->ui.Notes(), std::vector<std::string>{"b"});
}

TEST(ExecutorCall, SectionReturnsAfterCall) {
  auto ran = RunText("<main>\ncall <s>\nnote back\nexit\n<s>\nnote in\nreturn\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"in", "back"}));
}

TEST(ExecutorCall, UnknownSectionReportsAndEnds) {
  auto ran = RunText("var [#x] nope\ncall <[#x]>\nnote after\n");
  EXPECT_TRUE(ran->ui.Notes().empty());
  EXPECT_EQ(ran->ui.Alerts(),
            std::vector<std::string>{ErrorText("CALL <nope>", Msg(MessageId::kUndefinedSection))});
  EXPECT_EQ(ran->ui.States(), std::vector<std::string>{"exit"});
}

TEST(ExecutorErrors, ContinuationsPushedAfterAReportDoNotRevive) {
  // The if reports (too few arguments) and then pushes its blocks.
  auto ran = RunText("if [@len]\n{\nnote then\n}\nnote after\n");
  EXPECT_TRUE(ran->ui.Notes().empty());
  EXPECT_EQ(ran->ui.Alerts(),
            std::vector<std::string>{ErrorText("len", Msg(MessageId::kFormatError))});
  EXPECT_TRUE(ran->runner->continuations.empty());
}

TEST(ExecutorErrors, ResumeOutsideHandler) {
  auto ran = RunText("resume\nnote after\n");
  EXPECT_TRUE(ran->ui.Notes().empty());
  EXPECT_EQ(ran->ui.Alerts(),
            std::vector<std::string>{ErrorText("RESUME", Msg(MessageId::kResumeOutsideHandler))});
}

TEST(ExecutorUi, CommandsBecomeRequests) {
  struct Case {
    const char* line;
    UiRequestKind kind;
    const char* text;
  } cases[] = {
      {"alert hi [#v]", UiRequestKind::Alert, "hi V"},
      {"show s [#v]", UiRequestKind::Show, "s V"},
      {"left l", UiRequestKind::Left, "l"},
      {"right r", UiRequestKind::Right, "r"},
      {"state st", UiRequestKind::State, "st"},
      {"note (1+1)", UiRequestKind::Note, "2"},
      {"js 1+[#v]", UiRequestKind::Js, "1+V"},
      {"openwindow w http://x/", UiRequestKind::OpenWindow, "w http://x/"},
      {"setwindow w title [#v]", UiRequestKind::SetWindow, "w title V"},
      {"showwindow w", UiRequestKind::ShowWindow, "w"},
      {"hidewindow w", UiRequestKind::HideWindow, "w"},
      {"closewindow w", UiRequestKind::CloseWindow, "w"},
      {"jswindow w f()", UiRequestKind::JsWindow, "w f()"},
      {"showtray x", UiRequestKind::ShowTray, ""},
      {"hidetray x", UiRequestKind::HideTray, ""},
  };
  for (const Case& c : cases) {
    auto ran = RunText(std::string(c.line) + "\n",
                       [](Ran& r) { r.runner->variables.Set("v", "V"); });
    ASSERT_GE(ran->ui.requests.size(), 1u) << c.line;
    EXPECT_EQ(ran->ui.requests[0].kind, c.kind) << c.line;
    EXPECT_EQ(ran->ui.requests[0].text, c.text) << c.line;
  }
  auto silent = RunText("minwindow w\nmaxwindow w\nnew\n");
  EXPECT_EQ(silent->ui.requests.size(), 1u);  // only the final state
}

TEST(ExecutorUi, PromptWaitsForTheAnswer) {
  FakeUi ui;
  auto runner = MakeRunner("prompt name?\nnote [#input]\n", ui);
  std::thread replier;
  ui.onRequest = [&](ScriptRunner& r, UiRequestKind kind, const std::string&) {
    if (kind != UiRequestKind::Prompt) return;
    r.control.Suspend();  // the UI holds the script until the answer
    replier = std::thread([&r] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      r.variables.Set("input", "Alice");
      r.control.Resume();
    });
  };
  qp::Run(*runner);
  replier.join();
  EXPECT_EQ(ui.Texts(UiRequestKind::Prompt), std::vector<std::string>{"name?"});
  EXPECT_EQ(ui.Notes(), std::vector<std::string>{"Alice"});
}

const char kHandlerScript[] =
    "<main>\nsuspend\nnote after [#window_value]\nexit\n"
    "<on_w_click>\nnote handler [#window_value]\nresume\nreturn\n";

TEST(ExecutorEvents, HandlerRunsAndResumeLetsTheScriptGoOn) {
  FakeUi ui;
  ui.event = {"w", "click", "v1"};
  auto runner = MakeRunner(kHandlerScript, ui);
  ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string&) {
    if (kind == UiRequestKind::Suspend) r.control.PostMessage(WM_SCRIPT_WAKE);
  };
  qp::Run(*runner);
  EXPECT_EQ(ui.Notes(), (std::vector<std::string>{"handler v1", "after v1"}));
  EXPECT_EQ(runner->handlerDepth, 0);
  EXPECT_EQ(runner->waitForEvents, 0);
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST(ExecutorEvents, HandlerWithoutResumeSuspendsAgainAtItsEnd) {
  FakeUi ui;
  ui.event = {"w", "click", "v"};
  auto runner = MakeRunner(
      "<main>\nsuspend\nnote after\nexit\n<on_w_click>\nnote h\nreturn\n", ui);
  int suspends = 0;
  ui.onRequest = [&](ScriptRunner& r, UiRequestKind kind, const std::string&) {
    if (kind != UiRequestKind::Suspend) return;
    // First two suspensions: an event arrives; the third: stop the script.
    r.control.PostMessage(++suspends < 3 ? WM_SCRIPT_WAKE : WM_SCRIPT_STOP);
  };
  qp::Run(*runner);
  EXPECT_EQ(ui.Notes(), (std::vector<std::string>{"h", "h"}));
  EXPECT_EQ(suspends, 3);
  EXPECT_EQ(ui.States(), (std::vector<std::string>{"stop", "exit"}));
}

TEST(ExecutorEvents, EventWithoutHandlerWhileWaitingSuspendsAgain) {
  FakeUi ui;
  ui.event = {"w", "unknown", ""};
  auto runner = MakeRunner("suspend\nnote after\n", ui);
  int suspends = 0;
  ui.onRequest = [&](ScriptRunner& r, UiRequestKind kind, const std::string&) {
    if (kind == UiRequestKind::Suspend)
      r.control.PostMessage(++suspends < 2 ? WM_SCRIPT_WAKE : WM_SCRIPT_STOP);
  };
  qp::Run(*runner);
  EXPECT_EQ(suspends, 2);
  EXPECT_TRUE(ui.Notes().empty());
}

TEST(ExecutorEvents, EventDuringHandlerIsLost) {
  FakeUi ui;
  ui.event = {"w", "click", ""};
  auto runner = MakeRunner(
      "<main>\nnote start\nnote main\nexit\n<on_w_click>\nnote h1\nnote h2\nreturn\n", ui);
  ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string& text) {
    if (kind != UiRequestKind::Note) return;
    if (text == "start" || text == "h1") r.control.PostMessage(WM_SCRIPT_WAKE);
  };
  qp::Run(*runner);
  EXPECT_EQ(ui.Notes(), (std::vector<std::string>{"start", "h1", "h2", "main"}));
  EXPECT_EQ(std::count_if(ui.requests.begin(), ui.requests.end(),
                          [](const Recorded& r) {
                            return r.kind == UiRequestKind::FetchWindowEvent;
                          }),
            1);
}

TEST(ExecutorEvents, EventDuringPauseRunsAfterIt) {
  FakeUi ui;
  ui.event = {"w", "click", ""};
  auto runner = MakeRunner(
      "<main>\npause 60\nnote after pause\nexit\n<on_w_click>\nnote handler\nreturn\n", ui);
  ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string& text) {
    if (kind == UiRequestKind::State && text == "sleep") {
      r.control.PostMessage(WM_SCRIPT_WAKE);
      r.control.SignalSleep();
    }
  };
  auto started = std::chrono::steady_clock::now();
  qp::Run(*runner);
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(ui.Notes(), (std::vector<std::string>{"handler", "after pause"}));
  // The signal shortened nothing: the handler waited for the pause's end.
  EXPECT_GE(elapsed, std::chrono::milliseconds(40));
}

TEST(ExecutorEvents, GotoRefusedInHandlerAndInSectionsItCalls) {
  for (const char* body : {"goto <main>", "call <s>"}) {
    FakeUi ui;
    ui.event = {"w", "click", ""};
    auto runner = MakeRunner(std::string("<main>\nsuspend\nnote after\nexit\n<on_w_click>\n") +
                                 body + "\nreturn\n<s>\ngoto <main>\nreturn\n",
                             ui);
    ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string&) {
      if (kind == UiRequestKind::Suspend) r.control.PostMessage(WM_SCRIPT_WAKE);
    };
    qp::Run(*runner);
    EXPECT_EQ(ui.Alerts(), std::vector<std::string>{
                               ErrorText("GOTO <main>", Msg(MessageId::kGotoInHandler))})
        << body;
    EXPECT_TRUE(ui.Notes().empty()) << body;
  }
}

TEST(ExecutorEvents, ResumeAllowedInsideHandler) {
  FakeUi ui;
  ui.event = {"w", "click", "x"};
  auto runner = MakeRunner(kHandlerScript, ui);
  ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string&) {
    if (kind == UiRequestKind::Suspend) r.control.PostMessage(WM_SCRIPT_WAKE);
  };
  qp::Run(*runner);
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST(ExecutorStop, StopDuringLongPauseEndsAtOnce) {
  FakeUi ui;
  auto runner = MakeRunner("pause 100000\nnote never\n", ui);
  std::promise<void> sleeping;
  ui.onRequest = [&](ScriptRunner&, UiRequestKind kind, const std::string& text) {
    if (kind == UiRequestKind::State && text == "sleep") sleeping.set_value();
  };
  auto done = std::async(std::launch::async, [&] { qp::Run(*runner); });
  ASSERT_EQ(sleeping.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  runner->control.PostMessage(WM_SCRIPT_STOP);
  runner->control.SignalSleep();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(ui.States(), (std::vector<std::string>{"sleep", "stop", "exit"}));
  EXPECT_TRUE(ui.Notes().empty());
}

TEST(ExecutorStop, StopPostedBeforeTheSleepBeginsIsNotLost) {
  FakeUi ui;
  auto runner = MakeRunner("pause 100000\nnote never\n", ui);
  ui.onRequest = [](ScriptRunner& r, UiRequestKind kind, const std::string& text) {
    if (kind == UiRequestKind::State && text == "sleep") r.control.PostMessage(WM_SCRIPT_STOP);
  };
  auto done = std::async(std::launch::async, [&] { qp::Run(*runner); });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(ui.States(), (std::vector<std::string>{"sleep", "stop", "exit"}));
}

TEST(ExecutorPause, SleepsTheGivenTime) {
  FakeUi ui;
  auto runner = MakeRunner("pause 30\nnote after\n", ui);
  auto started = std::chrono::steady_clock::now();
  qp::Run(*runner);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(25));
  EXPECT_EQ(ui.Notes(), std::vector<std::string>{"after"});
}

TEST(ExecutorRandom, ClassicGeneratorSequence) {
  ScriptRunner runner;
  runner.randomState = 1;
  EXPECT_EQ(NextRandom(runner), 41);
  EXPECT_EQ(NextRandom(runner), 18467);
  EXPECT_EQ(NextRandom(runner), 6334);
  EXPECT_EQ(NextRandom(runner), 26500);
  FakeUi ui;
  auto seeded = MakeRunner("srand\n", ui);
  qp::Run(*seeded);
  EXPECT_NE(seeded->randomState, 1u);
}

TEST(ExecutorBlocks, FindAfterBlockPairsBraces) {
  FakeUi ui;
  // 0 {, 1 {, 2 }, 3 note, 4 }, 5 {, 6 note, 7 exit (unclosed)
  auto runner = MakeRunner("{\n{\n}\nnote a\n}\n{\nnote b\n", ui);
  EXPECT_EQ(FindAfterBlock(*runner, 0), 5);
  EXPECT_EQ(FindAfterBlock(*runner, 1), 3);
  EXPECT_EQ(FindAfterBlock(*runner, 5), 6);  // no match before the final exit
  runner->continuations.clear();
  EnterBlock(*runner, 0);
  EXPECT_EQ(runner->continuations, (Stack{5, 1}));
  runner->continuations.clear();
  EnterBlock(*runner, 5);
  EXPECT_EQ(runner->continuations, (Stack{6}));
}

}  // namespace
}  // namespace qp::test
