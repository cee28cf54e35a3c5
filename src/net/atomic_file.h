// Whole-file replacement that never leaves a half-written file: the text goes
// to a temporary file beside the target, which is then renamed over it.
#pragma once

#include <string>
#include <string_view>

#include "support/files.h"  // ReadWholeFile

namespace qp {

// False when the temporary file cannot be created or written, or the rename
// fails; the target is then unchanged. `mode` applies to a new file only
// (the permissions of an existing target are kept).
bool ReplaceFileAtomically(const std::string& path, std::string_view content,
                           unsigned mode = 0666);

}  // namespace qp
