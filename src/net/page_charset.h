// Whether a fetched page is UTF-8, so that its body is converted to the
// active code page before scripts see it.
#pragma once

#include <string_view>

namespace qp {

// UTF-8 when the response head names "UTF-8" or "utf-8" (those spellings
// only); else when the body before its first "</head>" (or "</HEAD>", or the
// end of an XML declaration's encoding, a quote followed by "?>") does.
bool IsUtf8Page(std::string_view head, std::string_view body);

}  // namespace qp
