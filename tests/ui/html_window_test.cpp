// HTML windows end to end: the real quorpack on a private Xvfb session with
// icewm. One script opens the windows and logs every window event it gets to
// Temp/events.txt; the test steers it through the event pipe (source "ctl":
// run a window request, or a jswindow whose status and result land in
// Temp/js.txt), finds elements with getBoundingClientRect through jswindow,
// and clicks them with xdotool. Every wait is a bounded poll; every test
// saves a screenshot under <build>/ui-screenshots/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>

#include "ui/desktop_session.h"

namespace qp::testing {
namespace {

using namespace std::chrono_literals;

const std::string kSuffix = " - Powered by QuorPack";

// Handlers that log the events of window `name`.
std::string LogHandlers(const std::string& name) {
  std::string out;
  for (const char* event :
       {"window_click", "window_new", "document_complete", "window_minimize",
        "window_maximize", "window_restore", "window_close"}) {
    out += std::string("<on_") + name + "_" + event + ">\n" +
           "eval [@writefile<<<[@userpath]/Temp/events.txt<<<"
           "[#window_name] [#window_event] <[#window_value]>\n]\n"
           "return\n";
  }
  return out;
}

// `main` opens the windows; then the script waits for events until "ctl
// exit". "ctl do" runs its value as a script line (a window request).
std::string WindowScript(const std::string& main) {
  return "<main>\n" + main +
         "eval [@writefile<<<[@userpath]/Temp/ready.txt<<<1]\n"
         "suspend\n"
         "exit\n"
         "<on_ctl_open>\nopenwindow [#window_value]\nreturn\n"
         "<on_ctl_set>\nsetwindow [#window_value]\nreturn\n"
         "<on_ctl_show>\nshowwindow [#window_value]\nreturn\n"
         "<on_ctl_close>\nclosewindow [#window_value]\nreturn\n"
         "<on_ctl_js>\nvar [#status] untouched\nvar [#return] none\n"
         "jswindow [#window_value]\n"
         "eval [@writefile<<<[@userpath]/Temp/js.txt<<<[#status]|[#return]|end]\n"
         "return\n"
         "<on_ctl_exit>\nresume\nreturn\n" +
         LogHandlers("main") + LogHandlers("second");
}

// Opens `name` at `url`, places it and shows it.
std::string OpenAndShow(const std::string& name, const std::string& url, int x, int y) {
  return "openwindow " + name + " " + url + "\nsetwindow " + name + " pos " + std::to_string(x) +
         "<<<" + std::to_string(y) + "<<<500<<<400\nshowwindow " + name + "\n";
}

struct JsAnswer {
  std::string status;
  std::string result;
};

class HtmlWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.ready()) << "Xvfb and icewm did not start";
    home_.Write("Config.ini",
                "[setting]\r\ncodepage=utf-8\r\nappname=QuorPack test\r\n"
                "eventfifo=Temp/events\r\n");
  }
  void TearDown() override {
    if (!run_) return;
    Control("exit", "");
    RunResult end = run_->Finish(15s);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0) << end.err;
  }

  std::string Page(const std::string& file, const std::string& body) {
    home_.Write("Data/" + file,
                "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                "<style>body{margin:0;font:16px sans-serif}</style></head><body>" +
                    body + "</body></html>");
    return "file://" + home_.Path("Data/" + file);
  }

  // Starts the script and waits until it has opened its windows.
  void Start(const std::string& main) {
    home_.WriteScript("w.qvr", WindowScript(main));
    home_.WriteBoot("w^w.qvr^\r\n");
    run_ = home_.Start({}, false, session_.Environment(home_, home_.Path("opened.txt")));
    ASSERT_TRUE(PollUntil([&] { return home_.Exists("Temp/ready.txt"); }, 20000ms))
        << run_->err();
  }

  // One event through the pipe; bounded retries while nobody reads it yet.
  void Control(const std::string& event, const std::string& value) {
    std::string line = "ctl\t" + event + "\t" + value + "\n";
    std::string path = home_.Path("Temp/events");
    bool sent = PollUntil(
        [&] {
          int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
          if (fd < 0) return false;
          bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
          close(fd);
          return ok;
        },
        5000ms);
    ASSERT_TRUE(sent) << line;
  }

  // Runs a jswindow request in the script and returns what it set.
  JsAnswer Js(const std::string& window, const std::string& source) {
    std::error_code ignored;
    std::filesystem::remove(home_.Path("Temp/js.txt"), ignored);
    Control("js", window + " " + source);
    JsAnswer answer{"timeout", ""};
    PollUntil(
        [&] {
          if (!home_.Exists("Temp/js.txt")) return false;
          std::string text = home_.Read("Temp/js.txt");
          if (text.size() < 4 || text.compare(text.size() - 4, 4, "|end") != 0) return false;
          size_t bar = text.find('|');
          answer = {text.substr(0, bar), text.substr(bar + 1, text.size() - bar - 5)};
          return true;
        },
        10000ms);
    return answer;
  }

  // Polls until the page answers `source` with `expected`.
  bool WaitForJs(const std::string& window, const std::string& source,
                 const std::string& expected) {
    return PollUntil([&] { return Js(window, source).result == expected; }, 15000ms);
  }

  std::string Events() const {
    return home_.Exists("Temp/events.txt") ? home_.Read("Temp/events.txt") : "";
  }
  bool WaitForEvent(const std::string& line) {
    return PollUntil([&] { return Events().find(line) != std::string::npos; }, 10000ms);
  }

  // The X window of `title`, once the window manager has it on the screen.
  std::string Window(const std::string& title) {
    std::vector<std::string> found;
    PollUntil([&] { return !(found = session_.FindWindows(title)).empty(); }, 15000ms);
    return found.empty() ? std::string() : found.front();
  }

  // Clicks the middle of element `id` of the window's page: the page gives
  // the element's box and its own size, and the view fills the window below
  // the title bar.
  void ClickElement(const std::string& window, const std::string& xid, const std::string& id) {
    JsAnswer box = Js(window,
                      "(function(){var r=document.getElementById('" + id +
                          "').getBoundingClientRect();return Math.round(r.left+r.width/2)+' '+"
                          "Math.round(r.top+r.height/2)+' '+innerWidth+' '+innerHeight;})()");
    ASSERT_EQ(box.status, "1") << box.result;
    std::istringstream in(box.result);
    int cx = 0, cy = 0, w = 0, h = 0;
    in >> cx >> cy >> w >> h;
    WindowGeometry g = session_.Geometry(xid);
    int side = (g.width - w) / 2;
    int top = g.height - h - side;
    session_.Click(xid, side + cx, top + cy);
  }

  DesktopSession session_;
  HomeFixture home_;
  std::unique_ptr<QuorpackProcess> run_;
};

