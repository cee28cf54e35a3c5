#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "compiler/compiler.h"
#include "compiler/text_file.h"

namespace qp {
namespace {

using Listing = std::vector<std::pair<int32_t, std::string>>;

Listing Instructions(const ScriptProgram& program) {
  Listing out;
  for (const ScriptInstruction& i : program.instructions) out.emplace_back(i.code, i.operand);
  return out;
}

ScriptProgram CompileText(const std::string& text, const CompileOptions& options = {}) {
  ScriptProgram program;
  Compile(text, program, options);
  return program;
}

TEST(KeywordTable, HasTheSeventySixKeywordsWithTheirCodes) {
  const KeywordTable& table = KeywordTable::Instance();
  EXPECT_EQ(table.size(), 76u);
  const std::pair<const char*, int32_t> irregular[] = {
      {"prompt", 9}, {"test", 19}, {"break", 7},  {"return", 6},   {"new", 39},
      {"clear", 33}, {"add", 34},  {"addx", 35},  {"uptext", 36},  {"{", 24},
      {"}", 25},     {"case", 26}, {"default", 27}, {"using", 42}, {"hidetray", 77}};
  for (const auto& [keyword, code] : irregular) EXPECT_EQ(table.Lookup(keyword), code) << keyword;
  EXPECT_EQ(table.Lookup("IF"), 0);  // the caller lower-cases
  EXPECT_EQ(table.Lookup("if("), 0);
  // Every code from 1 to 77 except the label code 23 belongs to one keyword.
  std::vector<int> seen(78, 0);
  for (const auto& [keyword, code] : table.entries()) ++seen[code];
  for (int code = 1; code <= 77; ++code) EXPECT_EQ(seen[code], code == 23 ? 0 : 1) << code;
}

TEST(ParseLine, SeparatorTokenAndTrimming) {
  const KeywordTable& k = KeywordTable::Instance();
  EXPECT_EQ(ParseLine("NoTe  a b  ", k), std::make_pair(kNote, std::string("a b")));
  EXPECT_EQ(ParseLine("eval x  ", k), std::make_pair(kEval, std::string("x  ")));
  EXPECT_EQ(ParseLine("show x \t", k), std::make_pair(kShow, std::string("x \t")));
  EXPECT_EQ(ParseLine("regex r a+ ", k), std::make_pair(kRegex, std::string("r a+ ")));
  EXPECT_EQ(ParseLine("get\thttp://x/y", k), std::make_pair(kGet, std::string("http://x/y")));
  // With a space on the line, the tab does not separate: the token is "get\thttp://x/".
  EXPECT_EQ(ParseLine("get\thttp://x/ y", k).first, kNoCommand);
  EXPECT_EQ(ParseLine("exit", k), std::make_pair(kExit, std::string()));
  EXPECT_EQ(ParseLine("<Main> trailing words", k), std::make_pair(kLabel, std::string("<main>")));
  EXPECT_EQ(ParseLine("<>", k).first, kNoCommand);
  EXPECT_EQ(ParseLine("if(1)", k).first, kNoCommand);
  // A double-byte character's bytes are never blanks and never lower-cased.
  EXPECT_EQ(ParseLine("note \xD6\xD0\xA0", k), std::make_pair(kNote, std::string("\xD6\xD0\xA0")));
}

TEST(Compile, NineLineExample) {
  ScriptProgram program =
      CompileText("<main>\r\nif 1\r\n{\r\nnote yes\r\n}\r\nelse\r\n{\r\nnote no\r\n}\r\n");
  EXPECT_EQ(Instructions(program), (Listing{{1, "1"},
                                            {24, ""},
                                            {15, "yes"},
                                            {25, ""},
                                            {2, ""},
                                            {24, ""},
                                            {15, "no"},
                                            {25, ""},
                                            {22, ""}}));
  EXPECT_EQ(program.labels, (std::map<std::string, int32_t>{{"<main>", 0}}));
  EXPECT_EQ(program.EntryIndex(), 0);
}

TEST(Compile, EmptyTextIsOneExit) {
  ScriptProgram program = CompileText("");
  EXPECT_EQ(Instructions(program), (Listing{{22, ""}}));
  EXPECT_TRUE(program.labels.empty());
  EXPECT_EQ(program.EntryIndex(), 0);
}

TEST(Compile, MultiLineOperandsSkipBlankCommentAndLabelLines) {
  ScriptProgram program = CompileText(
      "note a\r\n  b  \r\n//c\r\n\r\n<mid>\r\n   more\r\nnote d\r\n<end>\r\n");
  EXPECT_EQ(Instructions(program), (Listing{{15, "a\nb  \nmore"}, {15, "d"}, {22, ""}}));
  EXPECT_EQ(program.labels, (std::map<std::string, int32_t>{{"<end>", 2}, {"<mid>", 1}}));
}

TEST(Compile, LabelsAndTextBeforeTheFirstCommand) {
  ScriptProgram program =
      CompileText("\xEF\xBB\xBFnote bom\r\nstray text\r\n<A>\r\nexit\r\n<a>\r\nnote x\r\n");
  // The byte-order mark spoils the first keyword, and nothing precedes it to join.
  EXPECT_EQ(Instructions(program), (Listing{{22, ""}, {15, "x"}, {22, ""}}));
  EXPECT_EQ(program.FindLabel("<a>"), 1);  // defined twice: the later position wins
  EXPECT_EQ(program.FindLabel("<main>"), -1);
  EXPECT_EQ(program.LabelOrZero("<missing>"), 0);
  EXPECT_EQ(program.labels.size(), 1u);  // lookups never insert
}

TEST(Compile, UnbalancedBracesAndLastLineWithoutLineEnd) {
  ScriptProgram program = CompileText("}\r\n{\r\n{\r\nnote last");
  EXPECT_EQ(Instructions(program), (Listing{{25, ""}, {24, ""}, {24, ""}, {15, "last"}, {22, ""}}));
}

class IncludeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("qp-include-" + std::string(::testing::UnitTest::GetInstance()
                                             ->current_test_info()
                                             ->name()));
    std::filesystem::create_directories(home_ / "Script" / "lib");
    options_.homeDir = home_.string();
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  void Write(const std::string& relative, const std::string& text) {
    std::ofstream(home_ / "Script" / relative, std::ios::binary) << text;
  }
  std::filesystem::path home_;
  CompileOptions options_;
};

TEST_F(IncludeTest, IncludedLinesCompileInPlaceWithDotsAsFolders) {
  Write("lib/mail.qvr", "  continued\nnote from lib\n<lib>\nusing  inner \n");
  Write("inner.qvr", "note inner\n");
  ScriptProgram program =
      CompileText("note before\r\nusing lib.mail\r\nnote after\r\n", options_);
  EXPECT_EQ(Instructions(program), (Listing{{15, "before\ncontinued"},
                                            {15, "from lib"},
                                            {15, "inner"},
                                            {15, "after"},
                                            {22, ""}}));
  EXPECT_EQ(program.FindLabel("<lib>"), 2);
}

TEST_F(IncludeTest, MissingIncludeAddsNothing) {
  ScriptProgram program = CompileText("using nowhere\r\nnote x\r\n", options_);
  EXPECT_EQ(Instructions(program), (Listing{{15, "x"}, {22, ""}}));
}

TEST_F(IncludeTest, TwoIncludesOfOneFileCompileTwice) {
  Write("twice.qvr", "<t>\nnote t\n");
  ScriptProgram program = CompileText("using twice\r\nusing twice\r\n", options_);
  EXPECT_EQ(Instructions(program), (Listing{{15, "t"}, {15, "t"}, {22, ""}}));
  EXPECT_EQ(program.FindLabel("<t>"), 1);
}

TEST_F(IncludeTest, CircularIncludesAreSkipped) {
  Write("a.qvr", "note a\nusing b\n");
  Write("b.qvr", "note b\nusing a\nusing self\n");
  Write("self.qvr", "note self\nusing self\n");
  options_.rootPath = (home_ / "Script" / "main.qvr").string();
  Write("main.qvr", "using a\nusing main\nnote end\n");
  ScriptProgram program = CompileText(ReadTextFile(options_.rootPath), options_);
  EXPECT_EQ(Instructions(program),
            (Listing{{15, "a"}, {15, "b"}, {15, "self"}, {15, "end"}, {22, ""}}));
}

// The side table: one file and line per instruction, through includes, with
// the program itself exactly as without the table.
TEST_F(IncludeTest, SourceMapGivesFileAndLineThroughIncludes) {
  Write("lib/mail.qvr", "  continued\n// c\nnote from lib\n<lib>\nusing  inner \n");
  Write("inner.qvr", "\nnote inner\n");
  const std::string text = "note before\r\nusing lib.mail\r\n\r\nnote after\r\n";
  SourceMap map;
  options_.rootPath = "root.qvr";
  options_.sourceMap = &map;
  ScriptProgram program = CompileText(text, options_);
  options_.sourceMap = nullptr;
  EXPECT_EQ(Instructions(program), Instructions(CompileText(text, options_)));
  const std::string lib = (home_ / "Script" / "lib" / "mail.qvr").string();
  const std::string inner = (home_ / "Script" / "inner.qvr").string();
  ASSERT_EQ(map.locations.size(), program.instructions.size());
  std::vector<std::string> where;
  for (int32_t i = 0; i < program.size(); ++i) where.push_back(map.Describe(i));
  EXPECT_EQ(where, (std::vector<std::string>{"root.qvr:1", lib + ":3", inner + ":2", "root.qvr:4",
                                             "root.qvr:5"}));
  EXPECT_EQ(map.Describe(99), "?:0");
}

// A listener hears what the compiler passes over: labels as written, includes
// (missing, cyclic) and loose lines with the instruction they joined.
TEST_F(IncludeTest, ListenerHearsLabelsIncludesAndLooseLines) {
  struct Recorder : CompileListener {
    std::vector<std::string> heard;
    void OnLabel(std::string_view written, const std::string& name, SourceLocation at) override {
      heard.push_back("label " + std::string(written) + " " + name + " " + std::to_string(at.line));
    }
    void OnInclude(const std::string& path, bool opened, IncludeSkip skipped,
                   SourceLocation at) override {
      heard.push_back("using " + std::filesystem::path(path).filename().string() + " " +
                      std::to_string(opened) + std::to_string(static_cast<int>(skipped)) + " " +
                      std::to_string(at.line));
    }
    void OnLooseLine(std::string_view line, int32_t joinedTo, SourceLocation at) override {
      heard.push_back("loose " + std::string(line) + " " + std::to_string(joinedTo) + " " +
                      std::to_string(at.line));
    }
  } recorder;
  Write("self.qvr", "using self\n");
  options_.listener = &recorder;
  CompileText("top\r\n<Main> x\r\nnote a\r\n  more\r\nusing gone\r\nusing self\r\n", options_);
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"loose top -1 1", "label <Main> <main> 2",
                                                      "loose more 0 4", "using gone.qvr 00 5",
                                                      "using self.qvr 10 6", "using self.qvr 11 1"}));
}

