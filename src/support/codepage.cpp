#include "support/codepage.h"

#include <iconv.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace qp {
namespace {

std::atomic<int> g_activeCodePage{kCodePageGbk};

constexpr char16_t kReplacement = u'?';

// GBK <-> UTF-16 tables, filled from iconv on first use.
struct GbkTables {
  // Two-byte codes: index (lead << 8 | trail); 0 means "no character".
  std::vector<char16_t> toWide = std::vector<char16_t>(65536, 0);
  // UTF-16 unit -> GBK bytes (one byte < 0x80, else lead << 8 | trail); 0 = none.
  std::vector<uint16_t> fromWide = std::vector<uint16_t>(65536, 0);
};

const GbkTables& Gbk() {
  static const GbkTables* tables = [] {
    auto* t = new GbkTables;
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (!IsGbkTrailByte(static_cast<unsigned char>(trail))) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char out[8];
        char* ip = in;
        char* op = out;
        size_t il = 2, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || ol != 6) continue;
        char16_t w = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                           (static_cast<unsigned char>(out[1]) << 8));
        t->toWide[(lead << 8) | trail] = w;
        if (t->fromWide[w] == 0) t->fromWide[w] = static_cast<uint16_t>((lead << 8) | trail);
      }
    }
    iconv_close(cd);
    for (unsigned c = 1; c < 0x80; ++c) t->fromWide[c] = static_cast<uint16_t>(c);
    return t;
  }();
  return *tables;
}

// Decodes one UTF-8 sequence at text[i]; returns the code point or -1, and the
// number of bytes taken (at least 1).
int32_t DecodeUtf8(std::string_view text, size_t i, size_t& length) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  length = Utf8SequenceLength(text, i);
  if (length == 0) {
    length = 1;
    return -1;
  }
  if (length == 1) return c;
  static constexpr unsigned char kLeadMask[5] = {0, 0, 0x1F, 0x0F, 0x07};
  int32_t cp = c & kLeadMask[length];
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return cp;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int Resolve(int codePage) {
  return codePage == kCodePageActive ? ActiveCodePage() : codePage;
}

// Widens the ASCII bytes at the start of `from` (at most `count`), recording
// their offsets base, base+1, ... when asked; returns how many it took. Pages
// are mostly ASCII, so this is the hot path of every conversion.
size_t WidenAscii(const unsigned char* from, size_t count, char16_t* to, uint32_t* offsets,
                  uint32_t base) {
  size_t k = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i four = _mm_set1_epi32(4);
  __m128i offset = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(base)), _mm_setr_epi32(0, 1, 2, 3));
  for (; k + 16 <= count; k += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k));
    if (_mm_movemask_epi8(bytes)) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k + 8), _mm_unpackhi_epi8(bytes, zero));
    if (!offsets) continue;
    for (size_t j = 0; j < 16; j += 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(offsets + k + j), offset);
      offset = _mm_add_epi32(offset, four);
    }
  }
#endif
  for (; k < count && from[k] < 0x80; ++k) {
    to[k] = from[k];
    if (offsets) offsets[k] = base + static_cast<uint32_t>(k);
  }
  return k;
}

// Writes into storage sized for the worst case (one unit per byte) and trims
// at the end: appending unit by unit costs a call per character.
void DecodeInto(std::string_view text, int codePage, std::u16string& out,
                std::vector<uint32_t>* offsets, bool* lossy = nullptr) {
  out.resize(text.size());
  if (offsets) offsets->resize(text.size() + 1);
  uint32_t* offset = offsets ? offsets->data() : nullptr;
  char16_t* unit = out.data();
  size_t n = 0;
  auto put = [&](char16_t w, size_t at) {
    if (offset) offset[n] = static_cast<uint32_t>(at);
    unit[n++] = w;
  };
  const bool utf8 = Resolve(codePage) == kCodePageUtf8;
  const GbkTables* gbk = utf8 ? nullptr : &Gbk();
  size_t i = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  while (i < text.size()) {
    unsigned char c = bytes[i];
    size_t length = 1;
    if (c < 0x80) {
      length = WidenAscii(bytes + i, text.size() - i, unit + n, offset ? offset + n : nullptr,
                          static_cast<uint32_t>(i));
      n += length;
    } else if (utf8) {
      int32_t cp = DecodeUtf8(text, i, length);
      if (cp < 0) {
        if (lossy) *lossy = true;
        put(kReplacement, i);
      } else if (cp >= 0x10000) {
        cp -= 0x10000;
        put(static_cast<char16_t>(0xD800 + (cp >> 10)), i);
        put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)), i);
      } else {
        put(static_cast<char16_t>(cp), i);
      }
    } else {
      // The boundary rule of characters.h: a lead byte and a trail-range
      // byte are one character even when the pair has no mapping.
      char16_t w = c == 0x80 ? u'\u20AC' : 0;
      if (IsGbkLeadByte(c) && i + 1 < text.size() &&
          IsGbkTrailByte(static_cast<unsigned char>(text[i + 1]))) {
        w = gbk->toWide[(c << 8) | static_cast<unsigned char>(text[i + 1])];
        length = 2;
      }
      if (!w && lossy) *lossy = true;
      put(w ? w : kReplacement, i);
    }
    i += length;
  }
  out.resize(n);
  if (offsets) {
    offsets->resize(n + 1);
    (*offsets)[n] = static_cast<uint32_t>(text.size());
  }
}

