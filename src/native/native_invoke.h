// Calling an entry point whose signature is known only at run time, through
// libffi. Parameters are "int" (32-bit) or "char*" values; the result is read
// as a 32-bit integer, a narrow text or a UTF-16 text.
#pragma once

#include <string>
#include <vector>

#include "native/native_reference.h"

namespace qp {

// Calls `entry` with `args` in written order reversed (the first argument
// written is the last parameter), as native calls of scripts always have.
// "char*" arguments point to writable copies that live until the result has
// been read, so a function may return one of them; what it writes into them
// is dropped. No argument may be of kind kBstr. The result as text: "int" in
// decimal; "char*" copied (a null address gives the empty text); "bstr"
// converted to the active code page and then freed (null gives the empty
// text). False when the call cannot be prepared.
bool InvokeNative(void* entry, NativeKind resultKind, const std::vector<NativeItem>& args,
                  std::string& result);

}  // namespace qp
