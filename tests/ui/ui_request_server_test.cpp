// The UI request service against a recording back end: window table rules,
// note files, suspended flags, prompt answers and event hand-over.
#include "ui/ui_request_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/settings.h"

namespace qp {
namespace {

struct Recorded {
  std::vector<std::string> calls;
};

class RecordingWindow : public HtmlWindowView {
 public:
  explicit RecordingWindow(Recorded& log) : log_(log) {}
  ~RecordingWindow() override { log_.calls.push_back("destroy"); }
  void SetTitle(const std::string& c) override { log_.calls.push_back("title:" + c); }
  void Navigate(const std::string& u) override { log_.calls.push_back("url:" + u); }
  void Write(const std::string& h) override { log_.calls.push_back("write:" + h); }
  void Clear() override { log_.calls.push_back("clear"); }
  void Move(int x, int y, int w, int h) override {
    std::ostringstream s;
    s << "move:" << x << "," << y << "," << w << "," << h;
    log_.calls.push_back(s.str());
  }
  void SetShowState(WindowShowState s) override {
    log_.calls.push_back("state:" + std::to_string(static_cast<int>(s)));
  }
  void SetBorder(bool b) override { log_.calls.push_back(b ? "border:on" : "border:off"); }
  void SetTaskbar(bool b) override { log_.calls.push_back(b ? "taskbar:on" : "taskbar:off"); }
  bool RunScript(const std::string& source, std::string& result) override {
    result = "ran " + source;
    return source != "bad";
  }

 private:
  Recorded& log_;
};

class RecordingBackend : public UiBackend {
 public:
  void ShowAlert(const std::string& t) override { log.calls.push_back("alert:" + t); }
  void OpenFile(const std::string& p) override { log.calls.push_back("open:" + p); }
  void* BeginPrompt(ScriptRunner& runner, const std::string& html, PromptAnswer a) override {
    log.calls.push_back("prompt:" + html);
    answer = std::move(a);
    return &runner;
  }
  void EndPrompt(ScriptRunner&) override { log.calls.push_back("endprompt"); }
  std::unique_ptr<HtmlWindowView> CreateHtmlWindow(const std::string& n,
                                                   const std::string& u) override {
    log.calls.push_back("create:" + n + " " + u);
    return std::make_unique<RecordingWindow>(log);
  }
  void ShowTrayIcon(const std::string& tip, bool shown) override {
    log.calls.push_back(std::string(shown ? "tray:update:" : "tray:add:") + tip);
  }
  void HideTrayIcon() override { log.calls.push_back("tray:delete"); }

  Recorded log;
  PromptAnswer answer;
};

class UiRequestServerTest : public ::testing::Test {
 protected:
  void Serve(UiRequestKind kind, const std::string& text) {
    backend_.log.calls.clear();
    server_.Serve(runner_, kind, text);
  }
  const std::vector<std::string>& calls() { return backend_.log.calls; }

