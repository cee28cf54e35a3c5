// Native calls: casts, argument order, results, the entry-point cache,
// loading and unloading, and every error report with its command.
#include "native/native_calls.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine/script_runner.h"
#include "native/native_libraries.h"
#include "native/native_reference.h"
#include "support/codepage.h"
#include "support/messages.h"

namespace qp {
namespace {

const char* const kTestLibrary = QP_NATIVE_TESTLIB;

class RecordingUi : public UiService {
 public:
  void Request(ScriptRunner&, UiRequestKind kind, const std::string& text) override {
    if (kind == UiRequestKind::Alert) alerts.push_back(text);
  }
  std::vector<std::string> alerts;
};

// The text of an error report as the user sees it.
std::string Report(const std::string& command, const std::string& reason) {
  return Msg(MessageId::kErrorPrefix) + "\"" + command + "\"\r\n" +
         Msg(MessageId::kReasonPrefix) + reason;
}

std::string Gbk(const char* utf8) { return ConvertCodePage(utf8, kCodePageUtf8, kCodePageGbk); }

// True while the test library is mapped into the process.
bool TestLibraryMapped() {
  void* handle = dlopen(kTestLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

class NativeCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.ui = &ui;
    LoadLibraryCommand(runner, std::string("t ") + kTestLibrary);
    ASSERT_NE(runner.native->handles["t"], nullptr) << dlerror();
  }
  std::string Call(const std::string& inner) { return CallNativeFunction(runner, inner); }

  RecordingUi ui;
  ScriptRunner runner;
};

TEST(NativeItemTest, CastsAreParsedAtTheStartOfAnItem) {
  const struct {
    const char* item;
    NativeKind kind;
    const char* text;
    bool bracketError;
  } cases[] = {
      {"t.add", NativeKind::kCharPtr, "t.add", false},
      {"(int)t.add", NativeKind::kInt, "t.add", false},
      {"  ( INT )5", NativeKind::kInt, "5", false},
      {"(bstr)x", NativeKind::kBstr, "x", false},
      {"(Char*) x ", NativeKind::kCharPtr, " x ", false},
      {"(long)x", NativeKind::kCharPtr, "x", false},
      {"(int)", NativeKind::kInt, "", false},
      {"((int))x", NativeKind::kCharPtr, ")x", false},
      {"x(int)", NativeKind::kCharPtr, "x(int)", false},
      {"", NativeKind::kCharPtr, "", false},
      {"(int 5", NativeKind::kCharPtr, "(int 5", true},
      {" (", NativeKind::kCharPtr, " (", true},
  };
  for (const auto& c : cases) {
    const NativeItem item = ParseNativeItem(c.item);
    EXPECT_EQ(item.kind, c.kind) << c.item;
    EXPECT_EQ(item.text, c.text) << c.item;
    EXPECT_EQ(item.bracketError, c.bracketError) << c.item;
  }
  EXPECT_EQ(SplitNativeItems(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitNativeItems("a<<<<<<b<<<"), (std::vector<std::string>{"a", "", "b", ""}));
}

TEST_F(NativeCallTest, CallsGiveTheirResultsAsText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"(int)t.add<<<(int)2<<<(int)3", "5"},
      {"(int)t.sub<<<(int)2<<<(int)3", "1"},  // sub(3, 2): the first argument written comes last
      {"(int)t.answer", "42"},
      {"(int)t.negate<<<(int)7", "-7"},
      {"(int)t.digits3<<<(int)1<<<(int)2<<<(int)3", "321"},
      {"(int)t.digits6<<<(int)1<<<(int)2<<<(int)3<<<(int)4<<<(int)5<<<(int)6", "654321"},
      {"(int)t.echo_int<<<(int)  42abc", "42"},
      {"(int)t.echo_int<<<(int)-7", "-7"},
      {"(int)t.echo_int<<<(int) +5", "5"},
      {"(int)t.echo_int<<<(int)x", "0"},
      {"(int)t.echo_int<<<(int)99999999999", "2147483647"},
      {"(int)t.echo_int<<< (int)12", "12"},
      {"t.greeting", "hello"},
      {"(char*)t.greeting", "hello"},
      {"( CHAR* )t.greeting", "hello"},
      {"(long)t.greeting", "hello"},
      {"t.nothing", ""},
      {"t.mixed<<<b<<<(int)5<<<a", "a|5|b"},
      {"t.join5<<<1<<<2<<<3<<<4<<<5", "54321"},
      {"t.shout<<<abc", "ABC"},
      {"(int)t.length<<<", "0"},
      {"(int)t.length<<< a b ", "5"},
      {"(int)t.length<<<" + Gbk("中文"), "4"},
      {"(bstr)t.wide_text", Gbk("中文A")},
      {"(bstr)t.wide_null", ""},
  };
  for (const auto& [inner, expected] : cases) EXPECT_EQ(Call(inner), expected) << inner;
  EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(NativeCallTest, WideResultsFollowTheActiveCodePage) {
  const int saved = ActiveCodePage();
  SetActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(Call("(bstr)t.wide_emoji"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Call("(bstr)t.wide_text"), "中文A");
  SetActiveCodePage(saved);
}

TEST_F(NativeCallTest, ErrorsAreReportedWithTheirCommand) {
  const struct {
    const char* inner;
    std::vector<std::string> alerts;
  } cases[] = {
      {"", {Report("", Msg(MessageId::kFormatError))}},
      {"tadd<<<1", {Report("tadd<<<1", Msg(MessageId::kFormatError))}},
      {"(int)nolib.add<<<1", {Report("(int)nolib.add<<<1", "nolib" + Msg(MessageId::kDllMissing))}},
      {"(int)t.missing", {Report("(int)t.missing", "t.missing" + Msg(MessageId::kDllFunctionMissing))}},
      {"(int)t.add<<<(bstr)2<<<3", {Report("(int)t.add<<<(bstr)2<<<3", Msg(MessageId::kFormatError))}},
      // The reader goes on after an unclosed cast, so a second report follows.
      {"(int t.add<<<2",
       {Report("(int t.add", Msg(MessageId::kBracketMismatch)),
        Report("(int t.add<<<2", "(int t" + Msg(MessageId::kDllMissing))}},
  };
  for (const auto& c : cases) {
    ui.alerts.clear();
    EXPECT_EQ(Call(c.inner), "") << c.inner;
    EXPECT_EQ(ui.alerts, c.alerts) << c.inner;
  }
}

TEST_F(NativeCallTest, UnclosedCastOnAnArgumentStillCalls) {
  EXPECT_EQ(Call("(int)t.length<<<(int 2"), "6");
  EXPECT_EQ(ui.alerts, std::vector<std::string>{Report("(int 2", Msg(MessageId::kBracketMismatch))});
}

TEST_F(NativeCallTest, SecondCallUsesTheCachedEntryPoint) {
  EXPECT_EQ(Call("(int)t.count_calls"), "1");
  EXPECT_EQ(runner.native->functions.count("t.count_calls"), 1u);
  // With the library gone from the table, only the cache can serve the call.
  void* handle = runner.native->handles["t"];
  runner.native->handles.erase("t");
  EXPECT_EQ(Call("(int)t.count_calls"), "2");
  EXPECT_TRUE(ui.alerts.empty());
  runner.native->handles["t"] = handle;
  // The cache is keyed by the reference text after the cast.
  EXPECT_EQ(Call(" ( INT )t.count_calls"), "3");
  EXPECT_EQ(runner.native->functions.size(), 1u);
}

TEST_F(NativeCallTest, UnloadFreesTheLibraryAndItsEntryPoints) {
  LoadLibraryCommand(runner, std::string("u ") + kTestLibrary);
  EXPECT_EQ(Call("(int)t.add<<<(int)1<<<(int)1"), "2");
  EXPECT_EQ(Call("(int)u.add<<<(int)2<<<(int)2"), "4");
  UnloadLibraryCommand(runner, "t");
  EXPECT_EQ(runner.native->handles.count("t"), 0u);
  EXPECT_EQ(runner.native->functions.count("t.add"), 0u);
  EXPECT_EQ(runner.native->functions.count("u.add"), 1u);
  EXPECT_EQ(Call("(int)t.add<<<1<<<1"), "");
  EXPECT_EQ(ui.alerts, std::vector<std::string>{Report("(int)t.add<<<1<<<1", "t" + Msg(MessageId::kDllMissing))});
  EXPECT_EQ(Call("(int)u.add<<<(int)2<<<(int)2"), "4");
  UnloadLibraryCommand(runner, "u");
  EXPECT_FALSE(TestLibraryMapped());
}

TEST_F(NativeCallTest, UnloadOfAnUnknownNameIsReported) {
  UnloadLibraryCommand(runner, "nope");
  EXPECT_EQ(ui.alerts, std::vector<std::string>{Report("UNLOADDLL nope", Msg(MessageId::kUnloadUnknownDll))});
  EXPECT_EQ(runner.native->handles.count("t"), 1u);
}

TEST_F(NativeCallTest, LoadingANameAgainFreesTheEarlierLibrary) {
  EXPECT_EQ(Call("(int)t.add<<<(int)1<<<(int)2"), "3");
  LoadLibraryCommand(runner, std::string("t ") + kTestLibrary);
  EXPECT_TRUE(runner.native->functions.empty());
  EXPECT_EQ(Call("(int)t.add<<<(int)1<<<(int)2"), "3");
  UnloadLibraryCommand(runner, "t");
  EXPECT_FALSE(TestLibraryMapped());  // no handle of the first load is left
}

TEST_F(NativeCallTest, FailedLoadsStoreNothingUsableAndReportNothing) {
  LoadLibraryCommand(runner, "gone /nonexistent/libgone.so");
  LoadLibraryCommand(runner, "blank ");
  EXPECT_TRUE(ui.alerts.empty());
  ASSERT_EQ(runner.native->handles.count("gone"), 1u);
  EXPECT_EQ(runner.native->handles["gone"], nullptr);
  EXPECT_EQ(runner.native->handles["blank"], nullptr);
  EXPECT_EQ(Call("gone.f"), "");
  EXPECT_EQ(ui.alerts, std::vector<std::string>{Report("gone.f", "gone.f" + Msg(MessageId::kDllFunctionMissing))});
  ui.alerts.clear();
  UnloadLibraryCommand(runner, "gone");  // a null handle unloads quietly
  EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(NativeCallTest, LoadWithoutPathIsAFormatError) {
  LoadLibraryCommand(runner, "lonely");
  EXPECT_EQ(ui.alerts, std::vector<std::string>{Report("lonely", Msg(MessageId::kFormatError))});
  EXPECT_EQ(runner.native->handles.count("lonely"), 0u);
}

TEST_F(NativeCallTest, FreeLibrariesReleasesEverything) {
  LoadLibraryCommand(runner, std::string("u ") + kTestLibrary);
  EXPECT_EQ(Call("(int)u.answer"), "42");
  FreeLibraries(runner);
  EXPECT_TRUE(runner.native->handles.empty());
  EXPECT_TRUE(runner.native->functions.empty());
  EXPECT_FALSE(TestLibraryMapped());
}

}  // namespace
}  // namespace qp

namespace qp {
namespace {

// The run's library table closes what it holds when it goes: afterwards the
// library is no longer loaded in the process.
TEST(NativeLibraries, DestructionClosesEveryHandle) {
  {
    NativeLibraries libraries;
    libraries.handles["t"] = dlopen(kTestLibrary, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(libraries.handles["t"], nullptr) << dlerror();
    void* probe = dlopen(kTestLibrary, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(probe, nullptr);
    dlclose(probe);  // the probe's own reference
  }
  EXPECT_EQ(dlopen(kTestLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr);
}

}  // namespace
}  // namespace qp
