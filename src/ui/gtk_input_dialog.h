// The input dialog of a prompt: "请输入..", a WebKitGTK view of the question
// HTML (with the home folder as its base, so that "Temp/captcha.jpg" and
// absolute paths load), an entry and the button "确定". It stays above other
// windows, sits at the bottom right of the screen, 30 pixels above its
// bottom edge, and starts with the focus in the entry. Enter and the button
// send the entry's text, the close box and Escape send the empty answer.
// The owner destroys the dialog when the answer has been taken.
#pragma once

#include <string>

#include <gtk/gtk.h>

#include "ui/ui_backend.h"

namespace qp {

class GtkBackend;

class GtkInputDialog {
 public:
  // `questionUtf8` is the question's HTML in UTF-8. The dialog is shown at once.
  GtkInputDialog(GtkBackend& backend, ScriptRunner& runner, const std::string& questionUtf8,
                 PromptAnswer answer);
  ~GtkInputDialog();
  GtkInputDialog(const GtkInputDialog&) = delete;
  GtkInputDialog& operator=(const GtkInputDialog&) = delete;

 private:
  void Build(const std::string& questionUtf8);
  void Place(int screenWidth, int screenHeight);
  // Hands the answer over; `this` may be gone when it returns.
  static void Answer(GtkInputDialog* dialog, const std::string& utf8);
  static void OnSend(GtkWidget* widget, gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnMapped(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnPlaceFrame(gpointer self);
  static gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer self);

  GtkBackend& backend_;
  ScriptRunner& runner_;
  PromptAnswer answer_;
  GtkWidget* window_ = nullptr;
  GtkWidget* entry_ = nullptr;
  guint placeSource_ = 0;  // the pending move of the frame onto the edge
};

// Where the dialog goes: right edge on the screen's right edge, bottom edge
// 30 pixels above the screen's bottom edge.
struct DialogOrigin {
  int x;
  int y;
};
DialogOrigin BottomRightOrigin(int screenWidth, int screenHeight, int width, int height);

}  // namespace qp
