// The global hotkey, grabbed on the X root window with keybinder. Wayland
// has no global grabs: there the registration fails, silently.
#include <keybinder.h>

#include "ui/gtk_backend.h"
#include "ui/hotkey_text.h"

namespace qp {
namespace {

void OnHotkey(const char*, void* self) {
  static_cast<GtkBackend*>(self)->SendEvent({"system", "hotkey", ""});
}

}  // namespace

bool GtkBackend::RegisterHotkey(const std::string& text) {
  UnregisterHotkey();
  std::string accelerator = HotkeyAccelerator(text);
  if (accelerator.empty()) return false;
  // Only an X display has global grabs (not GTK's Wayland back end).
  if (!keybinder_supported()) return false;
  static bool initialised = false;
  if (!initialised) {
    keybinder_init();
    initialised = true;
  }
  if (!keybinder_bind(accelerator.c_str(), OnHotkey, this)) return false;
  hotkey_ = accelerator;
  return true;
}

void GtkBackend::UnregisterHotkey() {
  if (hotkey_.empty()) return;
  keybinder_unbind(hotkey_.c_str(), OnHotkey);
  hotkey_.clear();
}

}  // namespace qp
