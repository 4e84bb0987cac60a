// Session values written as text and read back, as a store outside the
// process keeps them.
#include "host/session_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

SessionValues RoundTrip(const SessionValues& values) {
  return SessionValuesFromText(SessionValuesToText(values));
}

// Kind and value of one value after the trip (operator== compares kinds).
void ExpectSame(const Variant& v) {
  const SessionValues back = RoundTrip({{"v", v}});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].second, v) << "went in as " << v.Debug();
  EXPECT_EQ(back[0].second.kind(), v.kind()) << v.Debug();
}

TEST(SessionTextTest, EveryKindComesBackAsItWentIn) {
  ExpectSame(Variant());
  ExpectSame(Variant::Null());
  ExpectSame(Variant::Integer(-32768));
  ExpectSame(Variant::Integer(7));
  ExpectSame(Variant::Long(7));
  ExpectSame(Variant::Long(std::numeric_limits<int32_t>::min()));
  ExpectSame(Variant::Double(7));
  ExpectSame(Variant::Double(0.1 + 0.2));
  ExpectSame(Variant::Double(-1e300));
  ExpectSame(Variant::Double(std::numeric_limits<double>::infinity()));
  ExpectSame(Variant::String(""));
  ExpectSame(Variant::String("7"));
  ExpectSame(Variant::String("Ann \"O'Hara\" \\ 张三 \x01 end"));
  ExpectSame(Variant::Boolean(false));
  ExpectSame(Variant::Nothing());
  // A time of day that is not a whole second keeps its exact serial.
  ExpectSame(Variant::FromDate(Date{45123.123456789}));
  ExpectSame(Variant::FromDate(Date::FromParts(2024, 2, 29, 23, 59, 58)));
}

TEST(SessionTextTest, NotANumberStaysADouble) {
  const SessionValues back = RoundTrip(
      {{"nan", Variant::Double(std::numeric_limits<double>::quiet_NaN())}});
  ASSERT_EQ(back[0].second.kind(), Kind::kDouble);
  EXPECT_TRUE(std::isnan(back[0].second.double_value()));
}

TEST(SessionTextTest, ArraysKeepBoundsAndCellKinds) {
  VariantArray grid({{1, 2}, {-1, 1}});
  grid(1, -1) = Variant::Long(1);
  grid(1, 0) = Variant::String("a");
  grid(1, 1) = Variant::Null();
  grid(2, -1) = Variant::Integer(2);
  grid(2, 1) = Variant::Double(2.5);  // (2, 0) stays Empty
  VariantArray inner = VariantArray::OneDim(0);
  inner(0) = Variant::Array(grid);
  ExpectSame(Variant::Array(grid));
  ExpectSame(Variant::Array(inner));
  ExpectSame(Variant::Array(VariantArray::Undimensioned()));
  ExpectSame(Variant::Array(VariantArray({{0, -1}})));  // no cells
  ExpectSame(Variant::Array(VariantArray::EmptyGrid()));

  const Variant back = RoundTrip({{"g", Variant::Array(grid)}})[0].second;
  EXPECT_EQ(back.array().Dump(), grid.Dump());
  EXPECT_EQ(back.array().LBound(2), -1);
  EXPECT_EQ(back.array()(2, 0).kind(), Kind::kEmpty);
}

TEST(SessionTextTest, NamesAndOrderAreKept) {
  const SessionValues values = {{"PersonID", Variant::Long(3)},
                                {"PersonName", Variant::String("Ann")},
                                {"", Variant::Long(0)},
                                {"名字", Variant::String("x")},
                                {"a", Variant::Long(1)}};
  EXPECT_EQ(RoundTrip(values), values);
  EXPECT_TRUE(RoundTrip({}).empty());
}

TEST(SessionTextTest, BytesThatAreNoUtf8TravelUnchanged) {
  // Latin-1 "é", a lone continuation byte, an overlong "/", a surrogate,
  // a truncated sequence, a NUL.
  const std::string odd[] = {"caf\xE9",    "\x80",
                             "\xC0\xAF",   "\xED\xA0\x80",
                             "ab\xE4\xB8", std::string("a\0b", 3)};
  for (const std::string& s : odd) {
    const SessionValues values = {{s, Variant::String(s)}};
    const std::string text = SessionValuesToText(values);
    EXPECT_EQ(SessionValuesFromText(text), values) << text;
  }
}

TEST(SessionTextTest, TextIsPlainAscii) {
  const std::string text =
      SessionValuesToText({{"名字", Variant::String("张三 caf\xC3\xA9")},
                           {"bytes", Variant::String("\xFF\xFE")}});
  for (const char c : text) {
    EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
    EXPECT_GE(static_cast<unsigned char>(c), 0x20) << text;
  }
}

TEST(SessionTextTest, ObjectsCannotBeStored) {
  try {
    SessionValuesToText(
        {{"conn", Variant::FromObject(std::make_shared<Object>())}});
    FAIL() << "an object was written as text";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kHost);
    EXPECT_NE(std::string(e.what()).find("cannot hold an object"),
              std::string::npos)
        << e.what();
  }
}

TEST(SessionTextTest, DamagedTextIsRefusedWithAReason) {
  const char* damaged[] = {
      "",
      "{",
      "{}",
      "[[\"a\"]]",
      "[[1, 2]]",
      "[[\"a\", {\"long\": 2147483648}]]",
      "[[\"a\", {\"int\": 40000}]]",
      "[[\"a\", {\"long\": 1.5}]]",
      "[[\"a\", {\"float\": 1}]]",
      "[[\"a\", {\"long\": 1, \"int\": 1}]]",
      "[[\"a\", 5]]",
      "[[\"a\", {\"bytes\": \"abc\"}]]",
      "[[\"a\", {\"bytes\": \"zz\"}]]",
      "[[\"a\", {\"array\": {\"bounds\": [[0, 1]], \"cells\": [null]}}]]",
      "[[\"a\", {\"array\": {\"bounds\": [[2, 0]], \"cells\": []}}]]",
      "[[\"a\", {\"array\": {\"bounds\": [[0, 2147483647], [0, "
      "2147483647]], \"cells\": []}}]]",
      "[[\"a\", {\"array\": {\"bounds\": [], \"cells\": [null]}}]]",
      "[[\"a\", {\"double\": \"big\"}]]",
  };
  for (const char* text : damaged) {
    try {
      SessionValuesFromText(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kHost) << text;
      EXPECT_EQ(std::string(e.what()).rfind("The stored session values are "
                                            "damaged: ",
                                            0),
                0u)
          << e.what();
    }
  }
}

TEST(KeptTextTest, NoNulAndCutOnACharacterBoundary) {
  EXPECT_EQ(KeptText("abc", 3), "abc");
  EXPECT_EQ(KeptText("abcd", 3), "abc");
  EXPECT_EQ(KeptText(std::string("a\0b", 3), 10), "ab");
  // "é" is two bytes: a cut between them drops the whole character.
  EXPECT_EQ(KeptText("a\xC3\xA9", 2), "a");
  EXPECT_EQ(KeptText("a\xC3\xA9", 3), "a\xC3\xA9");
  EXPECT_EQ(KeptText("\xE4\xB8\xAD\xE6\x96\x87", 5), "\xE4\xB8\xAD");
  EXPECT_EQ(KeptText("", 0), "");
}

}  // namespace
}  // namespace wrenhaven::host
