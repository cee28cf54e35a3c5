// The tray icon's context menu as data: its items in order, what each one
// does, and the conversion of a "&" mnemonic into GTK's "_".
#pragma once

#include <string>
#include <string_view>

#include "support/messages.h"

namespace qp {

enum class TrayAction { Event, OpenHomePage, Separator };

struct TrayMenuItem {
  MessageId text;          // unused for the separator
  TrayAction action;
  const char* event;       // the event name sent with source "tray"
  bool isDefault;          // shown bold
};

// "显示主界面(&S)" (default), "退出(&Q)", a separator, "在线支持(&H)..".
inline constexpr TrayMenuItem kTrayMenu[] = {
    {MessageId::kMenuShow, TrayAction::Event, "click_show", true},
    {MessageId::kMenuQuit, TrayAction::Event, "click_quit", false},
    {MessageId::kCount, TrayAction::Separator, nullptr, false},
    {MessageId::kMenuHelp, TrayAction::OpenHomePage, nullptr, false},
};

// "&S" becomes "_S", "&&" a plain "&", and a "_" of the text stays itself.
std::string GtkMnemonic(std::string_view text);

// The tip as the notification area takes it: UTF-8, at most 127 bytes, never
// cut inside a character.
std::string TrayTipUtf8(std::string_view activeText);

}  // namespace qp
