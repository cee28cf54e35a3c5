#include <gtest/gtest.h>

#include <climits>

#include "db/db_value.h"
#include "db_test_support.h"

namespace qp {
namespace {

using testing::CodePageScope;

struct FormatCase {
  const char* label;
  DbValue value;
  std::string expected;
};

DbValue Date(int y, int mo, int d, int h, int mi, int s) {
  return DbValue::DateTime({y, mo, d, h, mi, s});
}

class FormatValueTable : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatValueTable, GivesTheExpectedText) {
  CodePageScope gbk(kCodePageGbk);
  EXPECT_EQ(FormatValue(GetParam().value), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, FormatValueTable,
    ::testing::Values(
        FormatCase{"empty", DbValue::Typed(VariantType::Empty), ""},
        FormatCase{"null", DbValue::Null(), ""},
        FormatCase{"i2 negative", DbValue::Signed(VariantType::I2, -32768), "-32768"},
        FormatCase{"i4", DbValue::Signed(VariantType::I4, 7), "7"},
        FormatCase{"int", DbValue::Signed(VariantType::Int, -5), "-5"},
        // Whole 64-bit values, not their low 32 bits.
        FormatCase{"i8 large", DbValue::Signed(VariantType::I8, 9000000000LL), "9000000000"},
        FormatCase{"i8 min", DbValue::Signed(VariantType::I8, LLONG_MIN), "-9223372036854775808"},
        // Unsigned values never print negative.
        FormatCase{"ui4 high", DbValue::Unsigned(VariantType::UI4, 2147483648u), "2147483648"},
        FormatCase{"uint max", DbValue::Unsigned(VariantType::UInt, 4294967295u), "4294967295"},
        FormatCase{"ui8 max", DbValue::Unsigned(VariantType::UI8, ULLONG_MAX),
                   "18446744073709551615"},
        FormatCase{"ui1", DbValue::Unsigned(VariantType::UI1, 255), "255"},
        FormatCase{"ui2", DbValue::Unsigned(VariantType::UI2, 65535), "65535"},
        FormatCase{"i1 signed", DbValue::Signed(VariantType::I1, -1), "-1"},
        FormatCase{"r8 whole", DbValue::Real(VariantType::R8, 7), "7.00"},
        FormatCase{"r4 rounds", DbValue::Real(VariantType::R4, 2.5f), "2.50"},
        FormatCase{"r8 negative", DbValue::Real(VariantType::R8, -1234.567), "-1234.57"},
        FormatCase{"decimal", DbValue::Real(VariantType::Decimal, 7.5), "7.50"},
        FormatCase{"currency whole", DbValue::Signed(VariantType::Currency, 120000), "12"},
        FormatCase{"currency fraction", DbValue::Signed(VariantType::Currency, -15000), "-1.5"},
        FormatCase{"currency small", DbValue::Signed(VariantType::Currency, 1), "0.0001"},
        FormatCase{"date", Date(2008, 5, 1, 13, 4, 5), "2008-05-01 13:04:05"},
        FormatCase{"date midnight", Date(1999, 12, 31, 0, 0, 0), "1999-12-31 00:00:00"},
        FormatCase{"leap day", Date(2024, 2, 29, 23, 59, 59), "2024-02-29 23:59:59"},
        FormatCase{"no leap day", Date(2023, 2, 29, 0, 0, 0), "Invalid DateTime"},
        FormatCase{"month zero", Date(2008, 0, 1, 0, 0, 0), "Invalid DateTime"},
        FormatCase{"year too small", Date(99, 1, 1, 0, 0, 0), "Invalid DateTime"},
        FormatCase{"hour 24", Date(2008, 1, 1, 24, 0, 0), "Invalid DateTime"},
        FormatCase{"bool true", DbValue::Boolean(true), "TRUE"},
        FormatCase{"bool false", DbValue::Boolean(false), "FALSE"},
        FormatCase{"bool any nonzero", DbValue::Signed(VariantType::Bool, -1), "TRUE"},
        FormatCase{"unknown", DbValue::Typed(VariantType::Unknown), "UN_KNOWN"},
        FormatCase{"void", DbValue::Signed(VariantType::Void, 0xbeef), "    beef"},
        FormatCase{"blob", DbValue::Typed(VariantType::Blob), "[BLOB]"},
        FormatCase{"blob object", DbValue::Typed(VariantType::BlobObject), "[BLOB]"},
        FormatCase{"byte array", DbValue::Binary(), "[BLOB]"},
        FormatCase{"other type", DbValue::Typed(static_cast<VariantType>(9)), "UN_KNOWN"},
        FormatCase{"narrow verbatim", DbValue::Narrow(std::string("a\0b\xFF", 4)),
                   std::string("a\0b\xFF", 4)},
        FormatCase{"wide to gbk", DbValue::Wide(u"中文测试"), testing::kChineseGbk},
        FormatCase{"wide unmappable", DbValue::Wide(u"\u0e01"), "?"}));

TEST(FormatValue, WideTextFollowsTheActiveCodePage) {
  CodePageScope utf8(kCodePageUtf8);
  EXPECT_EQ(FormatValue(DbValue::Wide(u"中文测试")), testing::kChineseUtf8);
  DbValue lpw = DbValue::Wide(u"x");
  lpw.type = VariantType::LpWStr;
  EXPECT_EQ(FormatValue(lpw), "x");
}

}  // namespace
}  // namespace qp
