#include "net/page_charset.h"

namespace qp {

bool IsUtf8Page(std::string_view head, std::string_view body) {
  constexpr auto npos = std::string_view::npos;
  if (head.find("UTF-8") != npos || head.find("utf-8") != npos) return true;
  size_t end = body.find("</head>");
  if (end == npos) end = body.find("</HEAD>");
  if (end == npos) end = body.find("\"?>");
  if (end == npos) return false;
  std::string_view before = body.substr(0, end);
  return before.find("utf-8") != npos || before.find("UTF-8") != npos;
}

}  // namespace qp
