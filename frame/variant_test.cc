#include "wrenhaven/variant.h"

#include <gtest/gtest.h>

#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

ErrorCode CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  return ErrorCode::kHost;  // no error: never expected by these tests
}

TEST(VariantTextTest, TextFormsOfEveryKind) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant::Null().ToText(), "");
  EXPECT_EQ(Variant::Integer(-32768).ToText(), "-32768");
  EXPECT_EQ(Variant::Long(2147483647).ToText(), "2147483647");
  EXPECT_EQ(Variant::Double(2.5).ToText(), "2.5");
  EXPECT_EQ(Variant::Double(-0.0).ToText(), "0");
  EXPECT_EQ(Variant::Double(999999999999999.0).ToText(), "999999999999999");
  EXPECT_EQ(Variant::String("it's").ToText(), "it's");
  EXPECT_EQ(Variant::Boolean(true).ToText(), "True");
  EXPECT_EQ(Variant::Boolean(false).ToText(), "False");
  EXPECT_EQ(Variant::FromDate(Date::FromParts(2003, 5, 6, 8, 12, 45)).ToText(),
            "2003-05-06 08:12:45");
  EXPECT_EQ(Variant::FromDate(Date::FromParts(2003, 5, 6)).ToText(),
            "2003-05-06");
  EXPECT_EQ(Variant::FromDate(Date{0.5}).ToText(), "12:00:00");
}

TEST(VariantTextTest, ObjectsAndArraysHaveNoTextForm) {
  EXPECT_EQ(CodeOf([] { (void)Variant::Nothing().ToText(); }),
            ErrorCode::kTypeMismatch);
  EXPECT_EQ(
      CodeOf([] { (void)Variant::Array(VariantArray::EmptyGrid()).ToText(); }),
      ErrorCode::kTypeMismatch);
}

TEST(VariantConversionTest, WholeNumbersRoundHalfToEvenAndCheckTheirRange) {
  EXPECT_EQ(Variant::Double(2.5).ToLong(), 2);
  EXPECT_EQ(Variant::Double(3.5).ToLong(), 4);
  EXPECT_EQ(Variant::String(" 42 ").ToLong(), 42);
  EXPECT_EQ(Variant().ToLong(), 0);
  EXPECT_EQ(Variant::Boolean(true).ToLong(), -1);
  EXPECT_EQ(Variant::Long(32768).ToLong(), 32768);
  EXPECT_EQ(Variant::Double(-2147483648.0).ToLong(), INT32_MIN);
  EXPECT_EQ(CodeOf([] { (void)Variant::Double(2147483648.0).ToLong(); }),
            ErrorCode::kOverflow);
  EXPECT_EQ(CodeOf([] { (void)Variant::Long(32768).ToInteger(); }),
            ErrorCode::kOverflow);
  EXPECT_EQ(Variant::Long(-32768).ToInteger(), -32768);
}

TEST(VariantConversionTest, TextThatIsNoNumberIsATypeMismatch) {
  for (const char* text :
       {"", "abc", "1; delete from SYS_Role", "1 2", "0x10", "nan", "inf"}) {
    EXPECT_EQ(CodeOf([&] { (void)Variant::String(text).ToLong(); }),
              ErrorCode::kTypeMismatch)
        << text;
  }
}

TEST(VariantConversionTest, NullWhereAValueIsNeededIsInvalidUseOfNull) {
  const Variant n = Variant::Null();
  EXPECT_EQ(CodeOf([&] { (void)n.ToLong(); }), ErrorCode::kInvalidUseOfNull);
  EXPECT_EQ(CodeOf([&] { (void)n.ToDate(); }), ErrorCode::kInvalidUseOfNull);
  EXPECT_EQ(CodeOf([&] { (void)n.ToBoolean(); }), ErrorCode::kInvalidUseOfNull);
  EXPECT_EQ(CodeOf([&] { (void)n.ToStringStrict(); }),
            ErrorCode::kInvalidUseOfNull);
  try {
    (void)n.ToLong();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid use of Null");
    EXPECT_EQ(CurrentError(), "Invalid use of Null");
  }
}

TEST(VariantConversionTest, EmptyReadAsADateIsTheZeroDate) {
  int y, mo, d, h, mi, s;
  Variant().ToDate().ToParts(&y, &mo, &d, &h, &mi, &s);
  EXPECT_EQ(y, 1899);
  EXPECT_EQ(mo, 12);
  EXPECT_EQ(d, 30);
  EXPECT_EQ(h + mi + s, 0);
}

