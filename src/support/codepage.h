// Code pages: every script value is a byte string in one process-wide code
// page (GBK by default, UTF-8 when Config.ini says so). UTF-16 is used only at
// the edges (the regular-expression engine, JavaScript, the desktop).
//
// Conversions go through iconv; the GBK tables are built from iconv once and
// then used directly, so the hot paths (regex matching, page conversion) do not
// pay a library call per character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/characters.h"  // character boundaries

namespace qp {

// Code page numbers as scripts and settings know them.
inline constexpr int kCodePageActive = 0;    // the process-wide code page
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// Chooses the process-wide code page (936 or 65001; anything else is ignored).
// Call once at start-up, before any script thread exists.
void SetActiveCodePage(int codePage);
int ActiveCodePage();
// Reads the "codepage" setting value: "utf-8"/"utf8"/"65001" select UTF-8,
// everything else GBK.
int CodePageFromSetting(std::string_view value);

// Active code page -> UTF-16. Bytes that do not form a character become U+003F.
std::u16string ToWide(std::string_view text);
// The same, also recording for every UTF-16 unit the byte offset at which its
// character starts; offsets gets size()+1 entries, the last one text.size().
std::u16string ToWide(std::string_view text, std::vector<uint32_t>& offsets);
// The same into caller-owned storage, whose capacity is reused (for callers
// that convert large texts again and again).
void ToWide(std::string_view text, std::u16string& wide, std::vector<uint32_t>& offsets);
// UTF-16 -> active code page; characters without a mapping become "?".
std::string FromWide(std::u16string_view text);

// Converts between two code pages (kCodePageActive, 936 or 65001) by way of
// UTF-16; characters without a mapping become the target's default "?".
std::string ConvertCodePage(std::string_view text, int from, int to);

// The same, false when some character had no mapping in the target or some
// bytes formed no character of the source (`out` then holds the "?" form).
bool ConvertCodePageExactly(std::string_view text, int from, int to, std::string& out);

// Shortcuts for the edges: what a person sees is UTF-8.
std::string ActiveToUtf8(std::string_view text);
std::string Utf8ToActive(std::string_view text);

}  // namespace qp
