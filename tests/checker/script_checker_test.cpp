// The static checker on small scripts, each with its exact findings.
#include "checker/script_checker.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "compiler/text_file.h"

namespace qp {
namespace {

class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qp-check-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    std::filesystem::create_directories(home_ + "/Script/lib");
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::string path = home_ + "/Script/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Findings of `text` saved as Script/main.qvr, with the home folder's path
  // shortened to "H" so that the expectations read plainly.
  std::vector<std::string> Check(const std::string& text) {
    std::string path = Write("main.qvr", text);
    std::vector<std::string> lines;
    for (const Finding& finding : CheckFiles({path}, home_)) {
      std::string line = FormatFinding(finding);
      for (size_t at; (at = line.find(home_)) != std::string::npos;) line.replace(at, home_.size(), "H");
      lines.push_back(line);
    }
    return lines;
  }
  std::string home_;
};

using Lines = std::vector<std::string>;

struct Case {
  const char* name;
  const char* script;
  Lines expected;
};

const Case kCases[] = {
    {"clean script has no findings",
     "// a comment\n<main>\nvar [#n] 1\nif ([#n]==1)\n{\n  call <sub>\n}\nelse\n{\n  goto <main>\n}\n"
     "regex word {[a-z]+}\nmatch word [#n]\nalert [$word.0] [@len<<<[#n]] [#status]\n<sub>\nreturn\n"
     "<on_tray_click>\nreturn\n<on_system_hotkey>\nreturn\n",
     {}},
    {"unbalanced braces",
     "if 1\n{\nnote a\n}\n}\nwhile 1\n{\n",
     {"H/Script/main.qvr:5: error: \"}\" without its \"{\"",
      "H/Script/main.qvr:7: error: \"{\" is never closed by \"}\""}},
    {"else without its if block and if without a block",
     "note a\nelse\n{\n}\nif 1\nnote b\n",
     {"H/Script/main.qvr:2: error: \"else\" does not follow the block of an \"if\"",
      "H/Script/main.qvr:5: error: \"if\" is not followed by a \"{\" block"}},
    {"jumps to labels that no file defines or that differ in case",
     "<next>\ngoto <Next>\ncall <nowhere>\ngoto [#target]\n",
     {"H/Script/main.qvr:2: error: \"goto <Next>\": labels are stored in lower case, so only \"<next>\" reaches it",
      "H/Script/main.qvr:3: error: \"call <nowhere>\": no file defines the label <nowhere>",
      "H/Script/main.qvr:4: warning: variable \"target\" is read but never assigned (it reads as empty)"}},
    {"labels defined twice",
     "<a>\nnote 1\n<a>\nnote 2\n",
     {"H/Script/main.qvr:3: warning: label \"<a>\" is defined again (first at H/Script/main.qvr:1); this later one counts"}},
    {"handler labels that can never match",
     "openwindow Main page.html\nopenwindow help\n<on_tray_dblclick>\n<on_system_key>\n<on_Main_click>\n"
     "<on_nobody_click>\n<on_help_close>\nreturn\n",
     {"H/Script/main.qvr:3: warning: handler label \"<on_tray_dblclick>\" can never match: \"tray\" raises only click, click_show, click_quit",
      "H/Script/main.qvr:4: warning: handler label \"<on_system_key>\" can never match: \"system\" raises only hotkey",
      "H/Script/main.qvr:5: warning: handler label \"<on_Main_click>\" can never match: window \"Main\" has upper case, and labels are stored in lower case",
      "H/Script/main.qvr:6: warning: handler label \"<on_nobody_click>\" can never match: no source raises it (the tray, the system hotkey or a window that openwindow opens)"}},
    {"handler labels written with upper case",
     "openwindow win\nopenwindow [#other]\n<on_Win_click>\n<on_Tray_click>\n<on_Pop_close>\nreturn\n",
     {"H/Script/main.qvr:2: warning: variable \"other\" is read but never assigned (it reads as empty)",
      "H/Script/main.qvr:5: warning: handler label \"<on_Pop_close>\" is stored in lower case: only events of a window named in lower case reach it"}},
    {"joined lines and text before the first command",
     "stray text\npost http://x/\n  a=1&b=2\n\n  c=3\n",
     {"H/Script/main.qvr:1: warning: text before the first command is ignored: stray text",
      "H/Script/main.qvr:3: warning: line joined to the operand of \"post\" on line 2: a=1&b=2",
      "H/Script/main.qvr:5: warning: line joined to the operand of \"post\" on line 2: c=3"}},
    {"patterns that do not compile",
     "regex a {abc\nregex b (x\nregex c [z-a]\nregex d x*\nregex e\nregex f (a*)*\nregex g a**\n",
     {"H/Script/main.qvr:1: error: regex \"a\": the pattern does not compile: a \"{\" is never closed by \"}\"",
      "H/Script/main.qvr:2: error: regex \"b\": the pattern does not compile: a \"(\" is never closed by \")\"",
      "H/Script/main.qvr:3: error: regex \"c\": the pattern does not compile: a class range runs backwards",
      "H/Script/main.qvr:5: error: \"regex\" needs a name and a pattern",
      "H/Script/main.qvr:6: error: regex \"f\": the pattern does not compile: \"*\" or \"+\" repeats an item that can match nothing"}},
    {"patterns used but never defined",
     "regex one x\nmatch one abc\nmatch two abc\nvar [#v] [$three.0] [$one.count]\nreplace four [#v] y\n",
     {"H/Script/main.qvr:3: error: no \"regex two\" defines the pattern \"two\"",
      "H/Script/main.qvr:4: error: no \"regex three\" defines the pattern \"three\"",
      "H/Script/main.qvr:5: error: no \"regex four\" defines the pattern \"four\""}},
    {"unknown built-ins and calls with too few items",
     "var [#a] [@lenn<<<x]\nvar [#b] [@substr<<<abc]\nvar [#c] [@LEN<<<[@ucase<<<x]]\n"
     "var [#d] [@readfile<<<f<<<1<<<2]\nvar [#e] [@time]\nvar [#f] [@[#a]<<<x]\n",
     {"H/Script/main.qvr:1: error: unknown built-in \"@lenn\" (it gives the empty text)",
      "H/Script/main.qvr:2: error: built-in \"@substr\" needs 2 item(s) after its name, this call has 1",
      "H/Script/main.qvr:4: error: built-in \"@readfile\" takes at most 2 items after its name"}},
    {"variables read but never assigned",
     "var [#a] 1\nalert [#a] [#b] [#param] [#http_body] [#_0]\nalert [#b]\ngetcookies [#c] sid\nalert [#c]\n",
     {"H/Script/main.qvr:2: warning: variable \"b\" is read but never assigned (it reads as empty)",
      "H/Script/main.qvr:2: warning: variable \"_0\" is read but never assigned (it reads as empty)"}},
    {"split assigns its numbered variables",
     "eval [@split<<<a,b<<<,]\nalert [#_0] [#_1]\n",
     {}},
    {"unknown keywords",
     "note a\ngett http://x/\nif(1)\nvar[#x] 1\nthe end of it\n",
     {"H/Script/main.qvr:1: warning: variable \"x\" is read but never assigned (it reads as empty)",
      "H/Script/main.qvr:2: error: unknown keyword \"gett\" (did you mean \"get\"?)",
      "H/Script/main.qvr:3: error: unknown keyword \"if(1)\": a space must follow \"if\"",
      "H/Script/main.qvr:4: error: unknown keyword \"var[#x]\": a space must follow \"var\"",
      "H/Script/main.qvr:5: warning: line joined to the operand of \"note\" on line 1: the end of it"}},
    {"using of a file that does not exist",
     "using lib.gone\nnote a\n",
     {"H/Script/main.qvr:1: error: using: the file H/Script/lib/gone.qvr does not exist"}},
};

TEST_F(CheckerTest, TableOfScripts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Check(c.script), c.expected);
  }
}