  RecordingBackend backend_;  // outlives the windows that state_ holds
  UiState state_;
  UiRequestServer server_{state_, backend_};
  ScriptRunner runner_;
};

TEST_F(UiRequestServerTest, OpenWindowKeepsAnExistingWindowUnchanged) {
  Serve(UiRequestKind::OpenWindow, "main");
  EXPECT_EQ(calls(), std::vector<std::string>{"create:main about:blank"});
  Serve(UiRequestKind::OpenWindow, "main http://127.0.0.1/x");
  EXPECT_TRUE(calls().empty());
  Serve(UiRequestKind::OpenWindow, "other\thttp://127.0.0.1/y");  // no blank: split at the tab
  EXPECT_EQ(calls(), std::vector<std::string>{"create:other http://127.0.0.1/y"});
  EXPECT_EQ(state_.htmlWindows.size(), 2u);
}

TEST_F(UiRequestServerTest, SetWindowProperties) {
  Serve(UiRequestKind::OpenWindow, "w");
  struct Case {
    const char* text;
    std::vector<std::string> expected;
  } cases[] = {
      {"w Title Hello world", {"title:Hello world - Powered by QuorPack"}},
      {"w title", {"title: - Powered by QuorPack"}},
      {"w URL http://127.0.0.1/", {"url:http://127.0.0.1/"}},
      {"w write <b>x</b>", {"write:<b>x</b>"}},
      {"w clear", {"clear"}},
      {"w pos 10<<<20", {"move:10,20,0,0"}},
      {"w pos 10<<<20<<<300<<<200", {"move:10,20,300,200"}},
      {"w pos 10<<<20<<<300", {"move:10,20,0,0"}},
      {"w pos 15", {"move:0,0,0,0"}},
      {"w pos", {"move:0,0,0,0"}},
      {"w pos x<<<7y<<<-3<<<z", {"move:0,7,-3,0"}},
      {"w minimize", {"state:2"}},
      {"w maximize", {"state:3"}},
      {"w restore", {"state:4"}},
      {"w border NONE", {"border:off"}},
      {"w border normal", {"border:on"}},
      {"w border thick", {}},
      {"w taskbar none", {"taskbar:off"}},
      {"w taskbar Normal", {"taskbar:on"}},
      {"w taskbar", {}},
      {"w colour red", {}},
      {"w", {}},
      {"absent title x", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Serve(UiRequestKind::SetWindow, c.text);
    EXPECT_EQ(calls(), c.expected);
  }
}

TEST_F(UiRequestServerTest, ShowHideAndCloseOnlyKnownNames) {
  Serve(UiRequestKind::OpenWindow, "w");
  Serve(UiRequestKind::ShowWindow, "w");
  EXPECT_EQ(calls(), std::vector<std::string>{"state:0"});
  Serve(UiRequestKind::HideWindow, "w");
  EXPECT_EQ(calls(), std::vector<std::string>{"state:1"});
  Serve(UiRequestKind::HideWindow, "W");  // names are case-sensitive
  EXPECT_TRUE(calls().empty());
  Serve(UiRequestKind::CloseWindow, "nobody");
  EXPECT_TRUE(calls().empty());
  Serve(UiRequestKind::CloseWindow, "w");
  EXPECT_EQ(calls(), (std::vector<std::string>{"state:2", "destroy"}));
  EXPECT_TRUE(state_.htmlWindows.empty());
  Serve(UiRequestKind::OpenWindow, "w");  // a closed name opens a fresh window
  EXPECT_EQ(calls(), std::vector<std::string>{"create:w about:blank"});
}

TEST_F(UiRequestServerTest, JsWindowSetsReturnAndStatusOnlyForKnownWindows) {
  runner_.variables.Set("status", "unchanged");
  Serve(UiRequestKind::JsWindow, "nobody 1+1");
  EXPECT_EQ(runner_.variables.Get("status"), "unchanged");
  Serve(UiRequestKind::OpenWindow, "w");
  Serve(UiRequestKind::JsWindow, "w");  // no source: nothing happens
  EXPECT_EQ(runner_.variables.Get("status"), "unchanged");
  Serve(UiRequestKind::JsWindow, "w 1+1");
  EXPECT_EQ(runner_.variables.Get("status"), "1");
  EXPECT_EQ(runner_.variables.Get("return"), "ran 1+1");
  Serve(UiRequestKind::JsWindow, "w bad");
  EXPECT_EQ(runner_.variables.Get("status"), "0");
  EXPECT_EQ(runner_.variables.Get("return"), "ran bad");
}

TEST_F(UiRequestServerTest, TrayFlagFollowsShowAndHide) {
  state_.trayTip = "tip";
  Serve(UiRequestKind::HideTray, "");
  EXPECT_TRUE(calls().empty());
  Serve(UiRequestKind::ShowTray, "");
  EXPECT_EQ(calls(), std::vector<std::string>{"tray:add:tip"});
  Serve(UiRequestKind::ShowTray, "");
  EXPECT_EQ(calls(), std::vector<std::string>{"tray:update:tip"});
  EXPECT_EQ(state_.trayShown, 1);
  Serve(UiRequestKind::HideTray, "");
  EXPECT_EQ(calls(), std::vector<std::string>{"tray:delete"});
  EXPECT_EQ(state_.trayShown, 0);
}

TEST_F(UiRequestServerTest, StatusTextsAndUnknownKindsDoNothing) {
  for (int kind : {2, 3, 4, 5, 0, 18, 99, 1143}) {
    Serve(static_cast<UiRequestKind>(kind), "text");
    EXPECT_TRUE(calls().empty()) << kind;
  }
  EXPECT_TRUE(runner_.variables.all().empty());
}

TEST_F(UiRequestServerTest, FetchWindowEventCopiesTheLastEvent) {
  state_.lastEvent = {"tray", "click_quit", ""};
  Serve(UiRequestKind::FetchWindowEvent, "");
  EXPECT_EQ(runner_.variables.Get("window_name"), "tray");
  EXPECT_EQ(runner_.variables.Get("window_event"), "click_quit");
  EXPECT_EQ(runner_.variables.Get("window_value"), "");
}

TEST_F(UiRequestServerTest, SuspendMarksTheRunner) {
  runner_.suspended = 0;
  Serve(UiRequestKind::Suspend, "");
  EXPECT_EQ(runner_.suspended, 1);
}

TEST_F(UiRequestServerTest, PromptHoldsTheScriptUntilItsAnswer) {
  runner_.suspended = 0;
  Serve(UiRequestKind::Prompt, "<b>code</b>");
  EXPECT_EQ(calls(), std::vector<std::string>{"prompt:<b>code</b>"});
  EXPECT_EQ(runner_.suspended, 1);
  EXPECT_EQ(runner_.control.SuspendCount(), 1);
  EXPECT_NE(runner_.inputDialog, nullptr);
  backend_.answer(runner_, "1234");
  EXPECT_EQ(runner_.variables.Get("input"), "1234");
  EXPECT_EQ(runner_.suspended, 0);
  EXPECT_EQ(runner_.control.SuspendCount(), 0);
  EXPECT_EQ(runner_.inputDialog, nullptr);
}

// An answer that arrives when no prompt holds the script still lands in
// "input", but must not wake a script that waits for events.
TEST_F(UiRequestServerTest, LateAnswerDoesNotResumeTheScript) {
  runner_.control.Suspend();
  runner_.suspended = 1;
  server_.InputReply(runner_, "late");
  EXPECT_EQ(runner_.variables.Get("input"), "late");
  EXPECT_EQ(runner_.control.SuspendCount(), 1);
  EXPECT_EQ(runner_.suspended, 1);
}

TEST_F(UiRequestServerTest, PromptWhileShuttingDownDoesNotHoldTheScript) {
  state_.shuttingDown = true;
  Serve(UiRequestKind::Prompt, "q");
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(runner_.control.SuspendCount(), 0);
}

TEST_F(UiRequestServerTest, NoteWritesCrLfFileAndOpensItEvenWithoutTemp) {
  std::string dir = (std::filesystem::temp_directory_path() / "qp-ui-note-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  SetProgramDir(dir);
  runner_.id = 7;
  Serve(UiRequestKind::Note, "x");  // no Temp folder: no file, still opened
  EXPECT_EQ(calls(), std::vector<std::string>{"open:" + dir + "/Temp/note_7.txt"});
  EXPECT_FALSE(std::filesystem::exists(dir + "/Temp"));
  std::filesystem::create_directories(dir + "/Temp");
  Serve(UiRequestKind::Note, "a\nb\r\nc\r");
  Serve(UiRequestKind::Note, "second\n");
  std::ifstream in(dir + "/Temp/note_7.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "second\r\n");
  std::filesystem::remove_all(dir);
}

TEST(NoteFileText, LineEndsBecomeCrLf) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"a\nb", "a\r\nb"},
      {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"\n\n", "\r\n\r\n"},
      {"lone\rcr", "lone\rcr"},
      {"\r\r\n", "\r\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(NoteFileText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace qp
