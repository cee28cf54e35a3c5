// The desktop back end end to end: the real quorpack on a private Xvfb
// session with icewm, driven with xdotool. Every wait is a bounded poll;
// every test saves a screenshot under <build>/ui-screenshots/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "ui/desktop_session.h"

namespace qp::testing {
namespace {

using namespace std::chrono_literals;

const std::string kAlertTitle = "提示窗口";
const std::string kPromptTitle = "请输入..";

// A home on the session's display; scripts are UTF-8.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.ready()) << session_.problem();
    home_.Write("Config.ini",
                "[setting]\r\ncodepage=utf-8\r\nappname=QuorPack test\r\n"
                "homepage=https://quorpack.example.org/help\r\n");
  }
  std::unique_ptr<QuorpackProcess> Start() {
    return home_.Start({}, false, session_.Environment(home_, opened()));
  }
  std::string opened() const { return home_.Path("opened.txt"); }
  // The handler's shell creates the file before it writes the line, so a
  // line has arrived only once the file ends with its line feed.
  bool OpenedLineArrived() const {
    std::string text = home_.Read("opened.txt");
    return !text.empty() && text.back() == '\n';
  }
  bool WaitForFile(const std::string& relative, std::chrono::milliseconds timeout = 20s) {
    return PollUntil([&] { return home_.Exists(relative); }, timeout);
  }
  // The program ends by itself, without complaints from GTK or GLib.
  static void ExpectCleanEnd(QuorpackProcess& run) {
    RunResult end = run.Finish(15s);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0);
    EXPECT_EQ(end.err.find("CRITICAL"), std::string::npos) << end.err;
    EXPECT_EQ(end.err.find("WARNING"), std::string::npos) << end.err;
  }
  // Ends a quorpack that is still running (SIGTERM stops its scripts).
  static RunResult Stop(QuorpackProcess& run) {
    run.Signal(SIGTERM);
    return run.Finish(15s);
  }

  DesktopSession session_;
  HomeFixture home_;
};

TEST_F(DesktopTest, AlertClosedByItsOkButtonLetsTheScriptGoOn) {
  home_.WriteScript("a.qvr",
                    "<main>\n"
                    "eval [@writefile<<<[@userpath]/Temp/size.txt<<<[@screenwidth]x[@screenheight]]\n"
                    "alert 第一个提示\n"
                    "eval [@writefile<<<[@userpath]/Temp/after.txt<<<went on]\n");
  home_.WriteBoot("a^a.qvr^\r\n");
  auto run = Start();
  auto box = session_.WaitForWindow(kAlertTitle, 20s);
  ASSERT_TRUE(box.has_value()) << run->err();
  EXPECT_EQ(home_.Read("Temp/size.txt"), "1280x1024");
  session_.Screenshot("alert_ok");
  EXPECT_FALSE(home_.Exists("Temp/after.txt"));  // the script waits for the box
  // The OK button runs along the bottom of the box.
  WindowGeometry g = session_.Geometry(*box);
  session_.Click(*box, g.width / 2, g.height - 12);
  ASSERT_TRUE(WaitForFile("Temp/after.txt"));
  RunResult end = run->Finish(15s);
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");  // a real box, not the console's line
}

