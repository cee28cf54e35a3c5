#include <gtest/gtest.h>

#include "net/page_charset.h"
#include "support/codepage.h"

namespace qp {
namespace {

struct CharsetCase {
  const char* name;
  const char* head;
  const char* body;
  const char* charset;
};

TEST(PageCharset, FromTheContentTypeThenTheFirstMetaInsideTheHead) {
  const CharsetCase cases[] = {
      {"head names utf-8", "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n", "",
       "utf-8"},
      {"head names GBK, quoted", "HTTP/1.0 200 OK\r\ncontent-type: text/html;charset=\"GBK\"\r\n\r\n",
       "<head><meta charset=utf-8></head>", "gbk"},
      {"any case of the name", "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=Utf-8\r\n\r\n",
       "", "utf-8"},
      {"charset only in another field", "HTTP/1.0 200 OK\r\nX-Note: charset=big5\r\n\r\n", "", ""},
      {"meta before </head>", "", "<head><meta charset=UTF-8></head><body>", "utf-8"},
      {"http-equiv meta", "",
       "<HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=big5\"></HEAD>",
       "big5"},
      {"first meta with a charset wins", "",
       "<head><meta name=x><meta charset='shift_jis'><meta charset=gbk></head>", "shift_jis"},
      {"meta after </head>", "", "<head></head><meta charset=utf-8>", ""},
      {"no head end", "", "<meta charset=utf-8><p>", ""},
      {"charset word outside a meta", "", "<head><title>charset=gbk</title></head>", ""},
      {"xml declaration", "", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", "iso-8859-1"},
      {"xml declaration then text", "", "<?xml version=\"1.0\" encoding=\"gbk\"?><a>utf-8</a>",
       "gbk"},
      {"no markers", "", "<p>utf-8</p>", ""},
      {"empty", "", "", ""},
  };
  for (const CharsetCase& c : cases) {
    EXPECT_EQ(DeclaredCharset(c.head, c.body), c.charset) << c.name;
  }
}

// "中文" and "é" in the charsets pages use.
const std::string kUtf8Chinese = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";
const std::string kBig5Chinese = "\xA4\xA4\xA4\xE5";
const std::string kLatin1E = "caf\xE9";
const std::string kUtf8E = "caf\xC3\xA9";

struct ConversionCase {
  const char* name;
  std::string text;
  const char* charset;
  int codePage;
  std::string expected;
};

TEST(PageCharset, ConvertsAnyDeclaredCharsetIntoEitherHome) {
  const ConversionCase cases[] = {
      {"GBK page, UTF-8 home", kGbkChinese, "gbk", kCodePageUtf8, kUtf8Chinese},
      {"GB2312 page read as GBK", kGbkChinese, "gb2312", kCodePageUtf8, kUtf8Chinese},
      {"GBK page, GBK home: unchanged", kGbkChinese, "gbk", kCodePageGbk, kGbkChinese},
      {"UTF-8 page, GBK home", kUtf8Chinese, "utf-8", kCodePageGbk, kGbkChinese},
      {"UTF-8 page, UTF-8 home", kUtf8Chinese, "utf-8", kCodePageUtf8, kUtf8Chinese},
      {"Big5 page, UTF-8 home", kBig5Chinese, "big5", kCodePageUtf8, kUtf8Chinese},
      {"Big5 page, GBK home", kBig5Chinese, "big5", kCodePageGbk, kGbkChinese},
      {"ISO-8859-1 page, UTF-8 home", kLatin1E, "iso-8859-1", kCodePageUtf8, kUtf8E},
      {"ISO-8859-1 page, GBK home", kLatin1E, "iso-8859-1", kCodePageGbk, "caf\xA8\xA6"},
      // GBK holds no n-tilde: the code page's "?" stands for it.
      {"ISO-8859-1 page, GBK home, no such char", "ma\xF1" "ana", "iso-8859-1", kCodePageGbk,
       "ma?ana"},
      {"windows-1252 page", "\x80", "windows-1252", kCodePageUtf8, "\xE2\x82\xAC"},
      {"Shift_JIS page", "\x93\xFA", "shift_jis", kCodePageUtf8, "\xE6\x97\xA5"},
      {"EUC-KR page", "\xC7\xD1", "euc-kr", kCodePageUtf8, "\xED\x95\x9C"},
      {"GB18030 four-byte char, GBK home", "a\x81\x30\x81\x30", "gb18030", kCodePageGbk, "a?"},
      {"unknown charset: unchanged", "\xFF\xFE", "no-such-charset", kCodePageUtf8, "\xFF\xFE"},
      {"nothing declared: unchanged", "\xFF\xFE", "", kCodePageGbk, "\xFF\xFE"},
      {"invalid byte of the charset", "a\xFF" "b", "big5", kCodePageUtf8, "a?b"},
      {"character cut at the end", "a\xA4", "big5", kCodePageUtf8, "a?"},
  };
  for (const ConversionCase& c : cases) {
    EXPECT_EQ(ConvertCharset(c.text, c.charset, c.codePage), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qp
