// The UI thread's JavaScript host as the UI request service sees it: one
// ScriptHost for the program's whole life, with the evaluator loaded at
// start-up. The service takes the script host lock around every call; the
// host itself does no locking and is used on the UI thread only.
#pragma once

#include <chrono>
#include <string>

namespace qp {

// How long one `js` evaluation may run before it fails: the UI thread serves
// every script's requests, so a runaway loop may hold them up this long.
inline constexpr std::chrono::milliseconds kJsTimeBudget{5000};

// Starts the host once, at start-up. On failure `errorText` (active code
// page) says why; the program shows it and goes on without a working host.
bool InitJsHost(std::string& errorText);

// Evaluates `source` (active code page) with the evaluator procedure. True
// with the value as text in `result`; false when the evaluation failed or
// the host never started (`result` then unchanged).
bool EvaluateJs(const std::string& source, std::string& result);

}  // namespace qp