TEST_F(IncludeTest, DeepButFiniteIncludeChainsStopAtTheDepthLimit) {
  for (int i = 0; i < kMaxIncludeDepth + 10; ++i)
    Write("d" + std::to_string(i) + ".qvr", "note " + std::to_string(i) + "\nusing d" +
                                                std::to_string(i + 1) + "\n");
  ScriptProgram program = CompileText("using d0\r\n", options_);
  EXPECT_EQ(program.size(), kMaxIncludeDepth + 1);  // depth-limited notes and the exit
}

// Each level includes the next one twice: without a cap, depth 40 would mean
// 2^41 includes. The compile ends with exactly the cap's worth of includes in
// the program, every later `using` skipped and counted.
TEST_F(IncludeTest, FanOutStopsAtTheIncludeCap) {
  constexpr int kDepth = 40;
  for (int i = 0; i < kDepth; ++i) {
    std::string next = "using f" + std::to_string(i + 1) + "\n";
    Write("f" + std::to_string(i) + ".qvr", "note " + std::to_string(i) + "\n" + next + next);
  }
  Write("f" + std::to_string(kDepth) + ".qvr", "note leaf\n");
  struct Skips : CompileListener {
    int tooMany = 0, compiled = 0;
    void OnLabel(std::string_view, const std::string&, SourceLocation) override {}
    void OnInclude(const std::string&, bool, IncludeSkip skipped, SourceLocation) override {
      if (skipped == IncludeSkip::kTooMany) ++tooMany;
      if (skipped == IncludeSkip::kNone) ++compiled;
    }
    void OnLooseLine(std::string_view, int32_t, SourceLocation) override {}
  } skips;
  SourceMap map;
  options_.listener = &skips;
  options_.sourceMap = &map;
  ScriptProgram program;
  CompileSummary summary = Compile("using f0\r\nnote end\r\n", program, options_);
  EXPECT_EQ(summary.includedFiles, kMaxIncludedFiles);
  EXPECT_GT(summary.cappedIncludes, 0);
  EXPECT_FALSE(summary.stopped);
  EXPECT_EQ(skips.compiled, kMaxIncludedFiles);
  EXPECT_EQ(skips.tooMany, summary.cappedIncludes);
  // Every included file adds its one note; the root adds "end" and the exit.
  ASSERT_EQ(program.size(), kMaxIncludedFiles + 2);
  EXPECT_EQ(program.instructions[0].operand, "0");
  EXPECT_EQ(program.instructions[kMaxIncludedFiles].operand, "end");
  // The first includes go straight down the chain to its leaf.
  EXPECT_EQ(program.instructions[kDepth].operand, "leaf");
  // Each distinct file is one entry of the side table, however often included.
  EXPECT_EQ(map.files.size(), static_cast<size_t>(kDepth + 2));
}

