// Built-in functions of "@" references.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "fake_ui.h"
#include "support/settings.h"

namespace qp::test {
namespace {

class BuiltinTest : public ::testing::Test {
 protected:
  BuiltinTest() : runner(MakeRunner("", ui)) {}
  std::string Call(const std::string& text) { return CallBuiltin(*runner, text); }
  FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
};

TEST_F(BuiltinTest, ResultsTable) {
  struct Case {
    const char* call;
    const char* result;
  } cases[] = {
      {" LEN <<<abc", "3"},
      {"len<<<", "0"},
      {"len<<<a b ", "4"},
      {"len<<<\xD6\xD0", "2"},  // one GBK character is two bytes
      {"isnull<<<", "1"},
      {"isnull<<<x", "0"},
      {"indexof<<<abcabc<<<ca", "2"},
      {"indexof<<<abc<<<x", "-1"},
      {"indexof<<<abc<<<", "0"},
      {"indexof<<<\xD6\xD0x<<<x", "2"},
      {"lastindexof<<<a.b.c<<<.", "3"},
      {"lastindexof<<<abc<<<", "3"},
      {"lastindexof<<<abc<<<x", "-1"},
      {"lastindexof<<<a.b<<<.zz", "1"},
      {"replace<<<a-b-c<<<-<<<+", "a+b+c"},
      {"replace<<<a-b-c<<<-", "abc"},
      {"replace<<<abc<<<<<<x", "abc"},
      {"compare<<<abc<<<abc", "1"},
      {"compare<<<abc<<<ABC", "0"},
      {"substr<<<abcdef<<<2", "cdef"},
      {"substr<<<abcdef<<<2<<<10", "cdef"},
      {"substr<<<abcdef<<<10", ""},
      {"substr<<<abcdef<<<1<<<2", "bc"},
      {"substr<<<abcdef<<<-3<<<2", "ab"},
      {"substr<<<abcdef<<<2<<<-1", ""},
      {"substr<<<abcdef<<<x", "abcdef"},
      {"urlencode<<<a b&", "a+b%26"},
      {"lcase<<<AbC", "abc"},
      {"ucase<<<AbC", "ABC"},
      {"rand<<<5<<<5", "5"},
      {"rand<<<0", "0"},
      {"robotid", "1"},
      {"nosuchfunction<<<x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Call(c.call), c.result) << c.call;
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST_F(BuiltinTest, CaseMappingStepsOverDoubleByteCharacters) {
  // 0x81 0x61 is one GBK character whose second byte is "a".
  EXPECT_EQ(Call("ucase<<<\x81\x61" "a"), "\x81\x61" "A");
}

TEST_F(BuiltinTest, TooFewArguments) {
  struct Case {
    const char* call;
    const char* result;
  } cases[] = {
      {"len", "0"},        {"isnull", "1"},      {"writefile<<<x", "0"},
      {"readfile", ""},    {"readfile<<<a<<<1<<<x", ""},
      {"indexof<<<a", "-1"}, {"lastindexof<<<a", "-1"}, {"replace<<<a", ""},
      {"split<<<a", "0"},  {"compare<<<a", "0"}, {"substr<<<a", ""},
      {"urlencode", ""},   {"lcase", ""},        {"ucase", ""},
      {"rand", "0"},
  };
  for (const auto& c : cases) {
    FakeUi local;
    auto r = MakeRunner("", local);
    EXPECT_EQ(CallBuiltin(*r, c.call), c.result) << c.call;
    EXPECT_EQ(local.Alerts(), std::vector<std::string>{ErrorText(c.call, Msg(MessageId::kFormatError))})
        << c.call;
  }
}

TEST_F(BuiltinTest, NumbersThatDoNotFitReportTheException) {
  EXPECT_EQ(Call("substr<<<abc<<<99999999999"), "abc");
  std::string r = Call("rand<<<99999999999");
  int value = std::stoi(r);
  EXPECT_GE(value, 0);
  EXPECT_LE(value, 10);
  std::string reason = Msg(MessageId::kNumberException);
  EXPECT_EQ(ui.Alerts(), (std::vector<std::string>{ErrorText("substr<<<abc<<<99999999999", reason),
                                                   ErrorText("rand<<<99999999999", reason)}));
}

TEST_F(BuiltinTest, SplitWritesNumberedVariables) {
  EXPECT_EQ(Call("split<<<a,b,c<<<,"), "3");
  EXPECT_EQ(runner->variables.Get("_0"), "a");
  EXPECT_EQ(runner->variables.Get("_1"), "b");
  EXPECT_EQ(runner->variables.Get("_2"), "c");
  EXPECT_EQ(Call("split<<<abc<<<,"), "1");
  EXPECT_EQ(runner->variables.Get("_0"), "abc");
  EXPECT_EQ(Call("split<<<a,<<<"), "1");  // an empty separator: one piece
  EXPECT_EQ(runner->variables.Get("_0"), "a,");
  EXPECT_EQ(Call("split<<<,x,<<<,"), "3");
  EXPECT_EQ(runner->variables.Get("_0"), "");
  EXPECT_EQ(runner->variables.Get("_2"), "");
}

TEST_F(BuiltinTest, RandStaysWithinBounds) {
  runner->randomState = 7;
  for (int k = 0; k < 200; ++k) {
    int v = std::stoi(Call("rand<<<-5<<<5"));
    EXPECT_GE(v, -5);
    EXPECT_LE(v, 5);
  }
  int wide = std::stoi(Call("rand<<<-2000000000<<<2000000000"));
  EXPECT_GE(wide, -2000000000);
  EXPECT_LE(wide, 2000000000);
}

TEST_F(BuiltinTest, TimeAndEnvironment) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(Call("time<<<%y"), std::to_string(local.tm_year + 1900));
  EXPECT_EQ(Call("time<<<%y-%%"), std::to_string(local.tm_year + 1900) + "-%%");
  std::string plain = Call("time");
  EXPECT_EQ(plain.rfind(std::to_string(local.tm_year + 1900) + "-", 0), 0u) << plain;
  long long seconds = std::stoll(Call("longtime"));
  EXPECT_LE(std::llabs(seconds - static_cast<long long>(now)), 5);
  EXPECT_EQ(Call("userpath"), ProgramDir());
  ui.width = 1920;
  ui.height = 1080;
  EXPECT_EQ(Call("screenwidth"), "1920");
  EXPECT_EQ(Call("screenheight"), "1080");
}

class FileBuiltinTest : public BuiltinTest {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("qp_engine_files_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    path = (dir / "f.txt").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string path;
};

TEST_F(FileBuiltinTest, WriteAppendsOrReplaces) {
  EXPECT_EQ(Call("writefile<<<" + path + "<<<one\n"), "1");
  EXPECT_EQ(Call("writefile<<<" + path + "<<<two\n"), "1");
  EXPECT_EQ(Call("readfile<<<" + path), "one\r\ntwo\r\n");
  EXPECT_EQ(Call("writefile<<<" + path + "<<<new<<<w"), "1");
  EXPECT_EQ(Call("readfile<<<" + path), "new\r\n");
  EXPECT_EQ(Call("writefile<<<" + path + "<<<x<<<q"), "0");  // not an open mode
  EXPECT_EQ(Call("writefile<<<" + (dir / "missing" / "f.txt").string() + "<<<x"), "0");
}

TEST_F(FileBuiltinTest, ReadLines) {
  std::ofstream(path, std::ios::binary) << "first\r\nsecond\nthird";
  EXPECT_EQ(Call("readfile<<<" + path), "first\r\nsecond\r\nthird\r\n");
  EXPECT_EQ(Call("readfile<<<" + path + "<<<2"), "second");
  EXPECT_EQ(Call("readfile<<<" + path + "<<<0"), "3");
  EXPECT_EQ(Call("readfile<<<" + path + "<<<4"), "");
  std::string missing = (dir / "none.txt").string();
  EXPECT_EQ(Call("readfile<<<" + missing), "");
  EXPECT_EQ(Call("readfile<<<" + missing + "<<<0"), "0");
  EXPECT_EQ(Call("readfile<<<" + missing + "<<<1"), "");
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST_F(FileBuiltinTest, BackslashesInPathsAreFolderSeparators) {
  std::string windowsStyle = path;
  windowsStyle.replace(windowsStyle.rfind('/'), 1, "\\");
  EXPECT_EQ(Call("writefile<<<" + windowsStyle + "<<<x"), "1");
  EXPECT_EQ(Call("readfile<<<" + path), "x\r\n");
}

}  // namespace
}  // namespace qp::test
