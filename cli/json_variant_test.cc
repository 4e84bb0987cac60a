#include "cli/json_variant.h"

#include <gtest/gtest.h>

namespace wrenhaven::cli {
namespace {

TEST(JsonVariantTest, ScalarForms) {
  EXPECT_EQ(ToJson(Variant()).dump(), R"({"type":"empty"})");
  EXPECT_EQ(ToJson(Variant::Null()).dump(), "null");
  EXPECT_EQ(ToJson(Variant::Integer(-3)).dump(), "-3");
  EXPECT_EQ(ToJson(Variant::Long(7)).dump(), "7");
  EXPECT_EQ(ToJson(Variant::Double(2.5)).dump(), "2.5");
  EXPECT_EQ(ToJson(Variant::String("登陆")).dump(), "\"登陆\"");
  EXPECT_EQ(ToJson(Variant::Boolean(true)).dump(), "true");
  EXPECT_EQ(
      ToJson(Variant::FromDate(Date::FromParts(2003, 5, 6, 8, 12, 45))).dump(),
      R"({"type":"date","value":"2003-05-06 08:12:45"})");
  EXPECT_EQ(ToJson(Variant::Nothing()).dump(), R"({"type":"object"})");
}

TEST(JsonVariantTest, ArraysNestByTheFirstIndex) {
  VariantArray a = VariantArray::TwoDim(1, 2);
  a(0, 0) = Variant::Long(1);
  a(1, 2) = Variant::String("z");
  EXPECT_EQ(
      ToJson(Variant::Array(a)).dump(),
      R"({"type":"array","bounds":[[0,1],[0,2]],"cells":[[1,{"type":"empty"},{"type":"empty"}],[{"type":"empty"},{"type":"empty"},"z"]]})");
  EXPECT_EQ(ToJson(Variant::Array(VariantArray::Undimensioned())).dump(),
            R"({"type":"array","bounds":[],"cells":[]})");
}

TEST(JsonVariantTest, EveryFormReadsBackAsItWasWritten) {
  VariantArray a({{1, 2}});
  a(2) = Variant::FromDate(Date::FromParts(2020, 2, 29, 1, 2, 3));
  for (const Variant& v :
       {Variant(), Variant::Null(), Variant::Long(-5), Variant::Double(0.25),
        Variant::String("x"), Variant::Boolean(false), Variant::Array(a),
        Variant::Array(VariantArray::Undimensioned())}) {
    auto back = FromJson(ToJson(v));
    ASSERT_TRUE(back.has_value()) << v.Debug();
    EXPECT_EQ(*back, v) << v.Debug();
  }
}

TEST(JsonVariantTest, ArgumentsAreJsonWhereTheyParseAndTextOtherwise) {
  EXPECT_EQ(ParseArgument("5"), Variant::Long(5));
  EXPECT_EQ(ParseArgument("5000000000"), Variant::Double(5e9));
  EXPECT_EQ(ParseArgument("\"5\""), Variant::String("5"));
  EXPECT_EQ(ParseArgument("ann"), Variant::String("ann"));
  EXPECT_EQ(ParseArgument("null"), Variant::Null());
  EXPECT_EQ(ParseArgument("{\"type\":\"empty\"}"), Variant());
  EXPECT_EQ(ParseArgument("[1,2]"), Variant::String("[1,2]"));
  EXPECT_EQ(ParseArgument(""), Variant::String(""));
  EXPECT_EQ(ParseArgument("{\"type\":\"date\",\"value\":\"2024-13-01\"}"),
            Variant::String("{\"type\":\"date\",\"value\":\"2024-13-01\"}"));
}

TEST(JsonVariantTest, MalformedArraysAreRejected) {
  EXPECT_FALSE(FromJson(
      Json::parse(R"({"type":"array","bounds":[[0,1]],"cells":[1]})")));
  EXPECT_FALSE(
      FromJson(Json::parse(R"({"type":"array","bounds":[[0]],"cells":[]})")));
  EXPECT_FALSE(FromJson(
      Json::parse(R"({"type":"array","bounds":[[0,0]],"cells":[[1]]})")));
}

}  // namespace
}  // namespace wrenhaven::cli