std::u16string Decode(std::string_view text, int codePage, std::vector<uint32_t>* offsets) {
  std::u16string out;
  DecodeInto(text, codePage, out, offsets);
  return out;
}

std::string Encode(std::u16string_view text, int codePage, bool* lossy = nullptr) {
  std::string out;
  out.reserve(text.size() * 2);
  const bool utf8 = Resolve(codePage) == kCodePageUtf8;
  const GbkTables* gbk = utf8 ? nullptr : &Gbk();
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t w = text[i];
    if (w < 0x80) {
      out += static_cast<char>(w);
      continue;
    }
    if (utf8) {
      uint32_t cp = w;
      if (w >= 0xD800 && w <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((w - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else if (w >= 0xD800 && w <= 0xDFFF) {
        if (lossy) *lossy = true;
        out += '?';
        continue;
      }
      AppendUtf8(out, cp);
      continue;
    }
    if (w == 0x20AC) {
      out += static_cast<char>(0x80);
      continue;
    }
    uint16_t code = gbk->fromWide[w];
    if (code == 0) {
      if (lossy) *lossy = true;
      out += '?';
      if (w >= 0xD800 && w <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF)
        ++i;  // one "?" for a whole surrogate pair
    } else {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    }
  }
  return out;
}

}  // namespace

void SetActiveCodePage(int codePage) {
  if (codePage == kCodePageGbk || codePage == kCodePageUtf8) g_activeCodePage = codePage;
}

int ActiveCodePage() { return g_activeCodePage.load(std::memory_order_relaxed); }

int CodePageFromSetting(std::string_view value) {
  std::string v;
  for (char c : value) v += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return (v == "utf-8" || v == "utf8" || v == "65001") ? kCodePageUtf8 : kCodePageGbk;
}

std::u16string ToWide(std::string_view text) { return Decode(text, kCodePageActive, nullptr); }

std::u16string ToWide(std::string_view text, std::vector<uint32_t>& offsets) {
  return Decode(text, kCodePageActive, &offsets);
}

void ToWide(std::string_view text, std::u16string& wide, std::vector<uint32_t>& offsets) {
  DecodeInto(text, kCodePageActive, wide, &offsets);
}

std::string FromWide(std::u16string_view text) { return Encode(text, kCodePageActive); }

std::string ConvertCodePage(std::string_view text, int from, int to) {
  // Always a round trip, even between equal code pages, so that invalid
  // sequences come out as the default character in every case.
  return Encode(Decode(text, from, nullptr), to);
}

bool ConvertCodePageExactly(std::string_view text, int from, int to, std::string& out) {
  bool lossy = false;
  std::u16string wide;
  DecodeInto(text, from, wide, nullptr, &lossy);
  out = Encode(wide, to, &lossy);
  return !lossy;
}

std::string ActiveToUtf8(std::string_view text) {
  if (ActiveCodePage() == kCodePageUtf8) return std::string(text);
  return ConvertCodePage(text, kCodePageActive, kCodePageUtf8);
}

std::string Utf8ToActive(std::string_view text) {
  if (ActiveCodePage() == kCodePageUtf8) return std::string(text);
  return ConvertCodePage(text, kCodePageUtf8, kCodePageActive);
}

}  // namespace qp
