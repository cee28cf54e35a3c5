#include "ui/gtk_html_window.h"

#include <algorithm>

#include "support/codepage.h"
#include "ui/gtk_backend.h"
#include "ui/js_host_service.h"

namespace qp {
namespace {

// The caption until a script sets a title.
constexpr const char* kDefaultCaption = "Dialog";
// About the size of the classic window (186 by 94 dialog units) plus the
// title bar.
constexpr int kDefaultWidth = 280;
constexpr int kDefaultHeight = 190;
// The script world of the program's own click handler, and the name of its
// message handler there.
constexpr const char* kWorld = "quorpack";
constexpr const char* kHandler = "quorpack";

// Installs the click handler in the program's script world; run at the start
// of every document and again after each write or clear, because opening a
// document anew drops every listener. The handler looks at trusted releases
// of the left button only, finds the element under the pointer (an image
// counts as its parent), and posts [event, value] and nothing else: a link
// with a target other than "" and "_self" posts "window_new" with its href
// and its click is cancelled so that the page stays; anything else posts
// "window_click" with the element's id.
constexpr const char* kClickScript = R"JS(
(function () {
  var w = window;
  if (!w.__quorpack) {
    var consume = false;
    var send = function (name, value) {
      w.webkit.messageHandlers.quorpack.postMessage([name, value]);
    };
    w.__quorpack = {
      down: function (e) { if (e.button === 0) consume = false; },
      up: function (e) {
        if (!e.isTrusted || e.button !== 0) return;
        var el = document.elementFromPoint(e.clientX, e.clientY);
        if (!el) return;
        if (String(el.tagName).toLowerCase() === 'img' && el.parentElement)
          el = el.parentElement;
        if (String(el.tagName).toLowerCase() === 'a') {
          var target = String(el.getAttribute('target') || '').toLowerCase();
          if (target !== '' && target !== '_self') {
            consume = true;
            e.preventDefault();
            e.stopImmediatePropagation();
            send('window_new', String(el.href || ''));
            return;
          }
        }
        send('window_click', String(el.id || ''));
      },
      click: function (e) {
        if (!consume) return;
        consume = false;
        e.preventDefault();
        e.stopImmediatePropagation();
      }
    };
  }
  var q = w.__quorpack;
  ['mousedown', 'mouseup', 'click'].forEach(function (type) {
    var f = type === 'mousedown' ? q.down : type === 'mouseup' ? q.up : q.click;
    w.removeEventListener(type, f, true);
    w.addEventListener(type, f, true);
  });
})();
)JS";

// Texts from scripts may hold bytes that are not UTF-8 (a script in UTF-8
// with a broken character); GTK and WebKit take valid UTF-8 only.
std::string ToUtf8(const std::string& active) {
  std::string utf8 = ActiveToUtf8(active);
  if (g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) return utf8;
  gchar* valid = g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

std::string TakeString(gchar* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// Title bar clicks and window-manager requests stop here: they never change
// the window themselves. The header bar's own double click and menu would,
// so they are turned off (the settings only concern windows that draw their
// own title bar, which in this program are the HTML windows only).
void TurnOffTitleBarActions() {
  GtkSettings* settings = gtk_settings_get_default();
  if (!settings) return;
  g_object_set(settings, "gtk-titlebar-double-click", "none", "gtk-titlebar-middle-click",
               "none", "gtk-titlebar-right-click", "none", nullptr);
}

}  // namespace

// One evaluation that a script waits for. WebKit's answer and the timer both
// hold it; whichever comes first answers, and the other finds `done` empty.
struct GtkHtmlWindow::PendingScript {
  ScriptDone done;
  GtkHtmlWindow* owner = nullptr;  // null once the window has gone
  guint timer = 0;
  GCancellable* cancel = nullptr;
  ~PendingScript() {
    if (cancel) g_object_unref(cancel);
  }
};

std::string EvaluationErrorText(const std::string& message) {
  // The place is "SOURCE:LINE:COLUMN: "; the source is a URL, which may hold
  // colons and digits of its own, but never ":digits:digits: ".
  for (size_t colon = message.find(':'); colon != std::string::npos;
       colon = message.find(':', colon + 1)) {
    size_t at = colon;
    bool place = true;
    for (int field = 0; field < 2 && place; ++field) {
      if (at >= message.size() || message[at] != ':') {
        place = false;
        break;
      }
      size_t digits = at + 1;
      while (digits < message.size() && g_ascii_isdigit(message[digits])) ++digits;
      place = digits > at + 1;
      at = digits;
    }
    if (place && message.compare(at, 2, ": ") == 0) return message.substr(at + 2);
  }
  return message;
}

bool IsPageEvent(const std::string& event) {
  return event == "window_click" || event == "window_new";
}

WindowBox ClampedBox(int x, int y, int width, int height) {
  return {x, y, std::max(width, 1), std::max(height, 1)};
}

std::string ViewUrl(const std::string& urlUtf8) {
  if (!urlUtf8.empty() && urlUtf8[0] == '/')
    return TakeString(g_filename_to_uri(urlUtf8.c_str(), nullptr, nullptr));
  gchar* scheme = g_uri_parse_scheme(urlUtf8.c_str());
  bool hasScheme = scheme != nullptr;
  g_free(scheme);
  if (hasScheme || urlUtf8.empty()) return urlUtf8;
  return "http://" + urlUtf8;
}

std::unique_ptr<HtmlWindowView> GtkBackend::CreateHtmlWindow(const std::string& name,
                                                             const std::string& url) {
  auto window = std::make_unique<GtkHtmlWindow>(*this, name, url);
  htmlWindows_.insert(window.get());
  return window;
}

void GtkBackend::AbandonHtmlWindowScripts() {
  for (GtkHtmlWindow* window : htmlWindows_) window->AbandonScripts();
}

GtkHtmlWindow::GtkHtmlWindow(GtkBackend& backend, std::string name, const std::string& url)
    : backend_(backend), name_(std::move(name)) {
  TurnOffTitleBarActions();
  Build(ToUtf8(url));
}

GtkHtmlWindow::~GtkHtmlWindow() {
  backend_.htmlWindows_.erase(this);
  AbandonScripts();
  g_signal_handlers_disconnect_by_data(content_, this);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(content_);
}

void GtkHtmlWindow::Build(const std::string& urlUtf8) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_default_size(window, kDefaultWidth, kDefaultHeight);
  if (backend_.icon()) gtk_window_set_icon(window, backend_.icon());

  titleBar_ = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(titleBar_), FALSE);
  // Packed from the right: close, then maximize, then minimize.
  gtk_header_bar_pack_end(GTK_HEADER_BAR(titleBar_),
                          TitleButton("window-close-symbolic", "window_close"));
  maximizeButton_ = TitleButton("window-maximize-symbolic", "window_maximize");
  gtk_header_bar_pack_end(GTK_HEADER_BAR(titleBar_), maximizeButton_);
  gtk_header_bar_pack_end(GTK_HEADER_BAR(titleBar_),
                          TitleButton("window-minimize-symbolic", "window_minimize"));
  gtk_window_set_titlebar(window, titleBar_);
  // After the title bar: taking it on copies the bar's (empty) title.
  gtk_window_set_title(window, kDefaultCaption);

