#include "ui/js_host_service.h"

#include "engine/script_host.h"

namespace qp {
namespace {

ScriptHost& DialogHost() {
  static ScriptHost host;
  return host;
}

}  // namespace

bool InitJsHost(std::string& errorText) {
  ScriptHost& host = DialogHost();
  errorText.clear();
  if (!host.Create()) {
    errorText = "Error: the JavaScript engine could not be started, ; in line 0";
    return false;
  }
  host.SetTimeBudget(kJsTimeBudget);
  if (host.LoadEvaluator()) return true;
  errorText = host.ErrorText();
  return false;
}

bool EvaluateJs(const std::string& source, std::string& result) {
  return DialogHost().RunEvaluator(source, result);
}

}  // namespace qp
