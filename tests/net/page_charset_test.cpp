#include <gtest/gtest.h>

#include "net/page_charset.h"

namespace qp {
namespace {

struct CharsetCase {
  const char* name;
  const char* head;
  const char* body;
  bool utf8;
};

TEST(PageCharset, DecidesFromHeadThenFromTheHtmlHead) {
  const CharsetCase cases[] = {
      {"head names utf-8", "Content-Type: text/html; charset=utf-8\r\n", "", true},
      {"head names UTF-8", "Content-Type: text/html; charset=UTF-8\r\n", "", true},
      {"head Utf-8 only", "Content-Type: text/html; charset=Utf-8\r\n", "", false},
      {"meta before </head>", "", "<head><meta charset=UTF-8></head><body>", true},
      {"meta before </HEAD>", "", "<HEAD><META charset=utf-8></HEAD>", true},
      {"meta after </head>", "", "<head></head><meta charset=utf-8>", false},
      {"mixed-case meta", "", "<head><meta charset=Utf-8></head>", false},
      {"lower end tag wins", "", "<head></head><meta charset=utf-8></HEAD>", false},
      {"xml declaration", "", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", true},
      {"xml declaration gbk", "", "<?xml version=\"1.0\" encoding=\"gbk\"?><a>utf-8</a>", false},
      {"no markers", "", "<p>utf-8</p>", false},
      {"empty", "", "", false},
  };
  for (const CharsetCase& c : cases) {
    EXPECT_EQ(IsUtf8Page(c.head, c.body), c.utf8) << c.name;
  }
}

}  // namespace
}  // namespace qp
