// The character-boundary rule in both code pages, and the scans built on it.
#include "support/characters.h"

#include <gtest/gtest.h>

#include "support/code_page_guard.h"
#include "support/codepage.h"

namespace qp {
namespace {

// The lengths of the characters of a text, left to right.
std::vector<size_t> Lengths(std::string_view text) {
  std::vector<size_t> out;
  for (size_t i = 0; i < text.size(); i += out.back()) out.push_back(CharLengthAt(text, i));
  return out;
}

struct LengthCase {
  int codePage;
  const char* name;
  std::string text;
  std::vector<size_t> lengths;
};

TEST(CharLengthAt, Table) {
  const LengthCase cases[] = {
      {kCodePageGbk, "ASCII", "a[]", {1, 1, 1}},
      {kCodePageGbk, "mapped pair", "\xD6\xD0", {2}},
      {kCodePageGbk, "lead byte at the end", "a\xD6", {1, 1}},
      {kCodePageGbk, "trail 0x5C is part of the character", "\x81\x5C\\", {2, 1}},
      {kCodePageGbk, "trail 0x5B is part of the character", "\x81\x5B]", {2, 1}},
      {kCodePageGbk, "trail 0x5D is part of the character", "\xD6\x5D]", {2, 1}},
      {kCodePageGbk, "unmapped pair is still one character", "\xA2\xA0]", {2, 1}},
      {kCodePageGbk, "0x7F is no trail", "\x81\x7F", {1, 1}},
      {kCodePageGbk, "a byte below 0x40 is no trail", "\x81<<<", {1, 1, 1, 1}},
      {kCodePageGbk, "0x80 and 0xFF are single", "\x80\xFF\x41", {1, 1, 1}},
      {kCodePageGbk, "lead then lead", "\xD6\xD6\xD6", {2, 1}},
      {kCodePageUtf8, "three-byte character", "\xE4\xB8\xAD]", {3, 1}},
      {kCodePageUtf8, "middle of a character", "\xAD\xE6", {1, 1}},
      {kCodePageUtf8, "lead byte before a bracket", "\xE4\xB8]", {1, 1, 1}},
      {kCodePageUtf8, "overlong form is broken", "\xC0\xAF\xE0\x80\xAF", {1, 1, 1, 1, 1}},
      {kCodePageUtf8, "surrogate is broken", "\xED\xA0\x80", {1, 1, 1}},
      {kCodePageUtf8, "four-byte character", "\xF0\x9F\x98\x80", {4}},
      {kCodePageUtf8, "above U+10FFFF is broken", "\xF4\x90\x80\x80", {1, 1, 1, 1}},
      {kCodePageUtf8, "0x85 at the end", "ab\x85", {1, 1, 1}},
  };
  for (const LengthCase& c : cases) {
    CodePageGuard scope(c.codePage);
    EXPECT_EQ(Lengths(c.text), c.lengths) << c.name;
  }
}

// Every unmapped GBK pair that decodes to "?" is one character in the
// conversion too, so boundaries agree between the byte scans and ToWide.
TEST(CharLengthAt, AgreesWithTheDecoderOnEveryGbkPair) {
  CodePageGuard scope(kCodePageGbk);
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    for (unsigned trail = 0x20; trail <= 0xFF; ++trail) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      std::string_view text(pair, 2);
      std::vector<uint32_t> offsets;
      std::u16string wide = ToWide(text, offsets);
      ASSERT_EQ(wide.size(), CharLengthAt(text, 0) == 2 ? 1u : 2u) << lead << " " << trail;
    }
  }
}

struct ScanCase {
  int codePage;
  std::string text, needle;
  size_t find;                 // FindOnBoundary from 0
  std::string replaced;        // ReplaceOnBoundaries(text, needle, "#")
  long long lastSingle;        // LastSingleByteIndex(text, needle[0])
};