  content_ = webkit_user_content_manager_new();
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kClickScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(content_, script);
  webkit_user_script_unref(script);
  webkit_user_content_manager_register_script_message_handler_in_world(content_, kHandler, kWorld);
  g_signal_connect(content_, "script-message-received::quorpack", G_CALLBACK(OnMessage), this);

  view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content_));
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));

  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "window-state-event", G_CALLBACK(OnStateChanged), this);
  // The bar has no window of its own: its presses arrive at the window.
  g_signal_connect(window_, "button-press-event", G_CALLBACK(OnTitleBarPress), this);
  // Shown by ShowWindow; everything inside is ready to show with it.
  gtk_widget_show_all(titleBar_);
  gtk_widget_show(GTK_WIDGET(view_));
  webkit_web_view_load_uri(view_, urlUtf8.empty() ? "about:blank" : ViewUrl(urlUtf8).c_str());
}

GtkWidget* GtkHtmlWindow::TitleButton(const char* icon, const char* event) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_MENU);
  gtk_style_context_add_class(gtk_widget_get_style_context(button), "titlebutton");
  gtk_widget_set_can_focus(button, FALSE);
  gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
  g_object_set_data(G_OBJECT(button), "qp-event", const_cast<char*>(event));
  g_signal_connect(button, "clicked", G_CALLBACK(OnTitleButton), this);
  return button;
}

