// The language reference and the editor grammars agree with the program's
// own tables: every keyword, built-in and setting is documented, and the
// grammars name exactly the keywords and built-ins there are.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "compiler/script_program.h"

namespace qp {
namespace {

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(QP_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text of a "## " section of a Markdown file, up to the next one.
std::string Section(const std::string& markdown, const std::string& heading) {
  size_t start = markdown.find("\n## " + heading + "\n");
  if (start == std::string::npos) return std::string();
  size_t end = markdown.find("\n## ", start + 1);
  return markdown.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> Keywords(bool withBraces) {
  std::set<std::string> out;
  for (const auto& [keyword, code] : KeywordTable::Instance().entries())
    if (withBraces || (keyword != "{" && keyword != "}")) out.insert(keyword);
  return out;
}

std::set<std::string> Builtins() {
  return {
#define QP_BUILTIN(name, minimum, maximum, tooFew, function) name,
#include "compiler/builtin_names.def"
#undef QP_BUILTIN
  };
}

// Every key the program reads from Config.ini, found in the sources, so that
// a new setting cannot be added without documenting it.
std::set<std::string> SettingsInSources() {
  const std::regex reads(
      R"re((?:ReadSetting\(|ReadConfigValue\("\w+",\s*|\.Get\("setting",\s*)"(\w+)")re");
  std::set<std::string> keys;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(std::string(QP_SOURCE_DIR) + "/src")) {
    if (entry.path().extension() != ".cpp") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator it(source.begin(), source.end(), reads), end; it != end; ++it)
      keys.insert((*it)[1]);
  }
  return keys;
}

std::set<std::string> Missing(const std::set<std::string>& names, const std::string& text) {
  std::set<std::string> missing;
  for (const std::string& name : names)
    if (text.find("`" + name + "`") == std::string::npos) missing.insert(name);
  return missing;
}

TEST(LanguageReference, DocumentsEveryKeywordBuiltinAndSetting) {
  const std::string doc = ReadSource("docs/language.md");
  ASSERT_FALSE(doc.empty());
  EXPECT_EQ(Missing(Keywords(true), Section(doc, "Commands")), std::set<std::string>{});
  EXPECT_EQ(Missing(Builtins(), Section(doc, "Built-in functions")), std::set<std::string>{});
  std::set<std::string> settings = SettingsInSources();
  // The scan itself must see the settings every home has.
  for (const char* key : {"appname", "hotkey", "homepage", "codepage", "ui", "eventfifo", "trace"})
    EXPECT_TRUE(settings.count(key)) << key;
  EXPECT_EQ(Missing(settings, Section(doc, "Settings")), std::set<std::string>{});
}

TEST(LanguageReference, DocumentsEveryErrorReason) {
  const std::string doc = Section(ReadSource("docs/language.md"), "Error messages");
  for (const char* reason : {"格式有误．", "格式有误．不含有效的正则表达式．", " 正则表达式不存在．",
                             "下标越界．", "下标越界.", "使用了未定义的代码段名称．",
                             "消息函数及其调用的函数中不能使用GOTO命令!", "RESUME命令只能在消息函数中使用!",
                             "释放了未定义的DLL．", " DLL文件不存在．", " DLL中不存在该函数名．",
                             "格式有误．括号不匹配！", " 数据库连接不存在．", "该数据库连接不存在或已被删除．",
                             "格式有误，后面需接数据库连接名．", "启动文件(Quorvant.boot)无法打开或者格式无效!"})
    EXPECT_NE(doc.find(reason), std::string::npos) << reason;
}

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::set<std::string> out;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
    out.insert((*it)[1]);
  return out;
}

std::set<std::string> Alternatives(const std::string& text, const std::string& prefix) {
  std::set<std::string> out;
  size_t start = text.find(prefix);
  if (start == std::string::npos) return out;
  start += prefix.size();
  std::string list = text.substr(start, text.find(')', start) - start);
  std::stringstream words(list);
  for (std::string word; std::getline(words, word, '|');) out.insert(word);
  return out;
}

TEST(EditorGrammars, VimSyntaxNamesExactlyTheKeywordsAndBuiltins) {
  const std::string vim = ReadSource("editors/vim/syntax/quorvant.vim");
  ASSERT_FALSE(vim.empty());
  EXPECT_EQ(Matches(vim, std::regex(R"(syn match qvrCommand "\^\\s\*\\c\\<([a-z]+)\\>)")), Keywords(false));
  EXPECT_EQ(Matches(vim, std::regex(R"(syn match qvrBuiltin "\\c\\\[@\\s\*\\zs([a-z]+)\\ze)")), Builtins());
  EXPECT_NE(vim.find(R"(syn match qvrBlock "^\s*[{}]\s*$")"), std::string::npos);
}

TEST(EditorGrammars, TextMateGrammarNamesExactlyTheKeywordsAndBuiltins) {
  const std::string grammar = ReadSource("editors/textmate/quorvant.tmLanguage.json");
  ASSERT_FALSE(grammar.empty());
  EXPECT_EQ(Alternatives(grammar, R"("match": "^\\s*(?i:()"), Keywords(false));
  EXPECT_EQ(Alternatives(grammar, R"("match": "(?<=\\[@)\\s*(?i:()"), Builtins());
  EXPECT_NE(grammar.find(R"("match": "^\\s*[{}]\\s*$")"), std::string::npos);
}

}  // namespace
}  // namespace qp