TEST(VariantConversionTest, DatesFromTextAndSerialNumbers) {
  EXPECT_EQ(Variant::String("2024-02-29 23:59:59").ToDate().ToIso(),
            "2024-02-29 23:59:59");
  EXPECT_EQ(Variant::String("2024-03-01").ToDate().ToIso(),
            "2024-03-01 00:00:00");
  EXPECT_EQ(Variant::Long(2).ToDate().ToIso(), "1900-01-01 00:00:00");
  EXPECT_EQ(CodeOf([] { (void)Variant::String("2023-02-29").ToDate(); }),
            ErrorCode::kTypeMismatch);
  EXPECT_EQ(CodeOf([] { (void)Variant::String("yesterday").ToDate(); }),
            ErrorCode::kTypeMismatch);
}

TEST(VariantConversionTest, TruthValues) {
  EXPECT_TRUE(Variant::String("TRUE").ToBoolean());
  EXPECT_TRUE(Variant::String("true").ToBoolean());
  EXPECT_FALSE(Variant::String("False").ToBoolean());
  EXPECT_TRUE(Variant::String("-1").ToBoolean());
  EXPECT_FALSE(Variant::Long(0).ToBoolean());
  EXPECT_EQ(CodeOf([] { (void)Variant::String("on").ToBoolean(); }),
            ErrorCode::kTypeMismatch);
}

TEST(VariantTest, EqualityComparesKindAndValue) {
  EXPECT_EQ(Variant::Long(1), Variant::Long(1));
  EXPECT_NE(Variant::Long(1), Variant::Integer(1));
  EXPECT_NE(Variant(), Variant::Null());
  EXPECT_NE(Variant(), Variant::String(""));
  VariantArray a = VariantArray::OneDim(0);
  a(0) = Variant::String("x");
  EXPECT_EQ(Variant::Array(a), Variant::Array(a));
  EXPECT_NE(Variant::Array(a), Variant::Array(VariantArray::OneDim(0)));
}

TEST(VariantArrayTest, BoundsAndCellsInStorageOrder) {
  VariantArray a = VariantArray::TwoDim(1, 0);
  a(0, 0) = Variant::Long(1);
  a(1, 0) = Variant::Long(2);
  EXPECT_EQ(a.Dump(), "(0 To 1, 0 To 0) [1] [2]");
  EXPECT_EQ(a.LBound(1), 0);
  EXPECT_EQ(a.UBound(1), 1);
  EXPECT_EQ(a.UBound(2), 0);
  VariantArray b({{-2, -1}, {3, 4}});
  b(-1, 4) = Variant::Null();
  EXPECT_EQ(b.Dump(), "(-2 To -1, 3 To 4) [] [] [] [Null]");
}

TEST(VariantArrayTest, EverySubscriptOutsideTheBoundsFails) {
  VariantArray a = VariantArray::TwoDim(1, 2);
  EXPECT_EQ(CodeOf([&] { (void)a(2, 0); }), ErrorCode::kSubscriptOutOfRange);
  EXPECT_EQ(CodeOf([&] { (void)a(0, 3); }), ErrorCode::kSubscriptOutOfRange);
  EXPECT_EQ(CodeOf([&] { (void)a(-1, 0); }), ErrorCode::kSubscriptOutOfRange);
  EXPECT_EQ(CodeOf([&] { (void)a(0); }), ErrorCode::kSubscriptOutOfRange);
  EXPECT_EQ(CodeOf([&] { (void)a.UBound(3); }),
            ErrorCode::kSubscriptOutOfRange);
}

TEST(VariantArrayTest, EmptyFormsOfTheShapes) {
  const VariantArray grid = VariantArray::EmptyGrid();
  EXPECT_EQ(grid.Dump(), "(0 To 0, 0 To 0) []");
  EXPECT_TRUE(grid(0, 0).is_empty());

  const VariantArray none = VariantArray::Undimensioned();
  EXPECT_EQ(none.Dump(), "()");
  EXPECT_EQ(none.dimensions(), 0);
  try {
    (void)none.UBound(1);
    FAIL() << "an undimensioned array has no bound";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Subscript out of range");
  }
}

TEST(VariantArrayTest, ResizeKeepsTheCellsInsideBothBounds) {
  VariantArray a = VariantArray::TwoDim(2, 1);
  for (int r = 0; r <= 2; ++r) {
    for (int f = 0; f <= 1; ++f) a(r, f) = Variant::Long(r * 10 + f);
  }
  a.Resize({{0, 1}, {0, 2}});
  EXPECT_EQ(a.Dump(), "(0 To 1, 0 To 2) [0] [1] [] [10] [11] []");
}

}  // namespace
}  // namespace wrenhaven
