// HTML windows of the desktop back end. Until they are drawn with WebKitGTK
// they are the console's records, which keep what scripts set so that
// scripts run unchanged.
#include "ui/console_backend.h"
#include "ui/gtk_backend.h"

namespace qp {

std::unique_ptr<HtmlWindowView> GtkBackend::CreateHtmlWindow(const std::string& name,
                                                             const std::string& url) {
  return std::make_unique<ConsoleWindow>(name, url);
}

}  // namespace qp