TEST_F(HtmlWindowTest, CaptionIsDialogUntilATitleIsSet) {
  Start(OpenAndShow("main", "about:blank", 40, 60));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  session_.Screenshot("html_window_caption_dialog");
  Control("set", "main title 进度");
  ASSERT_FALSE(Window("进度" + kSuffix).empty());
  EXPECT_TRUE(session_.FindWindows("Dialog").empty());
  // A title with no value is the suffix alone.
  Control("set", "main Title");
  ASSERT_FALSE(Window(kSuffix.substr(1)).empty() && Window(kSuffix).empty());
  session_.Screenshot("html_window_caption_title");
}

TEST_F(HtmlWindowTest, NavigatingAfterTheStartPageGivesOneDocumentComplete) {
  std::string first = Page("first.html", "<p id=\"p\">first</p>");
  std::string second = Page("second.html", "<p id=\"p\">second</p>");
  Start(OpenAndShow("main", first, 40, 60));
  ASSERT_TRUE(WaitForJs("main", "document.getElementById('p').textContent", "first"));
  Control("set", "main url " + second);
  ASSERT_TRUE(WaitForEvent("main document_complete <" + second + ">")) << Events();
  ASSERT_TRUE(WaitForJs("main", "document.getElementById('p').textContent", "second"));
  session_.Screenshot("html_window_navigate");
  EXPECT_EQ(Events(), "main document_complete <" + second + ">\n");
}

