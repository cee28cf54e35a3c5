// URL encoding of form values and of the "urlencode" built-in function: ASCII
// letters and digits stay, white space becomes "+", every other byte (the
// bytes of multibyte characters included) becomes "%XX" in upper-case hex.
#pragma once

#include <string>
#include <string_view>

namespace qp {

std::string UrlEncode(std::string_view text);

}  // namespace qp
