// Which user-interface back end the program asks for.
#include <gtest/gtest.h>

#include "app/quorpack_app.h"

namespace qp {
namespace {

TEST(BackendChoice, DesktopWhenADisplayIsSetAndUiIsNotConsole) {
  struct Case {
    const char* ui;
    const char* display;
    const char* wayland;
    bool desktop;
  } cases[] = {
      {"", ":0", nullptr, true},
      {"", nullptr, "wayland-0", true},
      {"gtk", ":1", "wayland-0", true},
      {"console", ":0", nullptr, false},
      {"Console", ":0", "wayland-0", false},
      {"", nullptr, nullptr, false},
      {"", "", "", false},  // set but empty: no display
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ui) + " / " + (c.display ? c.display : "-") + " / " +
                 (c.wayland ? c.wayland : "-"));
    EXPECT_EQ(WantsDesktop(c.ui, c.display, c.wayland), c.desktop);
  }
}

}  // namespace
}  // namespace qp
