// The command table's routing of registered families: a handler gets the
// operand substituted or as compiled, as the table says, and a family that
// nothing registered does nothing.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "commands/script_commands.h"
#include "engine/command_table.h"
#include "fake_ui.h"

namespace qp::test {
namespace {

std::vector<std::pair<CommandCode, std::string>> seen;

void Record(ScriptRunner&, CommandCode code, const std::string& operand) {
  seen.emplace_back(code, operand);
}

class CommandTableTest : public ::testing::Test {
 protected:
  void SetUp() override { seen.clear(); }
  // The real handlers again, for the tests that follow.
  void TearDown() override { RegisterScriptCommands(); }
  FakeUi ui;
};

TEST_F(CommandTableTest, HandlersGetTheOperandAsTheirRouteSays) {
  RegisterCommandFamily(CommandFamily::Native, &Record);
  RegisterCommandFamily(CommandFamily::Http, &Record);
  auto runner = MakeRunner(
      "var [#n] lib\nloaddll [#n] /x.so\nunloaddll [#n]\nget http://h/[#n]\n"
      "setcookies [#n] v\nclear [#n]\n",
      ui);
  qp::Run(*runner);
  const std::vector<std::pair<CommandCode, std::string>> expected = {
      {kLoadDll, "[#n] /x.so"},      // Raw: the handler substitutes its parts
      {kUnloadDll, "lib"},           // Substituted
      {kGet, "http://h/lib"},        // Substituted
      {kSetCookies, "[#n] v"},       // Raw
      {kClear, "[#n]"},              // Unused: handed over as written
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(CommandTableTest, AFamilyWithoutHandlerDoesNothing) {
  RegisterCommandFamily(CommandFamily::Database, nullptr);
  auto runner = MakeRunner("var [#a] 1\nclosedb [#a]\nvar [#b] 2\n", ui);
  qp::Run(*runner);
  EXPECT_EQ(runner->variables.Get("b"), "2");
  EXPECT_TRUE(ui.Alerts().empty());
  EXPECT_TRUE(runner->databases.empty());
}

TEST(CommandRoutes, UiCommandsNameTheirRequest) {
  const struct {
    CommandCode code;
    CommandFamily family;
    UiRequestKind ui;
  } cases[] = {
      {kAlert, CommandFamily::Ui, UiRequestKind::Alert},
      {kPrompt, CommandFamily::Ui, UiRequestKind::Prompt},
      {kShowTray, CommandFamily::Ui, UiRequestKind::ShowTray},
      {kJsWindow, CommandFamily::Ui, UiRequestKind::JsWindow},
      {kGet, CommandFamily::Http, UiRequestKind::NoRequest},
      {kQuery, CommandFamily::Database, UiRequestKind::NoRequest},
      {kRegex, CommandFamily::Text, UiRequestKind::NoRequest},
      {kWhile, CommandFamily::Flow, UiRequestKind::NoRequest},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RouteOf(c.code).family, c.family) << CommandName(c.code);
    EXPECT_EQ(RouteOf(c.code).ui, c.ui) << CommandName(c.code);
  }
  // Codes outside the list (the label code, negative numbers) route nowhere.
  EXPECT_EQ(RouteOf(kLabel).family, CommandFamily::Flow);
  EXPECT_EQ(RouteOf(-5).family, CommandFamily::Flow);
  EXPECT_EQ(RouteOf(100000).family, CommandFamily::Flow);
}

}  // namespace
}  // namespace qp::test