void GtkHtmlWindow::Send(const std::string& event, const std::string& valueUtf8) {
  backend_.SendEvent({name_, event, Utf8ToActive(valueUtf8)});
}

void GtkHtmlWindow::SetTitle(const std::string& caption) {
  gtk_window_set_title(GTK_WINDOW(window_), ToUtf8(caption).c_str());
}

void GtkHtmlWindow::Navigate(const std::string& url) {
  webkit_web_view_load_uri(view_, ViewUrl(ToUtf8(url)).c_str());
}

// The text travels as the argument of a function, never as part of its
// source, so nothing in it can run as code of ours.
void GtkHtmlWindow::CallInOwnWorld(const char* body, const std::string& htmlUtf8) {
  GVariantDict arguments;
  g_variant_dict_init(&arguments, nullptr);
  g_variant_dict_insert_value(&arguments, "html", g_variant_new_string(htmlUtf8.c_str()));
  std::string source = std::string(body) + kClickScript;
  webkit_web_view_call_async_javascript_function(view_, source.c_str(),
                                                 static_cast<gssize>(source.size()),
                                                 g_variant_dict_end(&arguments), kWorld, nullptr,
                                                 nullptr, nullptr, nullptr);
}

void GtkHtmlWindow::Write(const std::string& html) {
  if (!loadedOnce_) return;
  CallInOwnWorld("document.write(html);\n", ToUtf8(html));
}

void GtkHtmlWindow::Clear() {
  if (!loadedOnce_) return;
  CallInOwnWorld("document.close();\ndocument.open('text/html');\n", "");
}

// The size is that of the whole window, title bar and border included, as
// scripts expect; GTK sizes the part inside them, so once the window exists
// on the screen the difference is taken off.
void GtkHtmlWindow::Move(int x, int y, int width, int height) {
  GtkWindow* window = GTK_WINDOW(window_);
  int frameWidth = 0;
  int frameHeight = 0;
  if (GdkWindow* onScreen = gtk_widget_get_window(window_)) {
    int inner = 0;
    int innerHeight = 0;
    gtk_window_get_size(window, &inner, &innerHeight);
    frameWidth = std::max(gdk_window_get_width(onScreen) - inner, 0);
    frameHeight = std::max(gdk_window_get_height(onScreen) - innerHeight, 0);
  } else if (gtk_widget_get_visible(titleBar_)) {
    int natural = 0;
    gtk_widget_get_preferred_height(titleBar_, nullptr, &natural);
    frameHeight = natural;
  }
  WindowBox box = ClampedBox(x, y, width - frameWidth, height - frameHeight);
  gtk_window_move(window, box.x, box.y);
  gtk_window_resize(window, box.width, box.height);
  gtk_widget_queue_draw(window_);
}

// Minimizing a hidden window leaves it hidden (it shows minimized when it
// is shown); maximize and restore show the window as they do on the
// scripts' home platform. What is asked here is what the window keeps: a
// change that comes from elsewhere is undone (OnStateChanged).
void GtkHtmlWindow::SetShowState(WindowShowState state) {
  GtkWindow* window = GTK_WINDOW(window_);
  switch (state) {
    case WindowShowState::Shown:
      gtk_widget_show(window_);
      if (!wantMinimized_) gtk_window_present(window);
      break;
    case WindowShowState::Hidden: gtk_widget_hide(window_); break;
    case WindowShowState::Minimized:
      wantMinimized_ = true;
      gtk_window_iconify(window);
      break;
    case WindowShowState::Maximized:
      wantMinimized_ = false;
      wantMaximized_ = true;
      gtk_window_deiconify(window);
      gtk_window_maximize(window);
      gtk_widget_show(window_);
      break;
    case WindowShowState::Restored:
      wantMinimized_ = false;
      wantMaximized_ = false;
      gtk_window_unmaximize(window);
      gtk_window_deiconify(window);
      gtk_widget_show(window_);
      gtk_window_present(window);
      break;
  }
}

