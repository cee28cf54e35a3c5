#include "native/native_reference.h"

#include "support/text.h"

namespace qp {

std::vector<std::string> SplitNativeItems(const std::string& inner) {
  return SplitAll(inner, kCallItemSeparator);
}

NativeItem ParseNativeItem(const std::string& item) {
  NativeItem parsed;
  size_t open = 0;
  while (open < item.size() && IsBlank(static_cast<unsigned char>(item[open]))) ++open;
  if (open == item.size() || item[open] != '(') {
    parsed.text = item;
    return parsed;
  }
  const size_t close = item.find(')', open + 1);
  if (close == std::string::npos) {
    parsed.text = item;
    parsed.bracketError = true;
    return parsed;
  }
  const std::string type = AsciiLower(Trim(std::string_view(item).substr(open + 1, close - open - 1)));
  if (type == "bstr") parsed.kind = NativeKind::kBstr;
  if (type == "int") parsed.kind = NativeKind::kInt;
  parsed.text = item.substr(close + 1);
  return parsed;
}

}  // namespace qp
