// The main dialog in-process: settings at start-up, boot-file failure, and
// the end of the program after the last script.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "app/home_fixture.h"
#include "support/settings.h"
#include "ui/console_backend.h"

namespace qp {
namespace {

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDir(home_.dir());
    errors_ = std::tmpfile();
    output_ = std::tmpfile();
    backend_ = std::make_unique<ConsoleBackend>(-1, errors_, output_);
    dialog_ = std::make_unique<CQuorPackDlg>(nullptr, *backend_, [this](int code) {
      exitCode_ = code;
    });
  }
  void TearDown() override {
    dialog_.reset();
    backend_.reset();
    std::fclose(errors_);
    std::fclose(output_);
  }
  // Runs the default main context until the dialog asks to quit (bounded).
  bool RunUntilQuit() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (exitCode_ < 0 && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    return exitCode_ >= 0;
  }
  std::string Errors() {
    std::fflush(errors_);
    std::rewind(errors_);
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, errors_)) > 0) text.append(buffer, n);
    return text;
  }

  testing::HomeFixture home_;
  FILE* errors_ = nullptr;
  FILE* output_ = nullptr;
  std::unique_ptr<ConsoleBackend> backend_;
  std::unique_ptr<CQuorPackDlg> dialog_;
  int exitCode_ = -1;
};

TEST_F(MainDialogTest, WithoutConfigTheDefaultsHoldAndNoBootFileEndsTheProgram) {
  dialog_->Initialize();
  EXPECT_EQ(dialog_->hotkeyText(), "CTRL + 9");
  EXPECT_EQ(CQuorPackDlg::HomePage(), kDefaultHomePage);
  EXPECT_EQ(exitCode_, 0);  // asked to quit during initialisation
  EXPECT_EQ(dialog_->startedCount(), 0);
  EXPECT_NE(Errors().find("启动文件(Quorvant.boot)"), std::string::npos);
}

TEST_F(MainDialogTest, LongHotkeyIsReadAsItsFirst99Bytes) {
  std::string hotkey = "CTRL + " + std::string(113, 'A');
  home_.Write("Config.ini", "[setting]\nhotkey=" + hotkey + "\n");
  dialog_->Initialize();
  EXPECT_EQ(dialog_->hotkeyText(), hotkey.substr(0, 99));
}

TEST_F(MainDialogTest, TheSameScriptTwiceRunsTwiceAndTheLastEndQuits) {
  home_.WriteScript("a.qvr", "<main>\npause [#param]\n");
  home_.WriteBoot("x^a.qvr^200\ny^a.qvr^10\n");
  dialog_->Initialize();
  EXPECT_EQ(dialog_->startedCount(), 2);
  EXPECT_EQ(exitCode_, -1);
  ASSERT_TRUE(RunUntilQuit());
  EXPECT_EQ(exitCode_, 0);
  EXPECT_EQ(dialog_->endedCount(), 2);
  EXPECT_TRUE(dialog_->AllScriptsEnded());
  EXPECT_EQ(Errors(), "");
}

TEST_F(MainDialogTest, AnEventWhileNothingWaitsIsKeptAndHarmless) {
  home_.WriteScript("a.qvr", "<main>\npause 100\n");
  home_.WriteBoot("x^a.qvr^\n");
  dialog_->Initialize();
  dialog_->OnWindowEvent({"tray", "click", ""});
  ASSERT_TRUE(RunUntilQuit());
  EXPECT_EQ(exitCode_, 0);
}

}  // namespace
}  // namespace qp
