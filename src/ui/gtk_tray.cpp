// The tray icon (an XEmbed status icon, which the panels that still have a
// notification area show) and its menu.
#include <string>

#include "support/codepage.h"
#include "ui/gtk_backend.h"
#include "ui/tray_menu.h"

// GtkStatusIcon is deprecated in favour of StatusNotifier items, but it is
// what XEmbed notification areas show.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace qp {
namespace {

constexpr const char* kItemKey = "qp-tray-item";

}  // namespace

void GtkBackend::MakeTray() {
  tray_ = icon_ ? gtk_status_icon_new_from_pixbuf(icon_)
                : gtk_status_icon_new_from_icon_name("application-x-executable");
  // No gtk_status_icon_set_name: it unrealizes the embedded icon window and
  // upsets GDK's update counting (a Gdk-CRITICAL). The icon window's class is
  // the program name already.
  g_signal_connect(tray_, "activate", G_CALLBACK(OnTrayActivate), this);
  g_signal_connect(tray_, "popup-menu", G_CALLBACK(OnTrayPopup), this);

  menu_ = gtk_menu_new();
  g_object_ref_sink(menu_);
  for (const TrayMenuItem& item : kTrayMenu) {
    GtkWidget* widget;
    if (item.action == TrayAction::Separator) {
      widget = gtk_separator_menu_item_new();
    } else {
      std::string label = GtkMnemonic(MsgUtf8(item.text));
      widget = gtk_menu_item_new_with_mnemonic(label.c_str());
      if (item.isDefault) {
        gchar* markup = g_markup_printf_escaped("<b>%s</b>", label.c_str());
        gtk_label_set_markup_with_mnemonic(GTK_LABEL(gtk_bin_get_child(GTK_BIN(widget))), markup);
        g_free(markup);
      }
      g_object_set_data(G_OBJECT(widget), kItemKey, const_cast<TrayMenuItem*>(&item));
      g_signal_connect(widget, "activate", G_CALLBACK(OnMenuItem), this);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), widget);
  }
  gtk_widget_show_all(menu_);
}

void GtkBackend::DestroyTray() {
  if (menu_) {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
    menu_ = nullptr;
  }
  if (tray_) {
    gtk_status_icon_set_visible(tray_, FALSE);
    g_object_unref(tray_);
    tray_ = nullptr;
  }
}

void GtkBackend::ShowTrayIcon(const std::string& tip, bool) {
  if (!tray_) MakeTray();
  std::string text = TrayTipUtf8(tip);
  gtk_status_icon_set_tooltip_text(tray_, text.empty() ? nullptr : text.c_str());
  gtk_status_icon_set_title(tray_, text.c_str());
  gtk_status_icon_set_visible(tray_, TRUE);
}

void GtkBackend::HideTrayIcon() {
  if (tray_) gtk_status_icon_set_visible(tray_, FALSE);
}

void GtkBackend::OnTrayActivate(GtkStatusIcon*, gpointer self) {
  static_cast<GtkBackend*>(self)->SendEvent({"tray", "click", ""});
}

void GtkBackend::OnTrayPopup(GtkStatusIcon*, guint, guint, gpointer self) {
  auto* backend = static_cast<GtkBackend*>(self);
  gtk_menu_popup_at_pointer(GTK_MENU(backend->menu_), nullptr);
}

void GtkBackend::OnMenuItem(GtkMenuItem* widget, gpointer self) {
  auto* backend = static_cast<GtkBackend*>(self);
  auto* item = static_cast<const TrayMenuItem*>(g_object_get_data(G_OBJECT(widget), kItemKey));
  if (!item) return;
  if (item->action == TrayAction::OpenHomePage) {
    backend->OpenHomePage();
  } else if (item->action == TrayAction::Event) {
    backend->SendEvent({"tray", item->event, ""});
  }
}

}  // namespace qp

G_GNUC_END_IGNORE_DEPRECATIONS