TEST(BoundaryScans, Table) {
  const size_t npos = std::string_view::npos;
  const ScanCase cases[] = {
      {kCodePageGbk, "a]b]", "]", 1, "a#b#", 3},
      // The "]" and "\" inside GBK characters are not found.
      {kCodePageGbk, "\xD6\x5D]", "]", 2, "\xD6\x5D#", 2},
      {kCodePageGbk, "\x81\x5C", "\\", npos, "\x81\x5C", -1},
      {kCodePageGbk, "\xA2\xA0[", "[", 2, "\xA2\xA0#", 2},
      // A needle that starts with a trail byte is not found inside a character.
      {kCodePageGbk, "\xD6\xD0\xD0", "\xD0", 2, "\xD6\xD0#", 2},
      {kCodePageGbk, "\xD6\xD0", "\xD0", npos, "\xD6\xD0", -1},
      {kCodePageUtf8, "\xE4\xB8\xAD\xAD", "\xAD", 3, "\xE4\xB8\xAD#", 3},
      {kCodePageUtf8, "\xE4\xB8\xAD", "\xAD", npos, "\xE4\xB8\xAD", -1},
      {kCodePageUtf8, "\xE4\xB8]", "]", 2, "\xE4\xB8#", 2},
  };
  for (const ScanCase& c : cases) {
    CodePageGuard scope(c.codePage);
    EXPECT_EQ(FindOnBoundary(c.text, c.needle), c.find) << c.text;
    EXPECT_EQ(ReplaceOnBoundaries(c.text, c.needle, "#"), c.replaced) << c.text;
    EXPECT_EQ(LastSingleByteIndex(c.text, c.needle[0]), c.lastSingle) << c.text;
  }
}

TEST(BoundaryScans, SplitAndEmptyNeedles) {
  CodePageGuard scope(kCodePageGbk);
  // "@" is a trail byte: the one after 0x81 is part of a character.
  EXPECT_EQ(SplitOnBoundaries("a@\x81@b", "@"), (std::vector<std::string>{"a", "\x81@b"}));
  EXPECT_EQ(SplitOnBoundaries("a,\x81,b", ","), (std::vector<std::string>{"a", "\x81", "b"}));
  EXPECT_EQ(SplitOnBoundaries("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitOnBoundaries("abc", ""), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(ReplaceOnBoundaries("abc", "", "x"), "abc");
  EXPECT_EQ(FindOnBoundary("abc", ""), std::string_view::npos);
}

TEST(BoundaryScans, PrefixNeverCutsACharacter) {
  CodePageGuard scope(kCodePageGbk);
  EXPECT_EQ(PrefixOnBoundary("a\xD6\xD0z", 2), "a");
  EXPECT_EQ(PrefixOnBoundary("a\xD6\xD0z", 3), "a\xD6\xD0");
  EXPECT_EQ(PrefixOnBoundary("abc", 10), "abc");
}

TEST(CaseMapping, TrailBytesNeverChange) {
  CodePageGuard scope(kCodePageGbk);
  // 0x81 0x41 and 0xD6 0x61: trail bytes "A" and "a".
  EXPECT_EQ(AsciiLower("AB\x81\x41Z"), "ab\x81\x41z");
  EXPECT_EQ(AsciiUpper("ab\xD6\x61z"), "AB\xD6\x61Z");
  // A lead byte at the end does not hide the letter before it.
  EXPECT_EQ(AsciiUpper("a\xD6"), "A\xD6");
}

TEST(ForwardSlashes, OnlySeparatorsThatAreCharacters) {
  {
    CodePageGuard scope(kCodePageGbk);
    // 0x81 0x5C is one character: its "\" is not a separator.
    EXPECT_EQ(ForwardSlashes("a\\\x81\x5C\\b"), "a/\x81\x5C/b");
    EXPECT_EQ(ForwardSlashes("\\\\x"), "//x");
  }
  CodePageGuard scope(kCodePageUtf8);
  EXPECT_EQ(ForwardSlashes("\xE4\xB8\xAD\\x"), "\xE4\xB8\xAD/x");
  EXPECT_EQ(ForwardSlashes("\x81\\x"), "\x81/x");
}

}  // namespace
}  // namespace qp
