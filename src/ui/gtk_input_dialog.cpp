#include "ui/gtk_input_dialog.h"

#include <webkit2/webkit2.h>

#include "support/codepage.h"
#include "support/messages.h"
#include "support/settings.h"
#include "ui/gtk_backend.h"

namespace qp {
namespace {

// The question's view: about the size of the browser area of the classic
// dialog, a little larger so that a captcha and a line of text fit.
constexpr int kViewWidth = 300;
constexpr int kViewHeight = 120;
constexpr int kBottomGap = 30;

// Relative image paths ("Temp/captcha.jpg") and absolute paths load from
// the home folder.
std::string HomeBaseUri() {
  std::string dir = ProgramDir() + "/";
  gchar* uri = g_filename_to_uri(dir.c_str(), nullptr, nullptr);
  std::string base = uri ? uri : "";
  g_free(uri);
  return base;
}

}  // namespace

DialogOrigin BottomRightOrigin(int screenWidth, int screenHeight, int width, int height) {
  return {screenWidth - width, screenHeight - height - kBottomGap};
}

GtkInputDialog::GtkInputDialog(GtkBackend& backend, ScriptRunner& runner,
                               const std::string& questionUtf8, PromptAnswer answer)
    : backend_(backend), runner_(runner), answer_(std::move(answer)) {
  Build(questionUtf8);
  Place(backend_.ScreenWidth(), backend_.ScreenHeight());
  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(entry_);
  gtk_window_present(GTK_WINDOW(window_));
}

GtkInputDialog::~GtkInputDialog() {
  if (placeSource_) g_source_remove(placeSource_);
  if (window_) gtk_widget_destroy(window_);
}

void GtkInputDialog::Build(const std::string& questionUtf8) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_title(window, MsgUtf8(MessageId::kInputDialogTitle));
  gtk_window_set_keep_above(window, TRUE);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_container_set_border_width(GTK_CONTAINER(window_), 7);

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 7);
  gtk_container_add(GTK_CONTAINER(window_), column);
  // Without a view the entry and the button still work.
  if (GtkWidget* view = webkit_web_view_new()) {
    gtk_widget_set_size_request(view, kViewWidth, kViewHeight);
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), questionUtf8.c_str(),
                              HomeBaseUri().c_str());
    gtk_box_pack_start(GTK_BOX(column), view, TRUE, TRUE, 0);
  }
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 7);
  gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
  entry_ = gtk_entry_new();
  gtk_box_pack_start(GTK_BOX(row), entry_, TRUE, TRUE, 0);
  GtkWidget* button = gtk_button_new_with_label(MsgUtf8(MessageId::kOkButton));
  gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);

  g_signal_connect(entry_, "activate", G_CALLBACK(OnSend), this);
  g_signal_connect(button, "clicked", G_CALLBACK(OnSend), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
}

// A first guess from the window's own size places it before it is shown;
// once the window manager has framed it, the frame itself is put on the
// edge (north-west gravity: a move places the frame's top-left corner).
void GtkInputDialog::Place(int screenWidth, int screenHeight) {
  if (screenWidth <= 0 || screenHeight <= 0) return;
  GtkRequisition natural;
  gtk_widget_get_preferred_size(window_, nullptr, &natural);
  DialogOrigin origin = BottomRightOrigin(screenWidth, screenHeight, natural.width, natural.height);
  gtk_window_move(GTK_WINDOW(window_), origin.x, origin.y);
  g_signal_connect(window_, "map-event", G_CALLBACK(OnMapped), this);
}

// The frame is put on the edge once the map has been handled: a move from
// inside the map handler crosses GTK's own configure bookkeeping.
gboolean GtkInputDialog::OnMapped(GtkWidget* widget, GdkEvent*, gpointer self) {
  auto* dialog = static_cast<GtkInputDialog*>(self);
  g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(OnMapped), self);
  if (!dialog->placeSource_) dialog->placeSource_ = g_idle_add(OnPlaceFrame, self);
  return FALSE;
}

gboolean GtkInputDialog::OnPlaceFrame(gpointer self) {
  auto* dialog = static_cast<GtkInputDialog*>(self);
  dialog->placeSource_ = 0;
  GdkWindow* window = gtk_widget_get_window(dialog->window_);
  if (!window) return G_SOURCE_REMOVE;
  GdkRectangle frame;
  gdk_window_get_frame_extents(window, &frame);
  DialogOrigin origin = BottomRightOrigin(dialog->backend_.ScreenWidth(),
                                          dialog->backend_.ScreenHeight(), frame.width,
                                          frame.height);
  if (origin.x != frame.x || origin.y != frame.y)
    gtk_window_move(GTK_WINDOW(dialog->window_), origin.x, origin.y);
  return G_SOURCE_REMOVE;
}

void GtkInputDialog::Answer(GtkInputDialog* dialog, const std::string& utf8) {
  PromptAnswer answer = dialog->answer_;
  ScriptRunner& runner = dialog->runner_;
  answer(runner, Utf8ToActive(utf8));
}

void GtkInputDialog::OnSend(GtkWidget*, gpointer self) {
  auto* dialog = static_cast<GtkInputDialog*>(self);
  Answer(dialog, gtk_entry_get_text(GTK_ENTRY(dialog->entry_)));
}

// The close box answers with the empty text; the owner then destroys us.
gboolean GtkInputDialog::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  Answer(static_cast<GtkInputDialog*>(self), "");
  return TRUE;
}

// Escape answers like the close box: a script is never left waiting behind
// a dialog that has gone.
gboolean GtkInputDialog::OnKey(GtkWidget*, GdkEventKey* event, gpointer self) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  Answer(static_cast<GtkInputDialog*>(self), "");
  return TRUE;
}

}  // namespace qp