TEST_F(DesktopTest, OneScriptsOpenAlertDoesNotHoldUpAnothersNotesAndJs) {
  home_.WriteScript("waits.qvr",
                    "alert waiting\n"
                    "eval [@writefile<<<[@userpath]/Temp/a_done.txt<<<a]\n");
  home_.WriteScript("works.qvr",
                    "<main>\n"
                    "pause 300\n"
                    "note first\n"
                    "note second\n"
                    "js 6*7\n"
                    "eval [@writefile<<<[@userpath]/Temp/b_done.txt<<<[#return]]\n");
  home_.WriteBoot("a^waits.qvr^\r\nb^works.qvr^\r\n");
  auto run = Start();
  auto box = session_.WaitForWindow(kAlertTitle, 20s);
  ASSERT_TRUE(box.has_value()) << run->err();
  ASSERT_TRUE(WaitForFile("Temp/b_done.txt")) << run->err();
  EXPECT_EQ(home_.Read("Temp/b_done.txt"), "42");
  EXPECT_EQ(home_.Read("Temp/note_2.txt"), "second");
  // The note was handed to the desktop's handler for text files.
  ASSERT_TRUE(PollUntil([&] { return OpenedLineArrived(); }, 10000ms));
  EXPECT_NE(home_.Read("opened.txt").find("Temp/note_2.txt"), std::string::npos);
  EXPECT_FALSE(home_.Exists("Temp/a_done.txt"));
  EXPECT_FALSE(session_.FindWindows(kAlertTitle).empty());
  session_.Screenshot("alert_and_notes");
  session_.Xdotool({"windowactivate", "--sync", *box});
  session_.Xdotool({"key", "Return"});
  ASSERT_TRUE(WaitForFile("Temp/a_done.txt"));
  ExpectCleanEnd(*run);
}

// The question shows a red captcha twice (a relative and an absolute path).
TEST_F(DesktopTest, PromptShowsItsImagesAtTheBottomRightAndTakesTypedTextWithEnter) {
  ASSERT_EQ(RunTool({"convert", "-size", "80x30", "xc:red", home_.Path("Temp/captcha.png")}, "")
                .exitCode,
            0);
  home_.WriteScript("p.qvr",
                    "<main>\n"
                    "prompt <img src=\"Temp/captcha.png\"><br>验证码 "
                    "<img src=\"[@userpath]/Temp/captcha.png\">\n"
                    "eval [@writefile<<<[@userpath]/Temp/answer.txt<<<<[#input]>]\n");
  home_.WriteBoot("p^p.qvr^\r\n");
  auto run = Start();
  auto dialog = session_.WaitForWindow(kPromptTitle, 20s);
  ASSERT_TRUE(dialog.has_value()) << run->err();
  WindowGeometry g;
  // Frame border: icewm draws a few pixels around the client.
  ASSERT_TRUE(PollUntil(
      [&] {
        g = session_.Geometry(*dialog);
        return g.x + g.width >= 1280 - 6 && g.x + g.width <= 1280 &&
               g.y + g.height >= 1024 - 30 - 6 && g.y + g.height <= 1024 - 30;
      },
      10000ms))
      << g.x << "," << g.y << " " << g.width << "x" << g.height;
  // Two 80x30 images in the view: at least 4000 red pixels once loaded.
  std::string shot;
  double share = 0;
  PollUntil(
      [&] {
        shot = session_.Screenshot("prompt_image");
        share = DesktopSession::ColorShare(shot, g, "red");
        return share * g.width * g.height >= 4000;
      },
      20000ms);
  EXPECT_GE(share * g.width * g.height, 4000) << shot;
  EXPECT_TRUE(PollUntil([&] { return session_.FocusedWindow() == *dialog; }, 5000ms))
      << "focus on " << session_.FocusedWindow() << ", dialog " << *dialog;
  session_.Xdotool({"type", "--delay", "30", "ab9Z"});
  session_.Screenshot("prompt_typed");
  session_.Xdotool({"key", "Return"});
  ASSERT_TRUE(WaitForFile("Temp/answer.txt")) << run->err() << " (see prompt_typed.png)";
  EXPECT_EQ(home_.Read("Temp/answer.txt"), "<ab9Z>");
  EXPECT_TRUE(session_.WaitForNoWindow(kPromptTitle, 5000ms));
  ExpectCleanEnd(*run);
}

