#include "ui/hotkey_text.h"

namespace qp {
namespace {

// Virtual-key codes whose byte is not a digit or a capital letter, with the
// X key each one stands for. Digits and capital letters name their own keys.
#define QP_VIRTUAL_KEYS(X)                                                   \
  X(0x20, "space") X(0x21, "Prior") X(0x22, "Next") X(0x23, "End")          \
  X(0x24, "Home") X(0x25, "Left") X(0x26, "Up") X(0x27, "Right")            \
  X(0x28, "Down") X(0x29, "Select") X(0x2A, "Print") X(0x2B, "Execute")     \
  X(0x2C, "Print") X(0x2D, "Insert") X(0x2E, "Delete") X(0x2F, "Help")      \
  X(0x5B, "Super_L") X(0x5C, "Super_R") X(0x5D, "Menu")                     \
  X(0x60, "KP_0") X(0x61, "KP_1") X(0x62, "KP_2") X(0x63, "KP_3")           \
  X(0x64, "KP_4") X(0x65, "KP_5") X(0x66, "KP_6") X(0x67, "KP_7")           \
  X(0x68, "KP_8") X(0x69, "KP_9") X(0x6A, "KP_Multiply") X(0x6B, "KP_Add")  \
  X(0x6C, "KP_Separator") X(0x6D, "KP_Subtract") X(0x6E, "KP_Decimal")      \
  X(0x6F, "KP_Divide")                                                       \
  X(0x70, "F1") X(0x71, "F2") X(0x72, "F3") X(0x73, "F4") X(0x74, "F5")     \
  X(0x75, "F6") X(0x76, "F7") X(0x77, "F8") X(0x78, "F9") X(0x79, "F10")    \
  X(0x7A, "F11") X(0x7B, "F12") X(0x7C, "F13") X(0x7D, "F14")               \
  X(0x7E, "F15") X(0x7F, "F16") X(0x80, "F17") X(0x81, "F18")               \
  X(0x82, "F19") X(0x83, "F20") X(0x84, "F21") X(0x85, "F22")               \
  X(0x86, "F23") X(0x87, "F24")

struct VirtualKey {
  unsigned char code;
  std::string_view name;
};

constexpr VirtualKey kVirtualKeys[] = {
#define QP_VIRTUAL_KEY_ROW(code, name) {code, name},
    QP_VIRTUAL_KEYS(QP_VIRTUAL_KEY_ROW)
#undef QP_VIRTUAL_KEY_ROW
};

// Key names of the digits and letters, indexed by their byte; X names the
// letter keys by their small letters.
constexpr std::string_view kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
constexpr std::string_view kLetters[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i",
                                         "j", "k", "l", "m", "n", "o", "p", "q", "r",
                                         "s", "t", "u", "v", "w", "x", "y", "z"};

}  // namespace

std::string_view VirtualKeyName(unsigned char code) {
  if (code >= '0' && code <= '9') return kDigits[code - '0'];
  if (code >= 'A' && code <= 'Z') return kLetters[code - 'A'];
  for (const VirtualKey& key : kVirtualKeys)
    if (key.code == code) return key.name;
  return {};
}

std::string HotkeyAccelerator(std::string_view text) {
  if (text.empty()) return {};
  std::string_view key = VirtualKeyName(static_cast<unsigned char>(text.back()));
  if (key.empty()) return {};
  std::string accelerator;
  if (text.find("CTRL") != std::string_view::npos) accelerator += "<Ctrl>";
  if (text.find("ALT") != std::string_view::npos) accelerator += "<Alt>";
  accelerator += key;
  return accelerator;
}

}  // namespace qp
