// The "hotkey" setting as a key combination. "CTRL" and "ALT" anywhere in the
// text (case-sensitive) are the modifiers; the last byte is a Windows
// virtual-key code, which names an X key through one table.
#pragma once

#include <string>
#include <string_view>

namespace qp {

// The X key name of a virtual-key code ("9", "a", "F2", "KP_0"); empty for a
// code without a key.
std::string_view VirtualKeyName(unsigned char code);

// The accelerator text for keybinder ("<Ctrl>9", "<Ctrl><Alt>z"); empty when
// the text is empty or its last byte names no key.
std::string HotkeyAccelerator(std::string_view text);

}  // namespace qp
