// The charset a fetched page declares, and the conversion of its body into
// the active code page, so that scripts see every page in one encoding.
#pragma once

#include <string>
#include <string_view>

namespace qp {

// The charset a page declares, lower-cased: the charset parameter of the
// response's Content-Type field; else the charset of the first <meta> tag
// that names one inside the HTML head (before the first "</head>", in any
// case), or the encoding of an XML declaration. Empty when the page declares
// nothing there.
std::string DeclaredCharset(std::string_view head, std::string_view body);

// `text` in charset `charset` (any name iconv knows) converted into code page
// `codePage` (936 or 65001). Characters the code page cannot hold, and bytes
// that are not a character of `charset`, become "?". Text in an empty or
// unknown charset, or already in the code page, comes back unchanged.
std::string ConvertCharset(std::string_view text, std::string_view charset, int codePage);

// The body of a page as scripts see it: converted from its declared charset
// into the active code page; a page that declares nothing stays as received.
std::string PageTextInCodePage(std::string_view head, std::string_view body);
// The same on a body the caller gives up: a body that needs no conversion is
// moved, not copied, and one that does is released once converted.
std::string PageTextInCodePage(std::string_view head, std::string&& body);

}  // namespace qp