// A stop requested before or during a compile ends it at the next line; the
// program still ends with its exit.
TEST_F(IncludeTest, PendingStopEndsTheCompileAtTheNextLine) {
  std::atomic<bool> stop{true};
  options_.stopRequested = &stop;
  ScriptProgram program;
  CompileSummary summary = Compile("note a\r\nnote b\r\n", program, options_);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(Instructions(program), (Listing{{22, ""}}));

  struct StopAtLabel : CompileListener {
    std::atomic<bool>* stop;
    void OnLabel(std::string_view, const std::string&, SourceLocation) override { *stop = true; }
    void OnInclude(const std::string&, bool, IncludeSkip, SourceLocation) override {}
    void OnLooseLine(std::string_view, int32_t, SourceLocation) override {}
  } listener;
  listener.stop = &stop;
  stop = false;
  Write("lib.qvr", "note in lib\n<here>\nnote after label\n");
  options_.listener = &listener;
  summary = Compile("note a\r\nusing lib\r\nnote b\r\n", program, options_);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.includedFiles, 1);
  EXPECT_EQ(Instructions(program), (Listing{{15, "a"}, {15, "in lib"}, {22, ""}}));

  stop = false;
  options_.listener = nullptr;
  summary = Compile("note a\r\n", program, options_);
  EXPECT_FALSE(summary.stopped);
  EXPECT_EQ(Instructions(program), (Listing{{15, "a"}, {22, ""}}));
}

