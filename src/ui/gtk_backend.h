// The desktop back end: GTK 3 on the GLib main loop that serves the requests.
// Message boxes are real dialogs, a prompt is the input dialog with a
// WebKitGTK view of its question, the tray icon is an XEmbed status icon with
// its menu, and the hotkey is grabbed with keybinder. Every call is made on
// the UI thread; only the screen size may be asked from any thread, and it is
// read from a copy that the UI thread keeps.
//
// The parts live in files of their own: gtk_backend.cpp (set-up, message
// boxes, opening files and pages, screen size), gtk_input_dialog.cpp,
// gtk_tray.cpp, gtk_hotkey.cpp and gtk_html_window.cpp.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <gtk/gtk.h>

#include "ui/ui_backend.h"

namespace qp {

class GtkHtmlWindow;
class GtkInputDialog;

class GtkBackend : public UiBackend {
 public:
  // Opens the display; null when it cannot be opened (gtk_init_check fails).
  static std::unique_ptr<GtkBackend> Create();
  ~GtkBackend() override;
  GtkBackend(const GtkBackend&) = delete;
  GtkBackend& operator=(const GtkBackend&) = delete;

  void SetEventSink(EventSink sink) override { sink_ = std::move(sink); }
  void SetHomePageSource(std::function<std::string()> source) override {
    homePage_ = std::move(source);
  }
  bool RegisterHotkey(const std::string& text) override;
  void UnregisterHotkey() override;
  void ShowAlert(const std::string& text) override;
  void BeginAlert(const std::string& text, std::function<void()> closed) override;
  void CloseDialogs() override;
  void OpenFile(const std::string& path) override;
  void* BeginPrompt(ScriptRunner& runner, const std::string& html, PromptAnswer answer) override;
  void EndPrompt(ScriptRunner& runner) override;
  std::unique_ptr<HtmlWindowView> CreateHtmlWindow(const std::string& name,
                                                   const std::string& url) override;
  void ShowTrayIcon(const std::string& tip, bool alreadyShown) override;
  void HideTrayIcon() override;
  int ScreenWidth() const override { return screenWidth_; }
  int ScreenHeight() const override { return screenHeight_; }

  // The program's icon (tray, windows); may be null.
  GdkPixbuf* icon() const { return icon_; }
  // Hands an event to the main dialog.
  void SendEvent(const WindowEvent& event);
  // Opens a URI with the desktop's handler; failures are not reported.
  static void OpenUri(const std::string& uri);

 private:
  friend class GtkHtmlWindow;  // enters and leaves htmlWindows_
  GtkBackend();
  // Shutdown: evaluations that scripts wait for in HTML windows fail now
  // (gtk_html_window.cpp).
  void AbandonHtmlWindowScripts();
  struct Alert;
  void ReadScreenSize();
  static void OnScreenChanged(GdkScreen* screen, gpointer self);
  static void OnAlertResponse(GtkDialog* dialog, gint response, gpointer self);
  void OpenHomePage();
  // Tray (gtk_tray.cpp).
  void MakeTray();
  void DestroyTray();
  static void OnTrayActivate(GtkStatusIcon* icon, gpointer self);
  static void OnTrayPopup(GtkStatusIcon* icon, guint button, guint time, gpointer self);
  static void OnMenuItem(GtkMenuItem* item, gpointer self);

  EventSink sink_;
  std::function<std::string()> homePage_;
  GdkPixbuf* icon_ = nullptr;
  std::atomic<int> screenWidth_{0};
  std::atomic<int> screenHeight_{0};
  gulong screenSignal_ = 0;
  gulong monitorsSignal_ = 0;
  // Open message boxes and what runs when each closes.
  std::map<GtkWidget*, std::function<void()>> alerts_;
  bool closing_ = false;  // shutdown: boxes no longer wait
  std::map<ScriptRunner*, std::unique_ptr<GtkInputDialog>> prompts_;
  GtkStatusIcon* tray_ = nullptr;
  GtkWidget* menu_ = nullptr;
  std::string hotkey_;  // the bound accelerator, empty when none
  std::set<GtkHtmlWindow*> htmlWindows_;  // open HTML windows
};

// The file of the program's icon: quorpack.png beside the executable.
std::string ProgramIconPath();

}  // namespace qp
