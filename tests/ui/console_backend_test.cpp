// The console back end's prompt queue and message lines, driven through a
// pipe and the default main context with bounded iterations.
#include "ui/console_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>

#include "engine/script_runner.h"
#include "support/codepage.h"

namespace qp {
namespace {

std::string ReadAll(FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return text;
}

class ConsolePromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    errors_ = std::tmpfile();
    output_ = std::tmpfile();
    backend_ = std::make_unique<ConsoleBackend>(fds_[0], errors_, output_);
  }
  void TearDown() override {
    backend_.reset();
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    std::fclose(errors_);
    std::fclose(output_);
  }
  void Ask(ScriptRunner& runner, const std::string& html) {
    backend_->BeginPrompt(runner, html, [this](ScriptRunner& r, const std::string& answer) {
      answers_[&r] = answer;
    });
  }
  void Type(const std::string& text) {
    ASSERT_EQ(write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void EndInput() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  // Runs the loop until `runner` has an answer, for at most two seconds.
  bool AnswerOf(ScriptRunner& runner, std::string& answer) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!answers_.count(&runner) && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    if (!answers_.count(&runner)) return false;
    answer = answers_[&runner];
    return true;
  }
  void Spin() {
    for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  }

  int fds_[2] = {-1, -1};
  FILE* errors_ = nullptr;
  FILE* output_ = nullptr;
  std::unique_ptr<ConsoleBackend> backend_;
  std::map<ScriptRunner*, std::string> answers_;
};

TEST_F(ConsolePromptTest, QuestionsAreAskedAndAnsweredInTurn) {
  ScriptRunner first, second, third;
  Ask(first, "q1");
  Ask(second, "<i>q2</i>");
  Spin();
  EXPECT_EQ(ReadAll(errors_), "请输入..: q1\n");
  EXPECT_TRUE(answers_.empty());
  Type("one\ntw");
  std::string answer;
  ASSERT_TRUE(AnswerOf(first, answer));
  EXPECT_EQ(answer, "one");
  Spin();
  EXPECT_FALSE(answers_.count(&second));  // half a line is no answer yet
  EXPECT_EQ(ReadAll(errors_), "请输入..: q1\n请输入..: q2\n");
  Type("o\r\n");
  ASSERT_TRUE(AnswerOf(second, answer));
  EXPECT_EQ(answer, "two");
  EndInput();
  Ask(third, "q3");
  ASSERT_TRUE(AnswerOf(third, answer));
  EXPECT_EQ(answer, "");
}

TEST_F(ConsolePromptTest, LastLineWithoutLineEndIsTheAnswerAtEndOfInput) {
  ScriptRunner runner;
  Ask(runner, "q");
  Type("abc");
  EndInput();
  std::string answer;
  ASSERT_TRUE(AnswerOf(runner, answer));
  EXPECT_EQ(answer, "abc");
}

TEST_F(ConsolePromptTest, AnswersTypedInUtf8ReachTheScriptInItsCodePage) {
  ScriptRunner runner;
  Ask(runner, "q");
  Type("中文\n");
  std::string answer;
  ASSERT_TRUE(AnswerOf(runner, answer));
  EXPECT_EQ(answer, Utf8ToActive("中文"));
}

TEST_F(ConsolePromptTest, EndingThePromptShownAsksTheNextOne) {
  ScriptRunner first, second;
  Ask(first, "q1");
  Ask(second, "q2");
  backend_->EndPrompt(first);
  Type("for second\n");
  std::string answer;
  ASSERT_TRUE(AnswerOf(second, answer));
  EXPECT_EQ(answer, "for second");
  EXPECT_FALSE(answers_.count(&first));
  EXPECT_EQ(ReadAll(errors_), "请输入..: q1\n请输入..: q2\n");
}

TEST(ConsoleBackend, AlertAndOpenLines) {
  FILE* errors = std::tmpfile();
  FILE* output = std::tmpfile();
  {
    ConsoleBackend backend(0, errors, output);
    backend.ShowAlert(Utf8ToActive("出错：\"X\"\r\n原因：y\r\n"));
    backend.OpenFile("/home/q/Temp/note_1.txt");
  }
  EXPECT_EQ(ReadAll(errors), "提示窗口: 出错：\"X\"\n原因：y\n\n");
  EXPECT_EQ(ReadAll(output), "/home/q/Temp/note_1.txt\n");
  std::fclose(errors);
  std::fclose(output);
}

TEST(ConsoleWindow, KeepsWhatScriptsSet) {
  ConsoleWindow window("w", "about:blank");
  window.Write("<p>a</p>");
  window.Write("b");
  EXPECT_EQ(window.state().document, "<p>a</p>b");
  window.Navigate("http://127.0.0.1/");
  EXPECT_EQ(window.state().url, "http://127.0.0.1/");
  EXPECT_EQ(window.state().document, "");
  std::string result = "old";
  EXPECT_FALSE(window.RunScript("1+1", result));
  EXPECT_EQ(result, "");
}

}  // namespace
}  // namespace qp
