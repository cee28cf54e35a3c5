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

#include <netinet/in.h>
#include <sys/socket.h>

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

// Each steering handler ends by adding a byte to Temp/acks.txt.
#define kAck "eval [@writefile<<<[@userpath]/Temp/acks.txt<<<.]\n"

// `main` opens the windows; then the script waits for events until "ctl
// exit". "ctl do" runs its value as a script line (a window request).
std::string WindowScript(const std::string& main) {
  return "<main>\n" + main +
         "eval [@writefile<<<[@userpath]/Temp/ready.txt<<<1]\n"
         "suspend\n"
         "exit\n"
         "<on_ctl_open>\nopenwindow [#window_value]\n" kAck "return\n"
         "<on_ctl_set>\nsetwindow [#window_value]\n" kAck "return\n"
         "<on_ctl_show>\nshowwindow [#window_value]\n" kAck "return\n"
         "<on_ctl_hide>\nhidewindow [#window_value]\n" kAck "return\n"
         "<on_ctl_close>\nclosewindow [#window_value]\n" kAck "return\n"
         "<on_ctl_js>\nvar [#status] untouched\nvar [#return] none\n"
         "jswindow [#window_value]\n"
         "eval [@writefile<<<[@userpath]/Temp/js.txt<<<[#status]|[#return]|end]\n" kAck
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
    RunResult end = run_->Finish(20s);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    // Every request, a 0x0 size included, is taken without a GTK complaint.
    EXPECT_EQ(end.err.find("Gtk-"), std::string::npos) << end.err;
    EXPECT_EQ(end.err.find("CRITICAL"), std::string::npos) << end.err;
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

  size_t Acks() const { return home_.Exists("Temp/acks.txt") ? home_.Read("Temp/acks.txt").size() : 0; }

  // One event through the pipe. An event that arrives while the script is
  // inside a handler is lost (events are not queued), so it is sent again
  // until the script's handler has acknowledged it, a bounded number of times.
  void Control(const std::string& event, const std::string& value) {
    std::string line = "ctl\t" + event + "\t" + value + "\n";
    std::string path = home_.Path("Temp/events");
    size_t before = Acks();
    bool acknowledged = false;
    for (int attempt = 0; attempt < 5 && !acknowledged; ++attempt) {
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
      if (event == "exit") return;
      acknowledged = PollUntil([&] { return Acks() > before; }, 3000ms);
    }
    ASSERT_TRUE(acknowledged) << line;
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

  // The page's size without the window's: innerWidth and innerHeight.
  std::pair<int, int> InnerSize(const std::string& window) {
    std::istringstream in(Js(window, "innerWidth+' '+innerHeight").result);
    std::pair<int, int> size{0, 0};
    in >> size.first >> size.second;
    return size;
  }

  DesktopSession session_;
  HomeFixture home_;
  std::unique_ptr<QuorpackProcess> run_;
};

// Close enough for a window manager's placement (it may keep a few pixels).
::testing::AssertionResult Near(int actual, int expected, int slack = 8) {
  if (actual >= expected - slack && actual <= expected + slack)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " is not within " << slack << " of "
                                       << expected;
}

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

  // The page's own scripts can neither reach the program's message channel
  // nor raise a click with a made-up event.
  EXPECT_EQ(Js("main", "typeof (window.webkit && window.webkit.messageHandlers &&"
                       " window.webkit.messageHandlers.quorpack)").result,
            "undefined");
  ASSERT_EQ(Js("main", "document.getElementById('box').dispatchEvent(new MouseEvent('mouseup',"
                       "{bubbles:true,clientX:5,clientY:5}))+''").result,
            "true");
  ClickElement("main", id, "box");
  ASSERT_TRUE(WaitForEvent("main window_click <box>\n")) << Events();
  EXPECT_EQ(Events(), "main window_click <box>\n");  // the made-up one gave nothing

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
  // The window manager's own minimize and maximize (its task bar, its keys)
  // are sent as the events and undone.
  mark = Events().size();
  session_.Xdotool({"windowminimize", id});
  EXPECT_TRUE(PollUntil(
      [&] { return Events().find("window_minimize", mark) != std::string::npos; }, 3000ms))
      << Events();
  EXPECT_TRUE(PollUntil([&] { return !session_.FindWindows("Dialog").empty(); }, 3000ms));
  mark = Events().size();
  session_.Xdotool({"windowactivate", "--sync", id});
  session_.Xdotool({"key", "--clearmodifiers", "alt+F10"});
  EXPECT_TRUE(PollUntil(
      [&] { return Events().find("window_maximize", mark) != std::string::npos; }, 3000ms))
      << Events();
  EXPECT_TRUE(PollUntil([&] { return Near(session_.Geometry(id).width, before.width, 0); },
                        3000ms));
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

TEST_F(HtmlWindowTest, PosPlacesAndSizesTheWholeWindowAndTwoItemsGiveTheSmallestSize) {
  Start(OpenAndShow("main", Page("pos.html", "<p>pos</p>"), 40, 60));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  ASSERT_TRUE(WaitForJs("main", "document.readyState", "complete"));
  Control("set", "main pos 200<<<150<<<420<<<320");
  WindowGeometry g;
  EXPECT_TRUE(PollUntil(
      [&] {
        g = session_.Geometry(id);
        return Near(g.x, 200) && Near(g.y, 150) && Near(g.width, 420, 2) &&
               Near(g.height, 320, 2);
      },
      5000ms))
      << g.x << "," << g.y << " " << g.width << "x" << g.height;
  session_.Screenshot("html_window_pos_four");
  // Two items: moved, and a width and height of 0, which the window takes as
  // its smallest size.
  Control("set", "main pos 300<<<250");
  EXPECT_TRUE(PollUntil(
      [&] {
        g = session_.Geometry(id);
        return Near(g.x, 300) && Near(g.y, 250) && g.width < 420 && g.height < 320;
      },
      5000ms))
      << g.x << "," << g.y << " " << g.width << "x" << g.height;
  JsAnswer after = Js("main", "1+1");  // the program goes on
  EXPECT_EQ(after.result, "2") << after.status;
  session_.Screenshot("html_window_pos_two");
}

TEST_F(HtmlWindowTest, BorderNoneTakesTheTitleBarAwayAndNormalPutsItBack) {
  Start(OpenAndShow("main", Page("b.html", "<p>border</p>"), 40, 60));
  ASSERT_FALSE(Window("Dialog").empty()) << run_->err();
  ASSERT_TRUE(WaitForJs("main", "document.readyState", "complete"));
  auto framed = InnerSize("main");
  ASSERT_GT(framed.second, 0);
  Control("set", "main border None");
  EXPECT_TRUE(PollUntil([&] { return InnerSize("main").second > framed.second + 20; }, 5000ms));
  session_.Screenshot("html_window_border_none");
  Control("set", "main border sideways");  // other values do nothing
  Control("set", "main border normal");
  std::pair<int, int> back;
  EXPECT_TRUE(PollUntil(
      [&] {
        back = InnerSize("main");
        return Near(back.second, framed.second, 2);
      },
      5000ms))
      << back.second << " after " << framed.second;
  session_.Screenshot("html_window_border_normal");
}

TEST_F(HtmlWindowTest, WriteClearWriteAndClicksOnWrittenElements) {
  Start(OpenAndShow("main", "", 40, 60));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  ASSERT_TRUE(WaitForJs("main", "location.href", "about:blank"));
  Control("set", "main write <p id=\"one\">one</p>");
  ASSERT_TRUE(WaitForJs("main", "document.body.textContent", "one"));
  Control("set", "main clear");
  ASSERT_TRUE(WaitForJs("main", "document.documentElement?document.documentElement.textContent:''",
                        ""));
  // The text is data: quotes, backslashes and script-like text stay as written.
  Control("set", "main write <p id=\"two\" style=\"font-size:30px\">it's \"two\" \\ '+x+'</p>");
  ASSERT_TRUE(WaitForJs("main", "document.body.textContent", "it's \"two\" \\ '+x+'"));
  Control("set", "main write <b id=\"three\">three</b>");
  ASSERT_TRUE(WaitForJs("main", "document.body.textContent", "it's \"two\" \\ '+x+'three"));
  session_.Screenshot("html_window_write_clear_write");
  // The click handler survives the document's reopening.
  ClickElement("main", id, "two");
  EXPECT_TRUE(WaitForEvent("main window_click <two>\n")) << Events();
  EXPECT_EQ(Events().find("document_complete"), std::string::npos) << Events();
}

TEST_F(HtmlWindowTest, JsWindowResultErrorUnknownWindowAndRunawayPage) {
  Start(OpenAndShow("main", Page("js.html", "<p id=\"p\">进度</p>"), 40, 60));
  ASSERT_TRUE(WaitForJs("main", "document.readyState", "complete"));
  JsAnswer value = Js("main", "6*7");
  EXPECT_EQ(value.status, "1");
  EXPECT_EQ(value.result, "42");
  EXPECT_EQ(Js("main", "document.getElementById('p').textContent").result, "进度");
  JsAnswer error = Js("main", "nope()");
  EXPECT_EQ(error.status, "0");
  EXPECT_EQ(error.result, "ReferenceError: Can't find variable: nope");
  JsAnswer unknown = Js("nosuch", "1");
  EXPECT_EQ(unknown.status, "untouched");
  EXPECT_EQ(unknown.result, "none");
  // A page that never answers fails the request after the 5 s budget; the
  // other windows' requests are served meanwhile.
  Control("open", "second " + Page("js2.html", "<p>second</p>"));
  ASSERT_TRUE(WaitForJs("second", "document.readyState", "complete"));
  auto started = std::chrono::steady_clock::now();
  JsAnswer runaway = Js("main", "(function(){for(;;){}})()");
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(runaway.status, "0");
  EXPECT_GE(took, 4500ms);
  EXPECT_LT(took, 9000ms);
  EXPECT_EQ(Js("second", "'still here'").result, "still here");
  session_.Screenshot("html_window_js");
}

// A loopback server that takes connections and never answers: the window's
// first document never completes.
TEST_F(HtmlWindowTest, JsWindowBeforeTheFirstDocumentFails) {
  int server = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 8), 0);
  socklen_t length = sizeof address;
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/slow";
  Start(OpenAndShow("main", url, 40, 60));
  JsAnswer early = Js("main", "1+1");
  EXPECT_EQ(early.status, "0");
  EXPECT_EQ(early.result, "");
  // Writing and clearing before the first document do nothing either.
  Control("set", "main write <p>lost</p>");
  Control("set", "main clear");
  EXPECT_EQ(Js("main", "2+2").status, "0");
  session_.Screenshot("html_window_before_first_document");
  close(server);
}

