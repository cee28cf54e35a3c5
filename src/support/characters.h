// Character boundaries in the active code page: the one rule every scan of
// script text follows (substitution, built-ins, text commands, regular
// expression replacement, path separators, case mapping, cuts).
//
// GBK: a byte 0x81-0xFE followed by a byte of GBK's trail range (0x40-0x7E,
// 0x80-0xFE) is one character, whether or not the pair has a mapping; every
// other byte is a character of its own. UTF-8: a well-formed sequence is one
// character; a broken one is one character per byte. A lead byte at the end
// of a text is a character of its own, so no character reaches past the end
// of the text it is measured in: a scan that measures each piece of a text
// on its own never lets a character span two pieces.
//
// Trail bytes of GBK include "@", "[", "\", "]", "^" and the ASCII letters, so
// a byte-wise scan for those would find them inside Chinese characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qp {

// True when byte c can start a two-or-more-byte character.
bool IsLeadByte(unsigned char c);
// Number of bytes of the character that starts at text[i]: at least 1, never
// past the end of the text. i must be below text.size().
size_t CharLengthAt(std::string_view text, size_t i);
// The code-page-specific halves of that rule, for the decoders: the length of
// a well-formed UTF-8 sequence at text[i] (0 when it is broken or cut off by
// the end), and whether a byte may follow a GBK lead byte.
size_t Utf8SequenceLength(std::string_view text, size_t i);
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
inline bool IsGbkTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// Position of the first occurrence of `needle` (not empty) that starts on a
// character boundary at or after the boundary `from`; npos when none.
size_t FindOnBoundary(std::string_view text, std::string_view needle, size_t from = 0);
// Cuts at every occurrence of `separator` on a boundary; empty pieces count.
// An empty separator gives one piece, the whole text.
std::vector<std::string> SplitOnBoundaries(std::string_view text, std::string_view separator);
// Every occurrence of `from` on a boundary replaced by `to`, left to right;
// an empty `from` changes nothing.
std::string ReplaceOnBoundaries(std::string_view text, std::string_view from,
                                std::string_view to);
// Offset of the last one-byte character equal to c; -1 when there is none.
// A trail byte of a two-byte character is never that character.
long long LastSingleByteIndex(std::string_view text, char c);
// The longest start of the text of at most `limit` bytes that ends on a
// boundary.
std::string_view PrefixOnBoundary(std::string_view text, size_t limit);

// ASCII-only case mapping that steps over multibyte characters whole, so a
// trail byte in the range A-Z or a-z of a GBK character is never changed.
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
void AsciiLowerInPlace(std::string& s);

// A path as scripts write it, with every "\" that is a character of its own
// turned into "/" (a GBK character whose trail byte is 0x5C stays whole).
std::string ForwardSlashes(std::string_view path);

}  // namespace qp
