// ReplaceAll: text that a replacement inserted is never replaced again by a
// later match of the same call; matches with the same text cost one pass
// together; and wherever no inserted text shares a byte with a later match's
// text, the result is what replacing match by match over the whole result
// gave (replace_reference.h keeps that implementation).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "regex/regex_pattern.h"
#include "replace_reference.h"
#include "support/codepage.h"

namespace qp {
namespace {

std::string Repeat(const std::string& piece, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

class RegexReplace : public ::testing::Test {
 protected:
  void TearDown() override { SetActiveCodePage(kCodePageGbk); }
};

struct ReplaceCase {
  const char* pattern;
  std::string text;
  const char* replacement;
  std::string result;
};

void ExpectReplaced(const ReplaceCase& c) {
  RegexPattern regex(c.pattern);
  ASSERT_TRUE(regex.valid()) << c.pattern;
  EXPECT_EQ(regex.ReplaceAll(c.text, c.replacement), c.result)
      << c.pattern << " over " << c.text;
}

TEST_F(RegexReplace, InsertedTextIsNeverReplacedAgain) {
  const ReplaceCase cases[] = {
      // The b that "a" -> "ab" inserted stays; only the text's own b is replaced.
      {"{a|b}", "ab", "ab", "abab"},
      {"{a|b}", "ba", "ab", "abab"},
      {"{\\w}", "one two one", "[$0]", "[$0] [$0] [$0]"},
      {"{{\\w}}", "hi yo hi", "<$1>", "<hi> <yo> <hi>"},
      // A later match's text may begin in inserted text: it is not replaced there.
      {"{a|(bc)}", "ac bc", "b", "bc b"},
      // Nor may it end in inserted text.
      {"{c|(ab)}", "ac ab", "b", "ab b"},
      // Removing text joins the text's own bytes: "aabb" loses "ab" twice.
      {"{ab}", "aabb ab", "", " "},
      {"{ab}", "aaabbb ab ab", "", "  "},
      {"{ab}", "aaabbb ab ab", "x", "aaxbb x x"},
  };
  for (const auto& c : cases) ExpectReplaced(c);
}

// The fuzz findings subst-1 and subst-2: "replace" with {a} over a run of a.
TEST_F(RegexReplace, ReplacementHoldingTheMatchGrowsLinearly) {
  for (size_t count : {22u, 30u}) {
    ExpectReplaced({"{a}", std::string(count, 'a'), "aa", std::string(2 * count, 'a')});
    ExpectReplaced({"{a}", std::string(count, 'a'), "[a$1]", Repeat("[a$1]", count)});
  }
  ExpectReplaced({"{a}", std::string(8000, 'a'), "b", std::string(8000, 'b')});
  ExpectReplaced({"{a}", std::string(16000, 'a'), "b", std::string(16000, 'b')});
  ExpectReplaced({"{a}", std::string(16000, 'a'), "aa", std::string(32000, 'a')});
}

TEST_F(RegexReplace, ManyDistinctMatchesOverSixteenThousandBytes) {
  // Numbers 0 to 3999: the first ten matches ("0" to "9") replace every
  // digit, so each of the 3,990 other texts finds nothing left to replace.
  std::string numbers, hashes, wrapped;
  for (int i = 0; numbers.size() < 16000; ++i) {
    const std::string number = std::to_string(i % 4000);
    numbers += number + ' ';
    for (char digit : number) {
      hashes += '#';
      wrapped += std::string("(") + digit + ")";
    }
    hashes += ' ';
    wrapped += ' ';
  }
  ExpectReplaced({"{\\z}", numbers, "#", hashes});
  // Each digit replaced by a text that holds it, once.
  ExpectReplaced({"{{\\z}}", numbers, "($1)", wrapped});
  // Tags removed: every removal joins the text on either side.
  std::string page, words;
  for (int i = 0; page.size() < 16000; ++i) {
    page += "<t" + std::to_string(i % 700) + ">w" + std::to_string(i) + "</t>";
    words += "w" + std::to_string(i);
  }
  ExpectReplaced({"{<[^>]*>}", page, "", words});
}

// A character never loses part of its bytes: a matched lone lead byte does
// not take the lead byte of a two-byte character elsewhere. Replacing match
// by match over the whole result did.
TEST_F(RegexReplace, OccurrencesBeginAndEndOnCharacters) {
  SetActiveCodePage(kCodePageGbk);
  const std::string gbk = "\x81#\x81\x61";  // a lone lead byte, "#", a character
  RegexPattern lone("{.}#");
  EXPECT_EQ(lone.ReplaceAll(gbk, "X"), "X#\x81\x61");
  EXPECT_EQ(ReferenceReplaceAll(gbk, ReplaceSteps(lone, gbk, "X")), "X#Xa");
  SetActiveCodePage(kCodePageUtf8);
  const std::string utf8 = "\xE4#\xE4\xB8\xAD";  // a broken byte, "#", U+4E2D
  RegexPattern broken("{.}#");
  EXPECT_EQ(broken.ReplaceAll(utf8, "X"), "X#\xE4\xB8\xAD");
  EXPECT_EQ(ReferenceReplaceAll(utf8, ReplaceSteps(broken, utf8, "X")), "X#X\xB8\xAD");
}

// Generated patterns, texts and replacements in one code page.
class TripleMaker {
 public:
  TripleMaker(uint32_t seed, std::vector<std::string> chars, std::vector<std::string> patterns,
              std::vector<std::string> pieces)
      : random_(seed), chars_(std::move(chars)), patterns_(std::move(patterns)),
        pieces_(std::move(pieces)) {}

  const std::string& Pattern() { return patterns_[Pick(patterns_.size())]; }
  std::string Text(size_t longest) {
    std::string out;
    for (size_t n = Pick(longest + 1); n > 0; --n) out += chars_[Pick(chars_.size())];
    return out;
  }
  std::string Replacement() {
    std::string out;
    for (size_t n = Pick(4); n > 0; --n) out += pieces_[Pick(pieces_.size())];
    return out;
  }

 private:
  size_t Pick(size_t n) { return random_() % n; }

  std::mt19937 random_;
  std::vector<std::string> chars_, patterns_, pieces_;
};

// Whether no text that a match inserts shares a byte with a later match's text.
bool Independent(const std::vector<ReplaceStep>& steps) {
  for (size_t i = 0; i < steps.size(); ++i)
    for (size_t j = i + 1; j < steps.size(); ++j)
      if (steps[i].copy.find_first_of(steps[j].marked) != std::string::npos) return false;
  return true;
}

struct Tally {
  int triples = 0, independent = 0, changed = 0;
};

// Compares ReplaceAll with the model on every triple, and with the former
// implementation on the independent ones (`wellFormed`: texts and
// replacements are whole characters of the code page).
Tally CompareGenerated(TripleMaker& maker, int count, size_t longest, bool wellFormed) {
  Tally tally;
  for (int i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
    RegexPattern regex(maker.Pattern());
    EXPECT_TRUE(regex.valid());
    const std::string text = maker.Text(longest), replacement = maker.Replacement();
    const auto steps = ReplaceSteps(regex, text, replacement);
    const std::string result = regex.ReplaceAll(text, replacement);
    const std::string reference = ReferenceReplaceAll(text, steps);
    ++tally.triples;
    EXPECT_EQ(result, ModelReplaceAll(text, steps))
        << maker.Pattern() << " over " << text << " with " << replacement;
    if (wellFormed && Independent(steps)) {
      ++tally.independent;
      EXPECT_EQ(result, reference)
          << maker.Pattern() << " over " << text << " with " << replacement;
    } else if (result != reference) {
      ++tally.changed;
    }
  }
  return tally;
}

const std::vector<std::string> kPieces = {"x", "a", "b", "ab", "$1", "$2", "$0", " ", "$10", "Z"};

std::vector<std::string> Patterns(const std::string& wide) {
  return {"{a}",        "{b}",       "{ab}",       "{a|b}",      "{a+}",     "{.}",
          "{..}",       "{\\w}",     "{[ab]+}",    "{a}{b}",     "{{a}b}",   "{b}{.}",
          "{.}a",       "{a*}",      "{(ab)+}",    "{a}|{b}",    "{\\z}",    "{[^ ]+}",
          "{.}{.}{.}",  "{A}",       "{(a|b)(a|b)}", "{" + wide + "}", "{" + wide + "a}",
          "{.}" + wide, "{b}{a+}",  "{ba}",       "{[^a]}"};
}

TEST_F(RegexReplace, AgreesWithTheModelAndTheFormerResults) {
  struct Page {
    int page;
    std::string wide;                 // one character of two or more bytes
    std::vector<std::string> chars;   // whole characters
    std::vector<std::string> broken;  // bytes that are no whole character
  };
  const Page pages[] = {
      {kCodePageGbk, "\xD6\xD0",
       {"a", "b", "a", "b", "c", "1", " ", "A", "\xD6\xD0", "\x81\x61", "\xCE\xC4"},
       {"\x81", "\xFF", "\xD6"}},
      {kCodePageUtf8, "\xE4\xB8\xAD",
       {"a", "b", "a", "b", "c", "1", " ", "A", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"},
       {"\x80", "\xE4\xB8", "\xC3"}},
  };
  uint32_t seed = 7;
  for (const auto& page : pages) {
    SetActiveCodePage(page.page);
    auto pieces = kPieces;
    pieces.push_back(page.wide);
    TripleMaker whole(++seed, page.chars, Patterns(page.wide), pieces);
    const Tally tally = CompareGenerated(whole, 20000, 16, true);
    const std::string name = page.page == kCodePageGbk ? "gbk" : "utf8";
    RecordProperty(name + "_independent", tally.independent);
    RecordProperty(name + "_changed", tally.changed);
    EXPECT_GT(tally.independent, tally.triples / 3) << page.page;
    EXPECT_GT(tally.changed, 100) << page.page;
    // Broken bytes: the model still says what happens.
    auto chars = page.chars;
    chars.insert(chars.end(), page.broken.begin(), page.broken.end());
    auto brokenPieces = pieces;
    brokenPieces.insert(brokenPieces.end(), page.broken.begin(), page.broken.end());
    TripleMaker broken(++seed, chars, Patterns(page.wide), brokenPieces);
    CompareGenerated(broken, 5000, 16, false);
  }
}

// Texts of a few kilobytes with hundreds of different matched texts, where
// ReplaceAll looks texts up through its index of the text.
TEST_F(RegexReplace, LongTextsAgreeWithTheModel) {
  struct Page {
    int page;
    std::vector<std::string> words;
  };
  const Page pages[] = {
      {kCodePageGbk, {"ab", "ba", "aab", "<b>", "</b>", "\xD6\xD0", "\x81\x61" "b", "x", " ", "  "}},
      {kCodePageUtf8, {"ab", "ba", "aab", "<b>", "</b>", "\xE4\xB8\xAD", "\xC3\xA9" "b", "x", " ", "  "}},
  };
  const std::vector<std::string> patterns = {"{\\z}",     "{\\w}",   "{<[^>]*>}", "{[^ ]+}",
                                             "{a+b}",     "{\\w\\z}", "{b\\z}",   "{.\\z.}"};
  std::mt19937 random(5);
  int independent = 0;
  for (const auto& page : pages) {
    SetActiveCodePage(page.page);
    for (int i = 0; i < 24 && !HasFailure(); ++i) {
      std::string text;
      while (text.size() < 4500) {
        text += page.words[random() % page.words.size()];
        text += std::to_string(random() % 300);
      }
      const std::string& pattern = patterns[random() % patterns.size()];
      static const char* kReplacements[] = {"", "", "#", "($1)", "[$0]", "b", "1"};
      const std::string replacement = kReplacements[random() % 7];
      RegexPattern regex(pattern);
      const auto steps = ReplaceSteps(regex, text, replacement);
      ASSERT_GT(steps.size(), 20u) << pattern;
      const std::string result = regex.ReplaceAll(text, replacement);
      EXPECT_EQ(result, ModelReplaceAll(text, steps)) << pattern << " with " << replacement;
      if (Independent(steps)) {
        ++independent;
        EXPECT_EQ(result, ReferenceReplaceAll(text, steps)) << pattern << " with " << replacement;
      }
    }
  }
  RecordProperty("independent", independent);
  EXPECT_GT(independent, 10);
}

// Removals that join text again and again: every match of the same text
// after the first looks only where text was removed since its last pass.
TEST_F(RegexReplace, RemovalsAgreeWithTheFormerResults) {
  TripleMaker maker(11, {"a", "b", "a", "b", " "},
                    {"{ab}", "{aab}", "{ab|ba}", "{a+b}", "{b}", "{ba}", "{abb}", "{a}{b}",
                     "{(ab)+}", "{b a}"},
                    {"x"});
  const Tally tally = CompareGenerated(maker, 20000, 24, true);
  RecordProperty("independent", tally.independent);
  // "x" is in no matched text, so every triple is comparable.
  EXPECT_EQ(tally.independent, tally.triples);
}

}  // namespace
}  // namespace qp
