// The UI thread's JavaScript host as the UI request service sees it. The
// service takes the script host lock around every call; the host itself does
// no locking.
#pragma once

#include <string>

namespace qp {

// Starts the host once, at start-up. On failure `errorText` (active code
// page) says why; the program shows it and goes on without a working host.
bool InitJsHost(std::string& errorText);

// Evaluates `source` (active code page). True with the value as text in
// `result`; false when the evaluation failed (`result` then unspecified).
bool EvaluateJs(const std::string& source, std::string& result);

}  // namespace qp
