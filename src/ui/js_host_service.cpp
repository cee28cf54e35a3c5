// Stand-in until the JavaScript host lands: every evaluation fails.
#include "ui/js_host_service.h"

namespace qp {

bool InitJsHost(std::string& errorText) {
  errorText.clear();
  return true;
}

bool EvaluateJs(const std::string&, std::string& result) {
  result.clear();
  return false;
}

}  // namespace qp
