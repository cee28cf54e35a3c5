#include "ui/tray_menu.h"

#include <glib.h>

#include "support/codepage.h"

namespace qp {

std::string GtkMnemonic(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += "__";
    } else if (c == '&' && i + 1 < text.size() && text[i + 1] == '&') {
      out += '&';
      ++i;
    } else if (c == '&') {
      out += '_';
    } else {
      out += c;
    }
  }
  return out;
}

std::string TrayTipUtf8(std::string_view activeText) {
  constexpr size_t kMaxTip = 127;
  std::string tip = ActiveToUtf8(activeText);
  if (tip.size() <= kMaxTip) return tip;
  size_t end = kMaxTip;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(tip[end]) & 0xC0) == 0x80) --end;
  tip.resize(end);
  return tip;
}

}  // namespace qp
