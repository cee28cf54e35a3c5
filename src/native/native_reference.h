// The text of a "~" reference: "lib.func<<<arg<<<arg...", where every item
// may open with a cast "(" type ")" that says how a value crosses into and
// out of the native function. Parsing only; native_calls.h does the calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qp {

// How a value crosses the boundary. The numbers are the cast codes scripts
// have always used.
enum class NativeKind : int32_t {
  kCharPtr = 0,  // narrow NUL-terminated text (the default)
  kBstr = 1,     // result only: malloc'd NUL-terminated UTF-16, freed after reading
  kInt = 2,      // 32-bit signed integer, read from text like atoi
};

struct NativeItem {
  NativeKind kind = NativeKind::kCharPtr;
  std::string text;           // what follows the cast, unchanged
  bool bracketError = false;  // "(" without ")": the item counts as uncast
};

// The items of a reference, split at every "<<<"; always at least one.
std::vector<std::string> SplitNativeItems(const std::string& inner);

// The cast of one item. Blanks before "(" are skipped; the type is trimmed
// and compared without case; an unknown type means "char*".
NativeItem ParseNativeItem(const std::string& item);

}  // namespace qp
