#include "ui/gtk_backend.h"

#include <unistd.h>

#include <cstdio>

#include "support/codepage.h"
#include "support/messages.h"
#include "support/text.h"
#include "ui/console_backend.h"
#include "ui/gtk_input_dialog.h"

namespace qp {
namespace {

constexpr int kAlertMinWidth = 280;

}  // namespace

std::string ProgramIconPath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string path = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  // Beside the executable in a build tree; under share/ once installed.
  std::string beside = dir + "/quorpack.png";
  if (access(beside.c_str(), R_OK) == 0) return beside;
  return dir + "/../share/quorpack/quorpack.png";
}

std::unique_ptr<GtkBackend> GtkBackend::Create() {
  // GTK would switch the C library to the user's locale, which changes how
  // numbers are printed and read; scripts keep the program's fixed rules.
  gtk_disable_setlocale();
  g_set_prgname("quorpack");
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  return std::unique_ptr<GtkBackend>(new GtkBackend());
}

GtkBackend::GtkBackend() {
  icon_ = gdk_pixbuf_new_from_file(ProgramIconPath().c_str(), nullptr);
  if (icon_) gtk_window_set_default_icon(icon_);
  g_set_application_name(MsgUtf8(MessageId::kAppTitle));
  ReadScreenSize();
  if (GdkScreen* screen = gdk_screen_get_default()) {
    screenSignal_ = g_signal_connect(screen, "size-changed", G_CALLBACK(OnScreenChanged), this);
    monitorsSignal_ =
        g_signal_connect(screen, "monitors-changed", G_CALLBACK(OnScreenChanged), this);
  }
}

GtkBackend::~GtkBackend() {
  CloseDialogs();
  prompts_.clear();
  UnregisterHotkey();
  DestroyTray();
  if (GdkScreen* screen = gdk_screen_get_default()) {
    if (screenSignal_) g_signal_handler_disconnect(screen, screenSignal_);
    if (monitorsSignal_) g_signal_handler_disconnect(screen, monitorsSignal_);
  }
  if (icon_) g_object_unref(icon_);
}

void GtkBackend::SendEvent(const WindowEvent& event) {
  if (sink_) sink_(event);
}

// Script threads ask for the size at any time; GDK may be used on the UI
// thread only, so the UI thread keeps a copy up to date.
void GtkBackend::ReadScreenSize() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0)
    monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_geometry(monitor, &area);
  screenWidth_ = area.width;
  screenHeight_ = area.height;
}

void GtkBackend::OnScreenChanged(GdkScreen*, gpointer self) {
  static_cast<GtkBackend*>(self)->ReadScreenSize();
}

// A message box is modal to the script that asked (it waits), not to the
// program: other scripts' boxes, prompts and windows stay usable.
void GtkBackend::BeginAlert(const std::string& text, std::function<void()> closed) {
  if (closing_) {
    ShowAlert(text);
    closed();
    return;
  }
  std::string body = text;
  ReplaceAll(body, "\r\n", "\n");
  body = ActiveToUtf8(body);
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT,
                                             GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                             body.c_str());
  gtk_dialog_add_button(GTK_DIALOG(dialog), MsgUtf8(MessageId::kOkButton), GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_title(GTK_WINDOW(dialog), MsgUtf8(MessageId::kAppTitle));
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  // Wide enough that the window manager has room for the title.
  gtk_widget_set_size_request(dialog, kAlertMinWidth, -1);
  // OK, Enter, Escape and the close box all end in a response.
  g_signal_connect(dialog, "response", G_CALLBACK(OnAlertResponse), this);
  alerts_[dialog] = std::move(closed);
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkBackend::OnAlertResponse(GtkDialog* dialog, gint, gpointer self) {
  auto* backend = static_cast<GtkBackend*>(self);
  auto it = backend->alerts_.find(GTK_WIDGET(dialog));
  if (it == backend->alerts_.end()) return;
  std::function<void()> closed = std::move(it->second);
  backend->alerts_.erase(it);
  gtk_widget_destroy(GTK_WIDGET(dialog));
  if (closed) closed();
}

// The program's own boxes (boot file, script host) come before the loop
// runs, so this one waits in a loop of its own. At shutdown nobody would
// close it: the text goes to standard error instead.
void GtkBackend::ShowAlert(const std::string& text) {
  if (closing_) {
    std::string line = ConsoleAlertLine(text);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return;
  }
  bool done = false;
  BeginAlert(text, [&done] { done = true; });
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

void GtkBackend::CloseDialogs() {
  closing_ = true;
  AbandonHtmlWindowScripts();
  while (!alerts_.empty()) {
    auto it = alerts_.begin();
    GtkWidget* dialog = it->first;
    std::function<void()> closed = std::move(it->second);
    alerts_.erase(it);
    gtk_widget_destroy(dialog);
    if (closed) closed();
  }
}

void GtkBackend::OpenUri(const std::string& uri) {
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) g_clear_error(&error);
}

void GtkBackend::OpenFile(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return;
  OpenUri(uri);
  g_free(uri);
}

void GtkBackend::OpenHomePage() {
  if (homePage_) OpenUri(ActiveToUtf8(homePage_()));
}

void* GtkBackend::BeginPrompt(ScriptRunner& runner, const std::string& html,
                              PromptAnswer answer) {
  auto dialog = std::make_unique<GtkInputDialog>(*this, runner, ActiveToUtf8(html),
                                                 std::move(answer));
  void* handle = dialog.get();
  prompts_[&runner] = std::move(dialog);
  return handle;
}

// Called from inside the dialog's own answer handler too, which touches
// nothing of the dialog after it has handed over the answer; GTK keeps the
// widgets alive until their signal handlers have returned.
void GtkBackend::EndPrompt(ScriptRunner& runner) { prompts_.erase(&runner); }

}  // namespace qp
