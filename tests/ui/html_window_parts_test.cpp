// Parts of the desktop HTML windows that need no display: the texts the
// view takes and gives, and the request service's jswindow that waits for a
// page's answer without holding up the UI thread.
#include <gtest/gtest.h>

#include <optional>

#include "ui/gtk_html_window.h"
#include "ui/ui_request_server.h"

namespace qp {
namespace {

TEST(HtmlWindowTexts, EvaluationErrorTextDropsOnlyThePlace) {
  struct Case {
    const char* message;
    const char* expected;
  };
  for (Case c : {
           Case{"file:///tmp/a.html:1:5: ReferenceError: Can't find variable: nope",
                "ReferenceError: Can't find variable: nope"},
           Case{"http://127.0.0.1:8080/x.html:12:30: TypeError: null is not an object",
                "TypeError: null is not an object"},
           Case{"about:blank:1:1: SyntaxError: Unexpected token ')'",
                "SyntaxError: Unexpected token ')'"},
           Case{"Unsupported result type", "Unsupported result type"},
           Case{"a:1: no column", "a:1: no column"},
           Case{"a:1:2:no blank", "a:1:2:no blank"},
           Case{"", ""},
       }) {
    EXPECT_EQ(EvaluationErrorText(c.message), c.expected) << c.message;
  }
}

TEST(HtmlWindowTexts, OnlyClickAndNewWindowComeFromPages) {
  for (const char* event : {"window_click", "window_new"}) EXPECT_TRUE(IsPageEvent(event));
  for (const char* event : {"window_close", "window_minimize", "window_maximize",
                            "window_restore", "document_complete", "WINDOW_CLICK", "", "click"})
    EXPECT_FALSE(IsPageEvent(event)) << event;
}

TEST(HtmlWindowTexts, SizesBelowOneBecomeOne) {
  struct Case {
    int width, height, expectedWidth, expectedHeight;
  };
  for (Case c : {Case{0, 0, 1, 1}, Case{-5, 10, 1, 10}, Case{300, -1, 300, 1},
                 Case{640, 480, 640, 480}}) {
    WindowBox box = ClampedBox(7, -3, c.width, c.height);
    EXPECT_EQ(box.x, 7);
    EXPECT_EQ(box.y, -3);  // positions stay as asked, off screen too
    EXPECT_EQ(box.width, c.expectedWidth);
    EXPECT_EQ(box.height, c.expectedHeight);
  }
}

TEST(HtmlWindowTexts, ViewUrls) {
  struct Case {
    const char* url;
    const char* expected;
  };
  for (Case c : {
           Case{"http://127.0.0.1/a", "http://127.0.0.1/a"},
           Case{"about:blank", "about:blank"},
           Case{"file:///tmp/a.html", "file:///tmp/a.html"},
           Case{"/tmp/a b.html", "file:///tmp/a%20b.html"},
           Case{"www.example.org/x", "http://www.example.org/x"},
           Case{"", ""},
       }) {
    EXPECT_EQ(ViewUrl(c.url), c.expected) << c.url;
  }
}

// A window whose page answers when the test says so.
class LateWindow : public HtmlWindowView {
 public:
  explicit LateWindow(std::optional<ScriptDone>& waiting) : waiting_(waiting) {}
  ~LateWindow() override {
    if (waiting_) (*std::exchange(waiting_, std::nullopt))(false, "");
  }
  void SetTitle(const std::string&) override {}
  void Navigate(const std::string&) override {}
  void Write(const std::string&) override {}
  void Clear() override {}
  void Move(int, int, int, int) override {}
  void SetShowState(WindowShowState) override {}
  void SetBorder(bool) override {}
  void SetTaskbar(bool) override {}
  bool RunScript(const std::string&, std::string& result) override {
    result = "at once";
    return true;
  }
  void BeginScript(const std::string&, ScriptDone done) override { waiting_ = std::move(done); }

 private:
  std::optional<ScriptDone>& waiting_;
};

class LateBackend : public UiBackend {
 public:
  void ShowAlert(const std::string&) override {}
  void OpenFile(const std::string&) override {}
  void* BeginPrompt(ScriptRunner& runner, const std::string&, PromptAnswer) override {
    return &runner;
  }
  void EndPrompt(ScriptRunner&) override {}
  std::unique_ptr<HtmlWindowView> CreateHtmlWindow(const std::string&,
                                                   const std::string&) override {
    return std::make_unique<LateWindow>(waiting);
  }
  void ShowTrayIcon(const std::string&, bool) override {}
  void HideTrayIcon() override {}
  std::optional<HtmlWindowView::ScriptDone> waiting;
};

class LateJsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Serve(runner_, UiRequestKind::OpenWindow, "w");
    runner_.variables.Set("status", "before");
    runner_.variables.Set("return", "before");
  }
  // Serves a jswindow the way the dispatcher does; true once it is done.
  std::shared_ptr<bool> Ask(const std::string& text) {
    auto done = std::make_shared<bool>(false);
    server_.Serve(runner_, UiRequestKind::JsWindow, text, [done] { *done = true; });
    return done;
  }
  std::string Var(const char* name) { return runner_.variables.Get(name); }

  LateBackend backend_;  // outlives the windows that state_ holds
  UiState state_;
  UiRequestServer server_{state_, backend_};
  ScriptRunner runner_;
};

TEST_F(LateJsWindow, TheScriptWaitsForThePagesAnswer) {
  auto done = Ask("w document.title");
  ASSERT_TRUE(backend_.waiting.has_value());
  EXPECT_FALSE(*done);
  EXPECT_EQ(Var("status"), "before");
  (*std::exchange(backend_.waiting, std::nullopt))(true, "page title");
  EXPECT_TRUE(*done);
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(Var("return"), "page title");
}

TEST_F(LateJsWindow, AnErrorGivesItsTextAndStatusZero) {
  auto done = Ask("w nope()");
  (*std::exchange(backend_.waiting, std::nullopt))(false, "ReferenceError: nope");
  EXPECT_TRUE(*done);
  EXPECT_EQ(Var("status"), "0");
  EXPECT_EQ(Var("return"), "ReferenceError: nope");
}

TEST_F(LateJsWindow, UnknownWindowsAndEmptySourcesAreDoneAtOnceAndChangeNothing) {
  for (const char* text : {"nobody 1+1", "w", "w   "}) {
    auto done = Ask(text);
    EXPECT_TRUE(*done) << text;
    EXPECT_FALSE(backend_.waiting.has_value()) << text;
    EXPECT_EQ(Var("status"), "before") << text;
    EXPECT_EQ(Var("return"), "before") << text;
  }
}

TEST_F(LateJsWindow, ClosingTheWindowAnswersTheWaitingScript) {
  auto done = Ask("w 1");
  server_.Serve(runner_, UiRequestKind::CloseWindow, "w");
  EXPECT_TRUE(*done);
  EXPECT_EQ(Var("status"), "0");
  EXPECT_TRUE(state_.htmlWindows.empty());
}

// Once the program is stopping, nothing waits for a page any more.
TEST_F(LateJsWindow, DuringShutdownTheAnswerIsTakenAtOnce) {
  state_.shuttingDown = true;
  auto done = Ask("w 1+1");
  EXPECT_TRUE(*done);
  EXPECT_FALSE(backend_.waiting.has_value());
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(Var("return"), "at once");
}

}  // namespace
}  // namespace qp
