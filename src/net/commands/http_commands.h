// The script commands of the HTTP client and the cookie jar: test, get, post,
// captcha, saveto, clear, add, addx, uptext, upfile, upload, proxy, timeout,
// referer, lan, encoding, imitate and the cookie commands 58 to 65.
#pragma once

#include <string>

#include "compiler/script_program.h"

namespace qp {

class ScriptRunner;

// Carries out one HTTP or cookie command. The operand is substituted already
// where the command table says so (the commands that use it whole or split
// after substitution), else as compiled.
void RunHttpCommand(ScriptRunner& runner, CommandCode code, const std::string& operand);

}  // namespace qp
