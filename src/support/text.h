// Byte-string helpers shared by every subsystem. Script texts are bytes in the
// active code page; "blank" means space, tab, CR, LF, VT and FF, and bytes from
// 0x80 up are never blanks, so trimming never cuts a double-byte character.
//
// Ordered maps keyed by text use std::map<std::string, ...>: std::string
// compares like memcmp, which is the byte-wise order the tables need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/characters.h"  // case mapping and boundary-safe search

namespace qp {

// What separates the items of a built-in or native call ("name<<<arg...").
inline constexpr char kCallItemSeparator[] = "<<<";

inline bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);
std::string_view Trim(std::string_view s);
inline std::string TrimCopy(std::string_view s) { return std::string(Trim(s)); }

// The leading decimal number of a text, as C's atoi reads it: optional blanks,
// an optional sign, digits; 0 when there is none. Saturates at the int32 range.
int32_t LeadingInt(std::string_view s);

// Replaces every occurrence of `from` (not empty) with `to`, left to right.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Cuts at every occurrence of `separator` (not empty); empty pieces count.
std::vector<std::string> SplitAll(std::string_view text, std::string_view separator);

// Decimal text of an integer.
std::string ToDecimal(int64_t value);

}  // namespace qp
