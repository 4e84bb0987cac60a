#include "db/postgres/postgres_value.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wrenhaven {
namespace {

Variant At(int year, int month, int day, int h = 0, int m = 0, int s = 0) {
  return Variant::FromDate(Date::FromParts(year, month, day, h, m, s));
}

TEST(PostgresValueTest, WholeNumbersAreLongUntilTheyLeave32Bits) {
  EXPECT_EQ(PostgresValue(pgtype::kInt4, "7"), Variant::Long(7));
  EXPECT_EQ(PostgresValue(pgtype::kInt2, "-3"), Variant::Long(-3));
  // count(*) is a 64-bit number on this server.
  EXPECT_EQ(PostgresValue(pgtype::kInt8, "12"), Variant::Long(12));
  EXPECT_EQ(PostgresValue(pgtype::kInt8, "-2147483648"),
            Variant::Long(INT32_MIN));
  EXPECT_EQ(PostgresValue(pgtype::kInt8, "2147483648"),
            Variant::Double(2147483648.0));
  EXPECT_EQ(PostgresValue(pgtype::kInt8, "5000000000"),
            Variant::Double(5000000000.0));
  EXPECT_EQ(PostgresValue(pgtype::kOid, "4294967295"),
            Variant::Double(4294967295.0));
}

TEST(PostgresValueTest, RealAndNumericValuesAreDoubles) {
  EXPECT_EQ(PostgresValue(pgtype::kFloat8, "2.5"), Variant::Double(2.5));
  EXPECT_EQ(PostgresValue(pgtype::kFloat4, "-0.25"), Variant::Double(-0.25));
  EXPECT_EQ(PostgresValue(pgtype::kNumeric, "12.50"), Variant::Double(12.5));
  EXPECT_EQ(PostgresValue(pgtype::kNumeric, "3"), Variant::Double(3.0));
  const Variant inf = PostgresValue(pgtype::kFloat8, "-Infinity");
  ASSERT_EQ(inf.kind(), Kind::kDouble);
  EXPECT_TRUE(std::isinf(inf.double_value()) && inf.double_value() < 0);
  const Variant nan = PostgresValue(pgtype::kNumeric, "NaN");
  ASSERT_EQ(nan.kind(), Kind::kDouble);
  EXPECT_TRUE(std::isnan(nan.double_value()));
  // Beyond the range of a double: kept as the server wrote it.
  EXPECT_EQ(PostgresValue(pgtype::kNumeric, "1e400"), Variant::String("1e400"));
}

TEST(PostgresValueTest, TimestampsAndDatesAreDates) {
  EXPECT_EQ(PostgresValue(pgtype::kTimestamp, "2003-05-06 08:12:45"),
            At(2003, 5, 6, 8, 12, 45));
  // The fraction of a second is dropped, as on the embedded database.
  EXPECT_EQ(PostgresValue(pgtype::kTimestamp, "2003-05-06 08:12:45.987654"),
            At(2003, 5, 6, 8, 12, 45));
  // A zone offset is dropped: the wall-clock time of the session.
  EXPECT_EQ(PostgresValue(pgtype::kTimestampTz, "2003-05-06 08:12:45+02"),
            At(2003, 5, 6, 8, 12, 45));
  EXPECT_EQ(PostgresValue(pgtype::kTimestampTz, "2003-05-06 08:12:45.5-05:30"),
            At(2003, 5, 6, 8, 12, 45));
  EXPECT_EQ(PostgresValue(pgtype::kDate, "1899-12-30"), At(1899, 12, 30));
  EXPECT_EQ(PostgresValue(pgtype::kTime, "23:59:58.25"),
            At(1899, 12, 30, 23, 59, 58));
}

TEST(PostgresValueTest, DatesWithoutACalendarDayStayText) {
  EXPECT_EQ(PostgresValue(pgtype::kTimestamp, "infinity"),
            Variant::String("infinity"));
  EXPECT_EQ(PostgresValue(pgtype::kTimestamp, "0044-03-15 12:00:00 BC"),
            Variant::String("0044-03-15 12:00:00 BC"));
  EXPECT_EQ(PostgresValue(pgtype::kDate, "10000-01-01"),
            Variant::String("10000-01-01"));
}

TEST(PostgresValueTest, TextIsNeverGuessedAt) {
  constexpr unsigned kText = 25;
  constexpr unsigned kUuid = 2950;
  EXPECT_EQ(PostgresValue(kText, "2003-05-06 08:12:45"),
            Variant::String("2003-05-06 08:12:45"));
  EXPECT_EQ(PostgresValue(kText, "42"), Variant::String("42"));
  EXPECT_EQ(PostgresValue(kText, ""), Variant::String(""));
  EXPECT_EQ(PostgresValue(kUuid, "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
            Variant::String("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"));
  EXPECT_EQ(PostgresValue(pgtype::kBool, "t"), Variant::Boolean(true));
  EXPECT_EQ(PostgresValue(pgtype::kBool, "f"), Variant::Boolean(false));
}

}  // namespace
}  // namespace wrenhaven
