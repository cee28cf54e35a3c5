// DbValue: one value as a back end delivers it, tagged with the variant type
// numbers that the database layer has always used, and FormatValue, the one
// conversion every value takes on its way to a script. The same value gives
// the same text whichever back end produced it.
#pragma once

#include <cstdint>
#include <string>

namespace qp {

// Variant type tags (the numbers are the classic VT_* values, so that logs and
// peers that speak of them by number still agree).
enum class VariantType : uint16_t {
  Empty = 0,            // no value
  Null = 1,             // SQL NULL
  I2 = 2,               // signed 16-bit
  I4 = 3,               // signed 32-bit
  R4 = 4,               // single precision
  R8 = 5,               // double precision
  Currency = 6,         // 64-bit integer scaled by 10000
  Date = 7,             // calendar date and time of day
  Bstr = 8,             // wide (UTF-16) text
  Bool = 11,            // boolean
  Unknown = 13,         // an object the layer cannot show
  Decimal = 14,         // exact numeric, shown as a double
  I1 = 16,              // signed 8-bit
  UI1 = 17,             // unsigned 8-bit
  UI2 = 18,             // unsigned 16-bit
  UI4 = 19,             // unsigned 32-bit
  I8 = 20,              // signed 64-bit
  UI8 = 21,             // unsigned 64-bit
  Int = 22,             // machine int
  UInt = 23,            // machine unsigned int
  Void = 24,            // raw 32-bit word
  LpStr = 30,           // narrow text, already in the active code page
  LpWStr = 31,          // wide text
  Blob = 65,            // binary data
  BlobObject = 70,      // binary object
  ByteArray = 0x2011,   // array of bytes (binary column)
};

// Calendar fields of a date value, as stored (no time-zone conversion).
struct DbDate {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct DbValue {
  VariantType type = VariantType::Empty;
  int64_t integer = 0;    // signed integer types, Bool, Currency, Void
  uint64_t unsigned_ = 0; // unsigned integer types
  double real = 0;        // R4, R8, Decimal
  DbDate date;            // Date
  std::string text;       // LpStr: bytes in the active code page
  std::u16string wide;    // Bstr, LpWStr

  static DbValue Typed(VariantType t) {
    DbValue value;
    value.type = t;
    return value;
  }
  static DbValue Null() { return Typed(VariantType::Null); }
  static DbValue Signed(VariantType type, int64_t v);
  static DbValue Unsigned(VariantType type, uint64_t v);
  static DbValue Real(VariantType type, double v);
  static DbValue Narrow(std::string bytes);
  static DbValue Wide(std::u16string text);
  static DbValue Boolean(bool v);
  static DbValue DateTime(const DbDate& d);
  static DbValue Binary() { return Typed(VariantType::ByteArray); }
};

// The text of a value in the active code page.
std::string FormatValue(const DbValue& value);

}  // namespace qp
