// The executor: runs one compiled script on its script thread (executor.cpp).
#pragma once

#include <cstdint>

#include "engine/script_runner.h"

namespace qp {

// The body of a script thread: runs until the script ends, an `exit` runs, an
// error report ends it or a stop message arrives.
void Run(ScriptRunner& runner);

// Index after the "}" that matches the "{" at `openIndex`; openIndex + 1 when
// there is no match before the final `exit`.
int32_t FindAfterBlock(ScriptRunner& runner, int32_t openIndex);
// Runs the block at `openIndex` as a frame: pushes the index after its "}"
// (when that lies before the final `exit`), then openIndex + 1.
void EnterBlock(ScriptRunner& runner, int32_t openIndex);
// Fills runner.closeFrom for the loaded program (Run calls it).
void PrepareBlocks(ScriptRunner& runner);

}  // namespace qp