// The close box (the window manager's close, here Alt+F4) and Escape both
// answer with the empty text, and the script goes on.
TEST_F(DesktopTest, PromptClosedOrEscapedGivesTheEmptyAnswer) {
  struct Case {
    const char* name;
    const char* keys;
  } cases[] = {{"prompt_close_box", "alt+F4"}, {"prompt_escape", "Escape"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = std::string("Temp/") + c.name + ".txt";
    home_.WriteScript("p.qvr", std::string("<main>\nvar [#input] before\nprompt question\n") +
                                   "eval [@writefile<<<[@userpath]/" + file +
                                   "<<<<[#input]>]\n");
    home_.WriteBoot("p^p.qvr^\r\n");
    auto run = Start();
    auto dialog = session_.WaitForWindow(kPromptTitle, 20s);
    ASSERT_TRUE(dialog.has_value()) << run->err();
    session_.Xdotool({"type", "--delay", "30", "typed"});
    session_.Screenshot(c.name);
    session_.Xdotool({"windowactivate", "--sync", *dialog});
    session_.Xdotool({"key", c.keys});
    ASSERT_TRUE(WaitForFile(file)) << run->err();
    EXPECT_EQ(home_.Read(file), "<>");
    ExpectCleanEnd(*run);
  }
}

TEST_F(DesktopTest, TrayIconClickReachesBothScriptsAndTheMenuSendsItsEvents) {
  const char* waiter =
      "<main>\n"
      "showtray\n"
      "eval [@writefile<<<[@userpath]/Temp/ready_[@robotid].txt<<<1]\n"
      "suspend\n"
      "exit\n"
      "<on_tray_click>\n"
      "eval [@writefile<<<[@userpath]/Temp/click_[@robotid].txt<<<1]\n"
      "return\n";
  home_.WriteScript("w.qvr", waiter);
  // The second script also answers the menu's quit item and ends.
  home_.WriteScript("q.qvr", std::string(waiter) +
                                 "<on_tray_click_quit>\n"
                                 "eval [@writefile<<<[@userpath]/Temp/quit.txt<<<1]\n"
                                 "resume\n"
                                 "return\n");
  home_.WriteBoot("w^w.qvr^\r\nq^q.qvr^\r\n");
  auto run = Start();
  ASSERT_TRUE(WaitForFile("Temp/ready_1.txt") && WaitForFile("Temp/ready_2.txt")) << run->err();
  // The icon is a small window titled with "appname" in the panel.
  auto icon = session_.WaitForWindow("QuorPack test", 20s);
  ASSERT_TRUE(icon.has_value()) << run->err();
  WindowGeometry g = session_.Geometry(*icon);
  EXPECT_LE(g.y, 40);  // inside the task bar at the top
  session_.Screenshot("tray_icon");
  session_.Click(*icon, g.width / 2, g.height / 2, 1);
  ASSERT_TRUE(WaitForFile("Temp/click_1.txt") && WaitForFile("Temp/click_2.txt"))
      << run->err();

  // Right click: the menu; "q" is the quit item's mnemonic.
  session_.Click(*icon, g.width / 2, g.height / 2, 3);
  PollUntil([&] { return !session_.Xdotool({"search", "--onlyvisible", "--class", "quorpack"})
                              .out.empty(); },
            2000ms);
  session_.Screenshot("tray_menu");
  ASSERT_TRUE(PollUntil(
      [&] {
        if (home_.Exists("Temp/quit.txt")) return true;
        session_.Xdotool({"key", "q"});
        return PollUntil([&] { return home_.Exists("Temp/quit.txt"); }, 1000ms);
      },
      15000ms));
  // The first script has no quit handler: the program keeps running.
  EXPECT_FALSE(PollUntil([&] { return run->exited(); }, 1500ms)) << run->err();

  // The support item opens the home page with the desktop's handler.
  session_.Click(*icon, g.width / 2, g.height / 2, 3);
  ASSERT_TRUE(PollUntil(
      [&] {
        if (OpenedLineArrived()) return true;
        session_.Xdotool({"key", "h"});
        return PollUntil([&] { return OpenedLineArrived(); }, 1000ms);
      },
      15000ms));
  EXPECT_EQ(home_.Read("opened.txt"), "https://quorpack.example.org/help\n");
  RunResult end = Stop(*run);
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");
}

TEST_F(DesktopTest, HotkeyRunsTheSystemHotkeyHandler) {
  home_.WriteScript("h.qvr",
                    "<main>\n"
                    "eval [@writefile<<<[@userpath]/Temp/ready.txt<<<1]\n"
                    "suspend\n"
                    "eval [@writefile<<<[@userpath]/Temp/event.txt<<<[#window_name] "
                    "[#window_event] <[#window_value]>]\n"
                    "exit\n"
                    "<on_system_hotkey>\n"
                    "resume\n"
                    "return\n");
  home_.WriteBoot("h^h.qvr^\r\n");
  auto run = Start();
  ASSERT_TRUE(WaitForFile("Temp/ready.txt")) << run->err();
  // Pressed until the script has taken it (it may not wait yet at first).
  ASSERT_TRUE(PollUntil(
      [&] {
        session_.Xdotool({"key", "ctrl+9"});
        return PollUntil([&] { return home_.Exists("Temp/event.txt"); }, 500ms);
      },
      15000ms))
      << run->err();
  session_.Screenshot("hotkey");
  EXPECT_EQ(home_.Read("Temp/event.txt"), "system hotkey <>");
  ExpectCleanEnd(*run);
}

// Stopping the program closes what is open: a script inside a message box
// gets out of it to meet its stop message, and a prompt goes without an
// answer; the tray icon goes with the program.
TEST_F(DesktopTest, StoppingClosesOpenDialogsAndTheTrayIcon) {
  home_.WriteScript("box.qvr", "showtray\nalert stop me\nsuspend\n");
  home_.WriteScript("ask.qvr",
                    "<main>\n"
                    "prompt stop me too\n"
                    "eval [@writefile<<<[@userpath]/Temp/answered.txt<<<[#input]]\n");
  home_.WriteBoot("b^box.qvr^\r\na^ask.qvr^\r\n");
  auto run = Start();
  ASSERT_TRUE(session_.WaitForWindow(kAlertTitle, 20s).has_value()) << run->err();
  ASSERT_TRUE(session_.WaitForWindow(kPromptTitle, 20s).has_value()) << run->err();
  ASSERT_TRUE(session_.WaitForWindow("QuorPack test", 20s).has_value()) << run->err();
  session_.Screenshot("stop_with_dialogs");
  auto start = std::chrono::steady_clock::now();
  RunResult end = Stop(*run);
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");  // no script had to be abandoned
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(home_.Exists("Temp/answered.txt"));
  EXPECT_TRUE(session_.FindWindows(kAlertTitle).empty());
  EXPECT_TRUE(session_.FindWindows(kPromptTitle).empty());
  EXPECT_TRUE(session_.FindWindows("QuorPack test").empty());
}

// The example desktop home that scripts/run-examples.sh runs on a desktop.
TEST_F(DesktopTest, ExampleDesktopHomeAsksShowsAndEnds) {
  namespace fs = std::filesystem;
  fs::path example = fs::path(QP_SOURCE_DIR) / "examples" / "desktop";
  for (const char* part : {"Config.ini", "Quorvant.boot", "Script", "Data"})
    fs::copy(example / part, fs::path(home_.dir()) / part,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  auto run = Start();
  auto dialog = session_.WaitForWindow(kPromptTitle, 20s);
  ASSERT_TRUE(dialog.has_value()) << run->err();
  ASSERT_TRUE(session_.WaitForWindow("QuorPack desktop example", 10s).has_value());
  // The captcha's background shows once the view has drawn the question.
  WindowGeometry g = session_.Geometry(*dialog);
  EXPECT_TRUE(PollUntil(
      [&] {
        return DesktopSession::ColorShare(session_.Screenshot("example_prompt"), g, "#f4e9c8") >
               0.02;
      },
      20000ms));
  EXPECT_TRUE(PollUntil([&] { return session_.FocusedWindow() == *dialog; }, 5000ms));
  session_.Xdotool({"type", "--delay", "30", "Q7pK"});
  session_.Screenshot("example_prompt");
  session_.Xdotool({"key", "Return"});
  auto box = session_.WaitForWindow(kAlertTitle, 20s);
  ASSERT_TRUE(box.has_value()) << run->err();
  session_.Screenshot("example_alert");
  session_.Xdotool({"windowactivate", "--sync", *box});
  session_.Xdotool({"key", "Return"});
  RunResult end = run->Finish(15s);
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");
}

// The example window home beside the console examples' Temp folder: the page
// lists their results, a click on a button (sent as the window would send
// it) redraws it, and the title bar's close box ends the program.
TEST_F(DesktopTest, ExampleWindowHomeListsResultsRedrawsOnAClickAndCloses) {
  namespace fs = std::filesystem;
  fs::path example = fs::path(QP_SOURCE_DIR) / "examples" / "window";
  const std::string window = home_.Path("window");
  fs::create_directories(window);
  for (const char* part : {"Config.ini", "Quorvant.boot", "Script"})
    fs::copy(example / part, fs::path(window) / part,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  std::string config = home_.Read("window/Config.ini");
  home_.Write("window/Config.ini", config + "eventfifo=Temp/events\r\n");
  home_.Write("window/Temp/.keep", "");
  home_.Write("Temp/count.txt", "1\n2\n3\n");
  home_.Write("Temp/links.txt", "http://127.0.0.1/a\n");
  QuorpackProcess run(window, "", false, QuorpackBinary(), session_.Environment(home_, opened()));
  auto id = session_.WaitForWindow("示例结果 - Powered by QuorPack", 20s);
  ASSERT_TRUE(id.has_value()) << run.err();
  WindowGeometry g = session_.Geometry(*id);
  // The written page has its heading, buttons and list: not all white.
  std::string listed;
  EXPECT_TRUE(PollUntil(
      [&] {
        listed = session_.Screenshot("example_window_list");
        double white = DesktopSession::ColorShare(listed, g, "white");
        return white > 0 && white < 0.97;
      },
      20000ms));
  std::string shot = home_.Path("list.png");
  fs::copy_file(listed, shot, fs::copy_options::overwrite_existing);
  // The button "count.txt": the handler redraws the page with that file.
  const std::string click = "results\twindow_click\tcount\n";
  std::string pipe = window + "/Temp/events";
  ASSERT_TRUE(PollUntil(
      [&] {
        int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return false;
        bool ok = write(fd, click.data(), click.size()) == static_cast<ssize_t>(click.size());
        close(fd);
        return ok;
      },
      5000ms));
  EXPECT_TRUE(PollUntil(
      [&] {
        return DesktopSession::DifferenceShare(
                   shot, session_.Screenshot("example_window_count"), g) > 0.001;
      },
      10000ms));
  session_.Xdotool({"windowactivate", "--sync", *id});
  session_.Xdotool({"key", "--clearmodifiers", "alt+F4"});
  ExpectCleanEnd(run);
  EXPECT_TRUE(session_.WaitForNoWindow("示例结果 - Powered by QuorPack", 5000ms));
}

// A display that cannot be opened: said once, and the script runs on the
// console. "ui=console" keeps the console even with a display.
TEST(DesktopChoice, NoUsableDisplayRunsOnTheConsole) {
  struct Case {
    const char* name;
    bool realDisplay;
    const char* ui;
    const char* notice;
  } cases[] = {
      {"display that cannot be opened", false, "", "quorpack: cannot open the display; running on the console\n"},
      {"ui=console", true, "ui=console\r\n", ""},
  };
  DesktopSession session;
  ASSERT_TRUE(session.ready()) << session.problem();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeFixture home;
    home.Write("Config.ini", std::string("[setting]\r\ncodepage=utf-8\r\n") + c.ui);
    home.WriteScript("a.qvr", "alert hello\n");
    home.WriteBoot("a^a.qvr^\r\n");
    std::string display = c.realDisplay ? session.display() : ":4095";
    QuorpackProcess run(home.dir(), "", false, QuorpackBinary(), {{"DISPLAY", display}});
    RunResult end = run.Finish(15s);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0);
    EXPECT_EQ(end.err, std::string(c.notice) + "提示窗口: hello\n");
  }
}

}  // namespace
}  // namespace qp::testing
