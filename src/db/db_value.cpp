#include "db/db_value.h"

#include <cinttypes>
#include <cstdio>

#include "support/codepage.h"

namespace qp {
namespace {

std::string Printf(const char* format, auto... args) {
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, args...);
  big.resize(static_cast<size_t>(n));
  return big;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The range a calendar breakdown accepts: years 100 to 9999 and real dates.
bool IsValidDate(const DbDate& d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  int days = kDays[d.month - 1] + (d.month == 2 && IsLeapYear(d.year) ? 1 : 0);
  if (d.day < 1 || d.day > days) return false;
  return d.hour >= 0 && d.hour < 24 && d.minute >= 0 && d.minute < 60 && d.second >= 0 &&
         d.second < 60;
}

std::string FormatDate(const DbDate& d) {
  if (!IsValidDate(d)) return "Invalid DateTime";
  return Printf("%d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                d.second);
}

// Currency is a count of ten-thousandths; shown as a plain decimal number
// without trailing zeros, as the system's number conversion does.
std::string FormatCurrency(int64_t units) {
  bool negative = units < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string text = Printf("%" PRIu64, magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = Printf("%04" PRIu64, fraction);
    while (digits.back() == '0') digits.pop_back();
    text += '.' + digits;
  }
  return negative ? '-' + text : text;
}

}  // namespace

DbValue DbValue::Signed(VariantType type, int64_t v) {
  DbValue value = Typed(type);
  value.integer = v;
  return value;
}

DbValue DbValue::Unsigned(VariantType type, uint64_t v) {
  DbValue value = Typed(type);
  value.unsigned_ = v;
  return value;
}

DbValue DbValue::Real(VariantType type, double v) {
  DbValue value = Typed(type);
  value.real = v;
  return value;
}

DbValue DbValue::Narrow(std::string bytes) {
  DbValue value = Typed(VariantType::LpStr);
  value.text = std::move(bytes);
  return value;
}

DbValue DbValue::Wide(std::u16string text) {
  DbValue value = Typed(VariantType::Bstr);
  value.wide = std::move(text);
  return value;
}

DbValue DbValue::Boolean(bool v) { return Signed(VariantType::Bool, v ? 1 : 0); }

DbValue DbValue::DateTime(const DbDate& d) {
  DbValue value = Typed(VariantType::Date);
  value.date = d;
  return value;
}

std::string FormatValue(const DbValue& value) {
  switch (value.type) {
    case VariantType::Empty:
    case VariantType::Null:
      return std::string();
    case VariantType::I1:
    case VariantType::I2:
    case VariantType::I4:
    case VariantType::Int:
    case VariantType::I8:
      return Printf("%" PRId64, value.integer);
    case VariantType::UI1:
    case VariantType::UI2:
    case VariantType::UI4:
    case VariantType::UInt:
    case VariantType::UI8:
      return Printf("%" PRIu64, value.unsigned_);
    case VariantType::R4:
    case VariantType::R8:
    case VariantType::Decimal:
      return Printf("%.2f", value.real);
    case VariantType::Currency:
      return FormatCurrency(value.integer);
    case VariantType::Date:
      return FormatDate(value.date);
    case VariantType::Bstr:
    case VariantType::LpWStr:
      return FromWide(value.wide);
    case VariantType::LpStr:
      return value.text;
    case VariantType::Bool:
      return value.integer != 0 ? "TRUE" : "FALSE";
    case VariantType::Void:
      return Printf("%8x", static_cast<unsigned>(static_cast<uint32_t>(value.integer)));
    case VariantType::Blob:
    case VariantType::BlobObject:
    case VariantType::ByteArray:
      return "[BLOB]";
    case VariantType::Unknown:
      break;
  }
  return "UN_KNOWN";
}

}  // namespace qp
