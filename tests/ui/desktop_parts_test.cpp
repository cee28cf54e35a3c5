// Pieces of the desktop back end that need no display: the hotkey text, the
// tray menu's texts, the input dialog's placement, the CJK font, and the
// dispatcher's requests that finish later (an open message box).
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/script_runner.h"
#include "support/codepage.h"
#include "ui/console_backend.h"
#include "ui/desktop_session.h"
#include "ui/gtk_input_dialog.h"
#include "ui/hotkey_text.h"
#include "ui/tray_menu.h"
#include "ui/ui_dispatcher.h"

// The GTK and fontconfig caches that live until the end of the process are
// not ours; the suppression file names them.
extern "C" const char* __lsan_default_options() { return qp::testing::kLeakOptions; }

namespace qp {
namespace {

TEST(Hotkey, TextGivesModifiersAndTheKeyOfTheLastByte) {
  struct Case {
    const char* text;
    const char* accelerator;
  } cases[] = {
      {"CTRL + 9", "<Ctrl>9"},
      {"ALT + CTRL + Z", "<Ctrl><Alt>z"},
      {"CTRLALTA", "<Ctrl><Alt>a"},
      {"ctrl + 9", "9"},           // lower case names no modifier
      {"CTRL + F5", "<Ctrl>5"},    // only the last byte counts
      {"CTRL + q", "<Ctrl>F2"},    // 0x71 is the virtual key of F2
      {"ALT p", "<Alt>F1"},
      {"CTRL x", "<Ctrl>F9"},
      {"CTRL a", "<Ctrl>KP_1"},    // 0x61: numeric keypad 1
      {"CTRL `", "<Ctrl>KP_0"},
      {"CTRL o", "<Ctrl>KP_Divide"},
      {"CTRL  ", "<Ctrl>space"},
      {"CTRL -", "<Ctrl>Insert"},
      {"CTRL ~", "<Ctrl>F15"},
      {"CTRL \x87", "<Ctrl>F24"},
      {"", ""},                    // empty: no hotkey
      {"CTRL :", ""},              // 0x3A is no key
      {"CTRL \x88", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HotkeyAccelerator(c.text), c.accelerator);
  }
}

TEST(Hotkey, EveryDigitAndCapitalNamesItsKey) {
  for (char c = '0'; c <= '9'; ++c) EXPECT_EQ(VirtualKeyName(c), std::string(1, c));
  for (char c = 'A'; c <= 'Z'; ++c)
    EXPECT_EQ(VirtualKeyName(c), std::string(1, static_cast<char>(c - 'A' + 'a')));
  for (int f = 1; f <= 24; ++f)
    EXPECT_EQ(VirtualKeyName(static_cast<unsigned char>(0x6F + f)), "F" + std::to_string(f));
}

TEST(TrayMenu, ItemsAndMnemonics) {
  ASSERT_EQ(std::size(kTrayMenu), 4u);
  EXPECT_TRUE(kTrayMenu[0].isDefault);
  EXPECT_STREQ(kTrayMenu[0].event, "click_show");
  EXPECT_STREQ(kTrayMenu[1].event, "click_quit");
  EXPECT_EQ(kTrayMenu[2].action, TrayAction::Separator);
  EXPECT_EQ(kTrayMenu[3].action, TrayAction::OpenHomePage);
  EXPECT_EQ(GtkMnemonic(MsgUtf8(kTrayMenu[0].text)), "显示主界面(_S)");
  EXPECT_EQ(GtkMnemonic(MsgUtf8(kTrayMenu[1].text)), "退出(_Q)");
  EXPECT_EQ(GtkMnemonic(MsgUtf8(kTrayMenu[3].text)), "在线支持(_H)..");
  EXPECT_EQ(GtkMnemonic("a&&b_c&"), "a&b__c_");
}

TEST(TrayMenu, TipIsCutAt127BytesOnACharacterBoundary) {
  SetActiveCodePage(CodePageFromSetting("utf-8"));
  EXPECT_EQ(TrayTipUtf8("QuorPack"), "QuorPack");
  std::string chinese;
  for (int i = 0; i < 50; ++i) chinese += "中";  // 150 bytes
  std::string tip = TrayTipUtf8(chinese);
  EXPECT_EQ(tip.size(), 126u);
  EXPECT_TRUE(g_utf8_validate(tip.data(), static_cast<gssize>(tip.size()), nullptr));
  EXPECT_EQ(TrayTipUtf8(std::string(200, 'x')).size(), 127u);
  SetActiveCodePage(CodePageFromSetting(""));
}

TEST(InputDialog, SitsOnTheRightEdgeThirtyPixelsAboveTheBottom) {
  DialogOrigin o = BottomRightOrigin(1280, 1024, 314, 200);
  EXPECT_EQ(o.x, 1280 - 314);
  EXPECT_EQ(o.y, 1024 - 200 - 30);
}

// The program's own texts must not come out as boxes: a CJK font covers them.
TEST(Fonts, TheProgramsChineseTextsHaveGlyphs) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 50);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  for (MessageId id : {MessageId::kAppTitle, MessageId::kOkButton, MessageId::kInputDialogTitle,
                       MessageId::kMenuShow, MessageId::kMenuQuit, MessageId::kMenuHelp}) {
    SCOPED_TRACE(MsgUtf8(id));
    pango_layout_set_text(layout, MsgUtf8(id), -1);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0);
  }
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

// A request that its server finishes later (a message box) holds up only its
// own sender: a second script's request is served meanwhile.
TEST(Dispatcher, AnOpenRequestDoesNotHoldUpAnother) {
  GMainContext* context = g_main_context_new();
  ConsoleBackend backend;
  UiDispatcher::Finish openAlert;
  std::vector<std::string> served;
  UiDispatcher dispatcher(context, backend,
                          [&](ScriptRunner&, UiRequestKind kind, const std::string& text,
                              UiDispatcher::Finish finish) {
                            served.push_back(text);
                            if (kind == UiRequestKind::Alert)
                              openAlert = std::move(finish);
                            else
                              finish();
                          });
  ScriptRunner first, second;
  std::atomic<bool> firstBack{false}, secondBack{false};
  std::thread a([&] {
    dispatcher.Request(first, UiRequestKind::Alert, "box");
    firstBack = true;
  });
  auto serveUntil = [&](auto done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      g_main_context_iteration(context, FALSE), std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
  };
  ASSERT_TRUE(serveUntil([&] { return static_cast<bool>(openAlert); }));
  std::thread b([&] {
    dispatcher.Request(second, UiRequestKind::Note, "note");
    secondBack = true;
  });
  EXPECT_TRUE(serveUntil([&] { return secondBack.load(); }));
  EXPECT_FALSE(firstBack);
  openAlert();
  EXPECT_TRUE(serveUntil([&] { return firstBack.load(); }));
  a.join();
  b.join();
  EXPECT_EQ(served, (std::vector<std::string>{"box", "note"}));
  g_main_context_unref(context);
}

}  // namespace
}  // namespace qp