TEST_F(HtmlWindowTest, ClicksGiveIdsNewWindowLinksAreConsumedAndPlainLinksFollowed) {
  home_.Write("Data/red.svg",
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"60\">"
              "<rect width=\"120\" height=\"60\" fill=\"red\"/></svg>");
  std::string next = Page("next.html", "<p id=\"p\">next page</p>");
  std::string start = Page(
      "links.html",
      "<div id=\"box\" style=\"height:40px;background:#cde\">box</div>"
      "<p style=\"height:40px\">no id here</p>"
      "<a id=\"blank\" href=\"https://example.invalid/new\" target=\"_BLANK\">"
      "<img id=\"pic\" src=\"red.svg\"></a><br>"
      "<a id=\"plain\" href=\"next.html\" style=\"font-size:24px\">plain link</a>");
  Start(OpenAndShow("main", start, 40, 60));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  ASSERT_TRUE(WaitForJs("main", "document.images[0].complete+''", "true"));

  ClickElement("main", id, "box");
  ASSERT_TRUE(WaitForEvent("main window_click <box>\n")) << Events();

  // The paragraph has no id: the value is empty.
  ASSERT_EQ(Js("main", "document.querySelector('p').id='';"
                       "document.querySelector('p').setAttribute('data-x','1')").status,
            "1");
  JsAnswer p = Js("main",
                  "(function(){var r=document.querySelector('p').getBoundingClientRect();"
                  "return Math.round(r.left+20)+' '+Math.round(r.top+r.height/2)+' '+"
                  "innerWidth+' '+innerHeight;})()");
  ASSERT_EQ(p.status, "1");
  {
    std::istringstream in(p.result);
    int cx = 0, cy = 0, w = 0, h = 0;
    in >> cx >> cy >> w >> h;
    WindowGeometry g = session_.Geometry(id);
    int side = (g.width - w) / 2;
    session_.Click(id, side + cx, g.height - h - side + cy);
  }
  ASSERT_TRUE(WaitForEvent("main window_click <>\n")) << Events();

  // The image counts as its link; the target is compared in lower case.
  ClickElement("main", id, "pic");
  ASSERT_TRUE(WaitForEvent("main window_new <https://example.invalid/new>\n")) << Events();
  session_.Screenshot("html_window_new_link");
  EXPECT_EQ(Js("main", "location.href").result, start);  // the page stays

  ClickElement("main", id, "plain");
  ASSERT_TRUE(WaitForEvent("main window_click <plain>\n")) << Events();
  ASSERT_TRUE(WaitForEvent("main document_complete <" + next + ">\n")) << Events();
  EXPECT_EQ(Js("main", "document.getElementById('p').textContent").result, "next page");
  session_.Screenshot("html_window_followed_link");
}

TEST_F(HtmlWindowTest, TitleBarButtonsAndCloseRequestsOnlySendEvents) {
  Start(OpenAndShow("main", Page("t.html", "<p>stays</p>"), 100, 100));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  ASSERT_TRUE(WaitForJs("main", "document.readyState", "complete"));
  WindowGeometry before = session_.Geometry(id);
  session_.Screenshot("html_window_title_bar");
  // Our own title bar: close, maximize and minimize from the right edge,
  // about 34 pixels apart, in the middle of the bar.
  JsAnswer inner = Js("main", "innerWidth+' '+innerHeight");
  std::istringstream in(inner.result);
  int w = 0, h = 0;
  in >> w >> h;
  int side = (before.width - w) / 2;
  int barHeight = before.height - h - 2 * side;
  ASSERT_GT(barHeight, 20);
  int y = side + barHeight / 2;
  // Walk along the bar from its right end and note the order in which the
  // clicks hit the buttons: close, maximize, minimize.
  std::string order;
  for (int x = before.width - side - 6; x > before.width - 160 && order.size() < 3; x -= 6) {
    size_t mark = Events().size();
    session_.Click(id, x, y);
    PollUntil([&] { return Events().size() > mark; }, 700ms);
    std::string got = Events().substr(mark);
    for (auto [event, letter] : {std::pair{"window_close", 'c'}, std::pair{"window_maximize", 'x'},
                                 std::pair{"window_minimize", 'n'}}) {
      if (got.find(event) != std::string::npos && order.find(letter) == std::string::npos)
        order += letter;
    }
  }
  EXPECT_EQ(order, "cxn") << Events();
  // A double click on the bar asks for maximize too, and changes nothing.
  size_t mark = Events().size();
  session_.Xdotool({"mousemove", "--window", id, std::to_string(before.width / 3), std::to_string(y)});
  session_.Xdotool({"click", "--repeat", "2", "--delay", "80", "1"});
  EXPECT_TRUE(PollUntil([&] { return Events().find("window_maximize", mark) != std::string::npos; },
                        3000ms))
      << Events();
  // The window manager's close request (Alt+F4) is only an event as well.
  mark = Events().size();
  session_.Xdotool({"windowactivate", "--sync", id});
  session_.Xdotool({"key", "--clearmodifiers", "alt+F4"});
  EXPECT_TRUE(PollUntil([&] { return Events().find("window_close", mark) != std::string::npos; },
                        3000ms))
      << Events();
  session_.Screenshot("html_window_after_title_bar");
  // Still shown, where it was, the same size, and never minimized.
  WindowGeometry after = session_.Geometry(id);
  EXPECT_EQ(after.x, before.x);
  EXPECT_EQ(after.y, before.y);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(after.height, before.height);
  EXPECT_EQ(session_.FindWindows("Dialog"), std::vector<std::string>{id});
  EXPECT_EQ(Js("main", "document.hidden+''").result, "false");
  EXPECT_EQ(Events().find("document_complete"), std::string::npos) << Events();
}

}  // namespace
}  // namespace qp::testing