TEST_F(HtmlWindowTest, TwoWindowsSendTheirEventsToTheirOwnHandlers) {
  Start(OpenAndShow("main", Page("m.html", "<div id=\"left\" style=\"height:300px\">main</div>"),
                    20, 60) +
        OpenAndShow("second",
                    Page("s.html", "<div id=\"right\" style=\"height:300px\">second</div>"),
                    640, 60) +
        "setwindow second title 第二\n");
  // Both windows are called "Dialog" until the second one's title arrives, so
  // the first is the one "Dialog" left once the second has its own title.
  std::string second = Window("第二" + kSuffix);
  ASSERT_FALSE(second.empty()) << run_->err();
  std::vector<std::string> dialogs;
  ASSERT_TRUE(PollUntil([&] { return (dialogs = session_.FindWindows("Dialog")).size() == 1; },
                        15000ms))
      << dialogs.size() << " windows called Dialog; " << run_->err();
  std::string first = dialogs.front();
  ASSERT_NE(first, second);
  ASSERT_TRUE(WaitForJs("main", "document.readyState", "complete"));
  ASSERT_TRUE(WaitForJs("second", "document.readyState", "complete"));
  ClickElement("second", second, "right");
  ASSERT_TRUE(WaitForEvent("second window_click <right>\n")) << Events();
  ClickElement("main", first, "left");
  ASSERT_TRUE(WaitForEvent("main window_click <left>\n")) << Events();
  EXPECT_EQ(Events(), "second window_click <right>\nmain window_click <left>\n");
  session_.Screenshot("html_window_two_windows");
}

