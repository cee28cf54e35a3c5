// The built-in functions of "@" references (builtins.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/script_runner.h"

namespace qp {

// The built-in function call written in an "@" reference, given as its items
// (the name first) and its whole text (for error reports). The substitution
// cuts the items only at the script's own separators (kCallItemSeparator),
// so a value that a reference brought in is always one item.
std::string CallBuiltin(ScriptRunner& runner, const std::vector<std::string>& items,
                        const std::string& callText);
// The same without the whole text, which an error report then makes from the
// items: the substitution gives a call this way without copying its items
// into one text first.
std::string CallBuiltin(ScriptRunner& runner, const std::vector<std::string>& items);
// The same for a call text that is cut at every separator.
std::string CallBuiltin(ScriptRunner& runner, const std::string& callText);
// The next value (0..32767) of the run's generator, seeded by `srand`.
int32_t NextRandom(ScriptRunner& runner);

}  // namespace qp
