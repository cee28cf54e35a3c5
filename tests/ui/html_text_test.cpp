#include "ui/html_text.h"

#include <gtest/gtest.h>

namespace qp {
namespace {

TEST(HtmlToConsoleText, ReducesPromptsToReadableText) {
  struct Case {
    const char* html;
    const char* text;
  } cases[] = {
      {"plain question?", "plain question?"},
      {"<b>Name</b>:", "Name:"},
      {"line one<br>line two<BR/>three", "line one\nline two\nthree"},
      {"<p>a</p><p>b</p>", "a\n\nb"},
      {"  lots   of \t\n blanks  ", "lots of blanks"},
      {"&lt;tag&gt; &amp; &quot;q&quot; &#20013;&#x6587;&nbsp;x", "<tag> & \"q\" 中文 x"},
      {"&unknown; & alone", "&unknown; & alone"},
      {"code:<img src=\"/home/u/Temp/captcha.bmp\" width=80>", "code:\n/home/u/Temp/captcha.bmp"},
      {"<IMG SRC='http://127.0.0.1/c.png'/>enter it", "http://127.0.0.1/c.png\nenter it"},
      {"<img alt=x>", ""},
      {"a<script>var x = '<b>';</script>b<style>p{}</style>c", "abc"},
      {"unclosed <b", "unclosed"},
      {"中文<br>问题", "中文\n问题"},
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlToConsoleText(c.html), c.text) << c.html;
}

}  // namespace
}  // namespace qp