// Regression (fuzzing): an include name that resolves to a folder, the
// Script folder itself for an empty name, or a name with a NUL byte (which
// the system would cut short, reaching another file) includes nothing, and a
// listener hears it as not opened.
TEST_F(IncludeTest, FoldersAndNamesWithNulIncludeNothing) {
  std::filesystem::create_directories(home_ / "Script" / "folder.qvr");
  Write("inc", "note wrong file\n");
  std::vector<bool> opened;
  struct Recorder : CompileListener {
    std::vector<bool>* opened;
    void OnLabel(std::string_view, const std::string&, SourceLocation) override {}
    void OnInclude(const std::string&, bool open, IncludeSkip, SourceLocation) override {
      opened->push_back(open);
    }
    void OnLooseLine(std::string_view, int32_t, SourceLocation) override {}
  } recorder;
  recorder.opened = &opened;
  options_.listener = &recorder;
  const std::string nul(1, '\0');
  const std::string text = "using " + nul + "\r\nusing folder\r\nusing inc" + nul + "x\r\nnote end\r\n";
  ScriptProgram program = CompileText(text, options_);
  EXPECT_EQ(Instructions(program), (Listing{{15, "end"}, {22, ""}}));
  EXPECT_EQ(opened, (std::vector<bool>{false, false, false}));
}

TEST(TextFile, TextModeLineRules) {
  EXPECT_EQ(TextModeLines("a\r\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(TextModeLines("a\nb"), "a\r\nb\r\n");
  EXPECT_EQ(TextModeLines("a\rb\n"), "a\rb\r\n");         // a lone CR stays
  EXPECT_EQ(TextModeLines("a\r\r\n"), "a\r\r\n");         // only the CR before LF goes
  EXPECT_EQ(TextModeLines("a\nb\x1A" "c\n"), "a\r\nb\r\n");  // 0x1A ends the text
  EXPECT_EQ(TextModeLines("\x1A"), "");
  EXPECT_EQ(TextModeLines(""), "");
  EXPECT_EQ(TextModeLines("\n\n"), "\r\n\r\n");
  EXPECT_EQ(ReadTextFile("/nonexistent/qp/file.qvr"), "");
}

TEST(BootFile, FieldsAndLineEnds) {
  std::vector<BootLine> lines =
      ParseBootFile("a^b\r\nx^a.qvr^\r\nt^sub\\job.qvr^1^2\nq^w.qvr^p\r");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].script, "a.qvr");
  EXPECT_EQ(lines[0].param, "");
  EXPECT_EQ(lines[1].tag, "t");
  EXPECT_EQ(lines[1].script, "sub\\job.qvr");
  EXPECT_EQ(lines[1].param, "1");  // fields after the third are ignored
  EXPECT_EQ(lines[2].param, "p\r");  // a CR not followed by LF stays
  EXPECT_EQ(ParseBootFile("x^a^b\r\n").front().param, ParseBootFile("x^a^b\n").front().param);
  EXPECT_TRUE(ParseBootFile("").empty());
  EXPECT_TRUE(ParseBootFile("a^b\n").empty());
}

}  // namespace
}  // namespace qp