// Without the border the window has no title bar at all. The window keeps
// its outer size, so the page gains (or gives back) the bar's height.
void GtkHtmlWindow::SetBorder(bool shown) {
  if (shown == gtk_widget_get_visible(titleBar_)) return;
  GtkWindow* window = GTK_WINDOW(window_);
  int width = 0;
  int height = 0;
  gtk_window_get_size(window, &width, &height);
  int bar = gtk_widget_get_allocated_height(titleBar_);
  gtk_widget_set_visible(titleBar_, shown);
  // A hidden bar asks for no height: it is measured once shown.
  if (shown) gtk_widget_get_preferred_height(titleBar_, nullptr, &bar);
  gtk_window_set_decorated(window, shown);
  gtk_window_resize(window, width, std::max(height + (shown ? -bar : bar), 1));
}

void GtkHtmlWindow::SetTaskbar(bool shown) {
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), !shown);
}

bool GtkHtmlWindow::RunScript(const std::string& source, std::string& result) {
  bool finished = false;
  bool ok = false;
  BeginScript(source, [&](bool success, const std::string& text) {
    finished = true;
    ok = success;
    result = text;
  });
  while (!finished) g_main_context_iteration(nullptr, TRUE);
  return ok;
}

void GtkHtmlWindow::BeginScript(const std::string& source, ScriptDone done) {
  if (!loadedOnce_ || abandoned_) {
    done(false, "");
    return;
  }
  auto pending = std::make_shared<PendingScript>();
  pending->done = std::move(done);
  pending->owner = this;
  pending->cancel = g_cancellable_new();
  pending_.push_back(pending);
  // The timer's hold on the record goes with the timer, however it ends.
  pending->timer = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(kJsTimeBudget.count()), OnScriptTimeout,
      new std::shared_ptr<PendingScript>(pending),
      [](gpointer data) { delete static_cast<std::shared_ptr<PendingScript>*>(data); });
  std::string code = ToUtf8(source);
  webkit_web_view_evaluate_javascript(view_, code.c_str(), static_cast<gssize>(code.size()),
                                      nullptr, nullptr, pending->cancel,
                                      OnScriptAnswer,
                                      new std::shared_ptr<PendingScript>(pending));
}

void GtkHtmlWindow::AbandonScripts() {
  abandoned_ = true;
  while (!pending_.empty()) Finish(pending_.front(), false, "");
}

void GtkHtmlWindow::Finish(const std::shared_ptr<PendingScript>& pending, bool ok,
                           const std::string& textUtf8) {
  std::shared_ptr<PendingScript> keep = pending;  // `pending` may live in the list
  if (!keep->done) return;
  ScriptDone done = std::move(keep->done);
  keep->done = nullptr;
  if (keep->timer) g_source_remove(keep->timer);
  keep->timer = 0;
  g_cancellable_cancel(keep->cancel);
  if (keep->owner) keep->owner->pending_.remove(keep);
  keep->owner = nullptr;
  done(ok, Utf8ToActive(textUtf8));
}

// The value's text, or the error's text when the page threw or the value
// has no text.
void GtkHtmlWindow::OnScriptAnswer(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingScript>> pending(
      static_cast<std::shared_ptr<PendingScript>*>(data));
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (!value) {
    std::string text = error ? EvaluationErrorText(error->message) : "";
    g_clear_error(&error);
    Finish(*pending, false, text);
    return;
  }
  std::string text = TakeString(jsc_value_to_string(value));
  JSCException* exception = jsc_context_get_exception(jsc_value_get_context(value));
  bool ok = exception == nullptr;
  if (!ok) {
    text = jsc_exception_get_message(exception);
    jsc_context_clear_exception(jsc_value_get_context(value));
  }
  g_object_unref(value);
  Finish(*pending, ok, text);
}

gboolean GtkHtmlWindow::OnScriptTimeout(gpointer data) {
  std::shared_ptr<PendingScript> pending = *static_cast<std::shared_ptr<PendingScript>*>(data);
  pending->timer = 0;  // this source ends with this call
  Finish(pending, false, "");
  return G_SOURCE_REMOVE;
}

// The first document after creation raises nothing; each later one raises
// "document_complete" with its URL.
void GtkHtmlWindow::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  auto* window = static_cast<GtkHtmlWindow*>(self);
  if (!window->loadedOnce_) {
    window->loadedOnce_ = true;
    return;
  }
  const gchar* uri = webkit_web_view_get_uri(view);
  window->Send("document_complete", uri ? uri : "");
}

