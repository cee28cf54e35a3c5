// An HTML window of the desktop back end: a top-level GTK window whose
// WebKitGTK view fills it, under a title bar of the program's own.
//
// The title bar is a GtkHeaderBar with our own minimize, maximize/restore
// and close buttons. Its buttons, a double click on it and the window
// manager's close request (the close box of a task bar, Alt+F4) only send
// "window_minimize", "window_maximize", "window_restore" or "window_close":
// the window stays as it was until a script asks for a change. A window
// manager's own title bar could not be stopped from minimizing or maximizing
// before we hear of it, so the window draws its own; what the window manager
// still does by itself (its keys, its task bar) is sent as the same event
// and undone at once.
//
// Clicks reach the program through a script-message handler that lives in a
// script world of its own: the page's scripts cannot see it, and a message
// carries only an event name and a value text, which are checked here. No
// text from the page is ever evaluated.
#pragma once

#include <list>
#include <memory>
#include <string>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "ui/ui_backend.h"

namespace qp {

class GtkBackend;

class GtkHtmlWindow : public HtmlWindowView {
 public:
  // `name` and `url` are in the active code page. The window is hidden.
  GtkHtmlWindow(GtkBackend& backend, std::string name, const std::string& url);
  ~GtkHtmlWindow() override;
  GtkHtmlWindow(const GtkHtmlWindow&) = delete;
  GtkHtmlWindow& operator=(const GtkHtmlWindow&) = delete;

  void SetTitle(const std::string& caption) override;
  void Navigate(const std::string& url) override;
  void Write(const std::string& html) override;
  void Clear() override;
  void Move(int x, int y, int width, int height) override;
  void SetShowState(WindowShowState state) override;
  void SetBorder(bool shown) override;
  void SetTaskbar(bool shown) override;
  // Waits in a loop of its own, at most the evaluation budget.
  bool RunScript(const std::string& source, std::string& result) override;
  void BeginScript(const std::string& source, ScriptDone done) override;
  // Shutdown: every evaluation still waiting fails now, and later ones fail
  // at once (the loop that would deliver their answers no longer runs).
  void AbandonScripts();

  GtkWidget* widget() const { return window_; }

 private:
  struct PendingScript;

  void Build(const std::string& urlUtf8);
  GtkWidget* TitleButton(const char* icon, const char* event);
  void Send(const std::string& event, const std::string& valueUtf8 = "");
  // Runs `body` in the program's own script world with `html` as its only
  // argument; the answer is not awaited.
  void CallInOwnWorld(const char* body, const std::string& htmlUtf8);
  static void Finish(const std::shared_ptr<PendingScript>& pending, bool ok,
                     const std::string& textUtf8);
  static void OnScriptAnswer(GObject* view, GAsyncResult* result, gpointer data);
  static gboolean OnScriptTimeout(gpointer data);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static void OnMessage(WebKitUserContentManager* manager, WebKitJavascriptResult* message,
                        gpointer self);
  static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);
  static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnStateChanged(GtkWidget* widget, GdkEventWindowState* event, gpointer self);
  static gboolean OnTitleBarPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
  static void OnTitleButton(GtkButton* button, gpointer self);

  GtkBackend& backend_;
  std::string name_;
  GtkWidget* window_ = nullptr;
  GtkWidget* titleBar_ = nullptr;
  GtkWidget* maximizeButton_ = nullptr;
  WebKitWebView* view_ = nullptr;
  WebKitUserContentManager* content_ = nullptr;
  bool loadedOnce_ = false;  // the first document has completed
  bool maximized_ = false;   // as the window manager last said
  // What scripts asked for; the window manager's own changes are undone.
  bool wantMinimized_ = false;
  bool wantMaximized_ = false;
  bool abandoned_ = false;
  std::list<std::shared_ptr<PendingScript>> pending_;
};

// The texts of the page's events: an event name the page may send and its
// value. False for anything else, which is dropped.
bool IsPageEvent(const std::string& event);

// The text of an evaluation's error without the place WebKit puts in front
// of it ("file:///a.html:1:5: ReferenceError: ..." gives "ReferenceError: ...");
// other texts are kept.
std::string EvaluationErrorText(const std::string& message);

// Where a "pos" request puts the window and how large it makes it: sizes
// below 1 become 1 (GTK refuses them; the window then takes its smallest
// size).
struct WindowBox {
  int x, y, width, height;
};
WindowBox ClampedBox(int x, int y, int width, int height);

// A URL as the view takes it: an absolute path becomes a file URL and a text
// without a scheme is taken as an http address; others are kept.
std::string ViewUrl(const std::string& urlUtf8);

}  // namespace qp