TEST_F(HtmlWindowTest, ShowHideMinimizeMaximizeRestoreTaskbarAndCloseThenReopen) {
  std::string firstUrl = Page("one.html", "<p>one</p>");
  Start(OpenAndShow("main", firstUrl, 40, 60));
  std::string id = Window("Dialog");
  ASSERT_FALSE(id.empty()) << run_->err();
  Control("hide", "");  // a name that is not open does nothing
  Control("set", "main taskbar none");
  EXPECT_TRUE(PollUntil(
      [&] {
        return RunTool({"xprop", "-id", id, "_NET_WM_STATE"}, session_.display())
                   .out.find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos;
      },
      5000ms));
  Control("set", "main taskbar normal");
  Control("set", "main minimize");
  EXPECT_TRUE(PollUntil([&] { return session_.FindWindows("Dialog").empty(); }, 5000ms));
  Control("set", "main restore");
  EXPECT_TRUE(PollUntil([&] { return !session_.FindWindows("Dialog").empty(); }, 5000ms));
  Control("set", "main maximize");
  WindowGeometry g;
  EXPECT_TRUE(PollUntil(
      [&] {
        g = session_.Geometry(id);
        return g.width > 1200 && g.height > 900;
      },
      5000ms))
      << g.width << "x" << g.height;
  session_.Screenshot("html_window_maximized");
  Control("set", "main restore");
  EXPECT_TRUE(PollUntil([&] { return session_.Geometry(id).width < 700; }, 5000ms));
  EXPECT_FALSE(
      RunTool({"xprop", "-id", id, "_NET_WM_STATE"}, session_.display()).out.find("SKIP_TASKBAR") !=
      std::string::npos);
  // Closing removes the name: the same name then opens a new window.
  Control("close", "main");
  EXPECT_TRUE(session_.WaitForNoWindow("Dialog", 5000ms));
  EXPECT_EQ(Js("main", "1").status, "untouched");
  std::string secondUrl = Page("two.html", "<p>two</p>");
  Control("open", "main " + secondUrl);
  Control("show", "main");
  std::string again = Window("Dialog");
  ASSERT_FALSE(again.empty());
  EXPECT_TRUE(WaitForJs("main", "location.href", secondUrl));
  session_.Screenshot("html_window_reopened");
  // Hidden and shown again.
  Control("hide", "main");
  EXPECT_TRUE(session_.WaitForNoWindow("Dialog", 5000ms));
  Control("show", "main");
  EXPECT_FALSE(Window("Dialog").empty());
}

}  // namespace
}  // namespace qp::testing