// A message is [event, value], two texts; anything else is dropped.
void GtkHtmlWindow::OnMessage(WebKitUserContentManager*, WebKitJavascriptResult* message,
                              gpointer self) {
  JSCValue* value = webkit_javascript_result_get_js_value(message);
  if (!value || !jsc_value_is_array(value)) return;
  JSCValue* event = jsc_value_object_get_property_at_index(value, 0);
  JSCValue* text = jsc_value_object_get_property_at_index(value, 1);
  if (jsc_value_is_string(event) && jsc_value_is_string(text)) {
    std::string name = TakeString(jsc_value_to_string(event));
    if (IsPageEvent(name))
      static_cast<GtkHtmlWindow*>(self)->Send(name, TakeString(jsc_value_to_string(text)));
  }
  g_object_unref(event);
  g_object_unref(text);
}

// The page never opens windows of its own: links that want one are
// reported as "window_new" by the click handler.
GtkWidget* GtkHtmlWindow::OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
  return nullptr;
}

gboolean GtkHtmlWindow::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                       WebKitPolicyDecisionType type, gpointer) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

gboolean GtkHtmlWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkHtmlWindow*>(self)->Send("window_close");
  return TRUE;  // the window stays
}

// The window manager may minimize or maximize the window itself (its keys,
// its task bar): that is a request like the title bar's, so it is sent as
// the event and undone, and the window stays as the scripts left it. The
// middle button follows the state: restore while maximized.
gboolean GtkHtmlWindow::OnStateChanged(GtkWidget*, GdkEventWindowState* event, gpointer self) {
  auto* window = static_cast<GtkHtmlWindow*>(self);
  GtkWindow* gtkWindow = GTK_WINDOW(window->window_);
  GdkWindowState state = event->new_window_state;
  if (state & GDK_WINDOW_STATE_WITHDRAWN) return FALSE;  // hidden: nothing to keep
  bool iconified = (state & GDK_WINDOW_STATE_ICONIFIED) != 0;
  bool maximized = (state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
  if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
    if (iconified && !window->wantMinimized_) {
      window->Send("window_minimize");
      gtk_window_deiconify(gtkWindow);
    } else if (!iconified && window->wantMinimized_) {
      window->Send("window_restore");
      gtk_window_iconify(gtkWindow);
    }
  }
  if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) {
    if (maximized && !window->wantMaximized_) {
      window->Send("window_maximize");
      gtk_window_unmaximize(gtkWindow);
    } else if (!maximized && window->wantMaximized_) {
      window->Send("window_restore");
      gtk_window_maximize(gtkWindow);
    }
  }
  if (maximized == window->maximized_) return FALSE;
  window->maximized_ = maximized;
  gtk_button_set_image(GTK_BUTTON(window->maximizeButton_),
                       gtk_image_new_from_icon_name(
                           maximized ? "window-restore-symbolic" : "window-maximize-symbolic",
                           GTK_ICON_SIZE_MENU));
  g_object_set_data(G_OBJECT(window->maximizeButton_), "qp-event",
                    const_cast<char*>(maximized ? "window_restore" : "window_maximize"));
  return FALSE;
}

// A double click on the title bar asks what the middle button asks.
gboolean GtkHtmlWindow::OnTitleBarPress(GtkWidget*, GdkEventButton* event, gpointer self) {
  if (event->type != GDK_2BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  auto* window = static_cast<GtkHtmlWindow*>(self);
  if (!gtk_widget_get_visible(window->titleBar_)) return FALSE;
  GtkAllocation bar;
  gtk_widget_get_allocation(window->titleBar_, &bar);
  if (event->y < bar.y || event->y >= bar.y + bar.height) return FALSE;
  window->Send(window->maximized_ ? "window_restore" : "window_maximize");
  return TRUE;
}

void GtkHtmlWindow::OnTitleButton(GtkButton* button, gpointer self) {
  const char* event = static_cast<const char*>(g_object_get_data(G_OBJECT(button), "qp-event"));
  if (event) static_cast<GtkHtmlWindow*>(self)->Send(event);
}

}  // namespace qp