TEST_F(CheckerTest, FindingsInIncludesNameTheIncludedFileAndLine) {
  Write("lib/util.qvr", "// helpers\n<helper>\nvar [#x] [@nosuch<<<1]\nreturn\n}\n");
  EXPECT_EQ(Check("using lib.util\n<main>\ncall <helper>\ncall <helpr>\n"),
            (Lines{"H/Script/lib/util.qvr:3: error: unknown built-in \"@nosuch\" (it gives the empty text)",
                   "H/Script/lib/util.qvr:5: error: \"}\" without its \"{\"",
                   "H/Script/main.qvr:4: error: \"call <helpr>\": no file defines the label <helpr>"}));
}

TEST_F(CheckerTest, VariablesAssignedInAnotherCheckedFileCount) {
  std::string library = Write("lib/report.qvr", "<line>\nalert [#line]\nreturn\n");
  std::string main = Write("main.qvr", "using lib.report\nvar [#line] x\ncall <line>\n");
  EXPECT_TRUE(CheckFiles({library, main}, home_).empty());
  std::vector<Finding> alone = CheckFiles({library}, home_);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(alone[0].line, 2);
  EXPECT_FALSE(alone[0].error);
}

TEST_F(CheckerTest, AnIncludeCheckedFromTwoProgramsIsReportedOnce) {
  Write("lib/bad.qvr", "}\n");
  std::string a = Write("a.qvr", "using lib.bad\n");
  std::string b = Write("b.qvr", "using lib.bad\n");
  EXPECT_EQ(CheckFiles({a, b}, home_).size(), 1u);
}

TEST_F(CheckerTest, CircularIncludeIsReportedAndEnds) {
  Write("lib/loop.qvr", "using lib.loop\nnote x\n");
  Lines found = Check("using lib.loop\n");
  EXPECT_EQ(found, (Lines{"H/Script/lib/loop.qvr:1: warning: using: H/Script/lib/loop.qvr is already "
                          "being included; skipped"}));
}

}  // namespace
}  // namespace qp
