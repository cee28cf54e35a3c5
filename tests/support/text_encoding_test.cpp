#include <gtest/gtest.h>

#include "support/codepage.h"
#include "support/messages.h"
#include "support/text.h"
#include "support/url_encode.h"

namespace qp {
namespace {

// "中" is D6 D0 in GBK and E4 B8 AD in UTF-8.
const std::string kGbkZhong = "\xD6\xD0";
const std::string kUtf8Zhong = "\xE4\xB8\xAD";

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetActiveCodePage(kCodePageGbk); }
  void TearDown() override { SetActiveCodePage(kCodePageGbk); }
};

TEST(UrlEncode, KeepsOnlyAsciiLettersAndDigits) {
  EXPECT_EQ(UrlEncode(" -"), "+%2D");
  EXPECT_EQ(UrlEncode("aZ09"), "aZ09");
  EXPECT_EQ(UrlEncode("_.~"), "%5F%2E%7E");
  EXPECT_EQ(UrlEncode("\t\n\v\f\r"), "+++++");
  EXPECT_EQ(UrlEncode(kGbkZhong), "%D6%D0");
  EXPECT_EQ(UrlEncode(""), "");
}

TEST_F(CodePageTest, GbkAndUtf8RoundTrip) {
  const std::string gbk = "a" + kGbkZhong + "\xCE\xC4" + "z";  // a中文z
  std::string utf8 = ConvertCodePage(gbk, kCodePageGbk, kCodePageUtf8);
  EXPECT_EQ(utf8, "a" + kUtf8Zhong + "\xE6\x96\x87" + "z");
  EXPECT_EQ(ConvertCodePage(utf8, kCodePageUtf8, kCodePageGbk), gbk);
  EXPECT_EQ(ActiveToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToActive(utf8), gbk);
}

TEST_F(CodePageTest, UnmappableTextBecomesTheDefaultCharacter) {
  // U+1F600 (an emoji) and U+00E9 have no GBK mapping of their own: one "?"
  // each. The euro sign maps to the single byte 0x80 as in code page 936.
  EXPECT_EQ(ConvertCodePage("\xF0\x9F\x98\x80", kCodePageUtf8, kCodePageGbk), "?");
  EXPECT_EQ(ConvertCodePage("x\xE2\x82\xACy", kCodePageUtf8, kCodePageGbk), "x\x80y");
  // Invalid UTF-8 input and a lone GBK lead byte at the end.
  EXPECT_EQ(ConvertCodePage("a\xFF" "b", kCodePageUtf8, kCodePageGbk), "a?b");
  EXPECT_EQ(ConvertCodePage("a\xD6", kCodePageGbk, kCodePageUtf8), "a?");
}

TEST_F(CodePageTest, ToWideRecordsByteOffsets) {
  std::vector<uint32_t> offsets;
  std::u16string wide = ToWide("a" + kGbkZhong + "b", offsets);
  ASSERT_EQ(wide, u"a\u4E2Db");
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 1, 3, 4}));
  EXPECT_EQ(FromWide(wide), "a" + kGbkZhong + "b");

  SetActiveCodePage(kCodePageUtf8);
  wide = ToWide("\xF0\x9F\x98\x80" + kUtf8Zhong, offsets);
  ASSERT_EQ(wide.size(), 3u);  // a surrogate pair and one unit
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 0, 4, 7}));
  EXPECT_EQ(FromWide(wide), "\xF0\x9F\x98\x80" + kUtf8Zhong);
}

TEST_F(CodePageTest, LeadBytesAndCaseMappingStepOverDoubleByteCharacters) {
  // 0xB0 0x41 is a GBK character whose trail byte is an ASCII 'A'.
  const std::string text = "Ab\xB0\x41Z";
  EXPECT_TRUE(IsLeadByte(0xB0));
  EXPECT_FALSE(IsLeadByte('A'));
  EXPECT_EQ(CharLengthAt(text, 2), 2u);
  EXPECT_EQ(AsciiLower(text), "ab\xB0\x41z");
  EXPECT_EQ(AsciiUpper("ab\xB0\x61z"), "AB\xB0\x61Z");

  SetActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(CharLengthAt(kUtf8Zhong, 0), 3u);
  EXPECT_EQ(AsciiLower("X" + kUtf8Zhong), "x" + kUtf8Zhong);
}

TEST_F(CodePageTest, MessagesFollowTheActiveCodePage) {
  EXPECT_EQ(Msg(MessageId::kFormatError),
            ConvertCodePage(MsgUtf8(MessageId::kFormatError), kCodePageUtf8, kCodePageGbk));
  EXPECT_EQ(Msg(MessageId::kErrorPrefix), "\xB3\xF6\xB4\xED\xA3\xBA");  // 出错： in GBK
  SetActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(Msg(MessageId::kErrorPrefix), "出错：");
  // The two "index out of range" texts differ only in their full stop.
  EXPECT_NE(Msg(MessageId::kIndexOutOfRange), Msg(MessageId::kIndexOutOfRangeAscii));
}

TEST(CodePageSetting, RecognisesUtf8Spellings) {
  EXPECT_EQ(CodePageFromSetting("utf-8"), kCodePageUtf8);
  EXPECT_EQ(CodePageFromSetting("UTF8"), kCodePageUtf8);
  EXPECT_EQ(CodePageFromSetting(""), kCodePageGbk);
  EXPECT_EQ(CodePageFromSetting("gbk"), kCodePageGbk);
}

TEST(TextHelpers, LeadingIntReadsLikeAtoi) {
  EXPECT_EQ(LeadingInt("42abc"), 42);
  EXPECT_EQ(LeadingInt("  -7"), -7);
  EXPECT_EQ(LeadingInt("+3"), 3);
  EXPECT_EQ(LeadingInt("x1"), 0);
  EXPECT_EQ(LeadingInt(""), 0);
  EXPECT_EQ(LeadingInt("99999999999"), 2147483647);
  EXPECT_EQ(LeadingInt("-99999999999"), -2147483647 - 1);
}

TEST(TextHelpers, TrimSplitAndReplace) {
  EXPECT_EQ(Trim(" \t\r\n\v\fa b\f "), "a b");
  EXPECT_EQ(Trim("\xA1\xA1"), "\xA1\xA1");  // bytes from 0x80 up are not blanks
  EXPECT_EQ(SplitAll("a<<<<<<b<<<", "<<<"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(SplitAll("", ","), (std::vector<std::string>{""}));
  std::string text = "aXbXX";
  ReplaceAll(text, "X", "YY");
  EXPECT_EQ(text, "aYYbYYYY");
  ReplaceAll(text, "", "z");
  EXPECT_EQ(text, "aYYbYYYY");
}

}  // namespace
}  // namespace qp
