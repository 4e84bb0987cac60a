#include "frame/statement.h"

#include <gtest/gtest.h>

#include <array>

#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

constexpr std::array<NullMarker, 3> kInsertPairs = {
    {{",,", ",NULL,"}, {"(,", "(NULL,"}, {",)", ",NUll)"}}};
constexpr std::array<NullMarker, 2> kUpdatePairs = {
    {{"=,", "=null,"}, {"= where", "= null where"}}};

std::string InsertFunction(const Variant& name, const Variant& memo,
                           const Variant& type, const Variant& order) {
  Statement s;
  s.Text("values('").Quoted(name).Text("','").Quoted(memo).Text("',");
  s.Bare(type, "FunType").Text(",").Bare(order, "FunOrder").Text(",'x')");
  return s.Finish(kInsertPairs);
}

TEST(StatementTest, ValuesWithoutQuotesJoinAsTheyAre) {
  EXPECT_EQ(InsertFunction(Variant::String("Mail"), Variant::String("Inbox"),
                           Variant::Long(1), Variant::String("2")),
            "values('Mail','Inbox',1,2,'x')");
}

TEST(StatementTest, QuotesInTextValuesAreDoubled) {
  EXPECT_EQ(InsertFunction(Variant::String("O'Brien's"), Variant::String("'"),
                           Variant::Long(1), Variant::Long(2)),
            "values('O''Brien''s','''',1,2,'x')");
}

TEST(StatementTest, AnEmptyBareValueBecomesNull) {
  EXPECT_EQ(InsertFunction(Variant::String("a"), Variant::String("b"),
                           Variant(), Variant::Long(2)),
            "values('a','b',NULL,2,'x')");
  EXPECT_EQ(InsertFunction(Variant::String("a"), Variant::String("b"),
                           Variant::Long(1), Variant::Null()),
            "values('a','b',1,NULL,'x')");
}

TEST(StatementTest, TwoEmptyBareValuesSideBySideBothBecomeNull) {
  EXPECT_EQ(InsertFunction(Variant::String("a"), Variant::String("b"),
                           Variant::String(""), Variant()),
            "values('a','b',NULL,NULL,'x')");
}

TEST(StatementTest, MarkersInsideTextValuesAreLeftAlone) {
  EXPECT_EQ(InsertFunction(Variant::String("(,"), Variant::String("a,,b ,)"),
                           Variant(), Variant::Long(2)),
            "values('(,','a,,b ,)',NULL,2,'x')");
  Statement s;
  s.Text("update T set A='")
      .Quoted(Variant::String("x= where y=,"))
      .Text("',B=")
      .Bare(Variant(), "B")
      .Text(" where ID=")
      .Bare(Variant::Long(5), "ID");
  EXPECT_EQ(s.Finish(kUpdatePairs),
            "update T set A='x= where y=,',B= null where ID=5");
}

TEST(StatementTest, MenuInsertWithBothLeadingValuesEmpty) {
  constexpr std::array<NullMarker, 3> pairs = {
      {{",,", ",null,"}, {"(,", "(null,"}, {",)", ",NUll)"}}};
  Statement s;
  s.Text("values(")
      .Bare(Variant(), "FunID")
      .Text(",")
      .Bare(Variant(), "MenuParentID");
  s.Text(",'").Quoted(Variant::String("Mail")).Text("')");
  EXPECT_EQ(s.Finish(pairs), "values(null,null,'Mail')");
}

TEST(StatementTest, BareValuesMustBeNumbers) {
  for (const Variant& bad :
       {Variant::String("1; delete from SYS_Role"), Variant::String("1 "),
        Variant::String("abc"), Variant::String("--"), Variant::Boolean(true),
        Variant::FromDate(Date{1}), Variant::String("1e"),
        Variant::String(".")}) {
    Statement s;
    s.Text("Delete from SYS_Role where RoleID=");
    try {
      s.Bare(bad, "ID");
      FAIL() << bad.Debug() << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kTypeMismatch);
      EXPECT_NE(std::string(e.what()).find("ID must be a number or empty"),
                std::string::npos)
          << e.what();
    }
  }
  for (const char* ok : {"5", "-3", "+7", "2.5", "1e3", ".5", "5."}) {
    EXPECT_TRUE(IsNumberText(ok)) << ok;
  }
}

TEST(StatementTest, QuotedValuesWithANulAreRefused) {
  for (const std::string& bad :
       {std::string("Sal\0es", 6), std::string("\0", 1),
        std::string("x'\0", 3)}) {
    Statement s;
    s.Text("values('");
    try {
      s.Quoted(Variant::String(bad));
      FAIL() << "a value with a NUL was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_STREQ(e.what(), "A text value must not contain a NUL character");
    }
  }
}

TEST(StatementTest, WithoutPairsEmptyBareValuesStayEmpty) {
  Statement s;
  s.Text("Delete from SYS_Menu where MenuID=").Bare(Variant(), "ID");
  EXPECT_EQ(s.Finish(), "Delete from SYS_Menu where MenuID=");
}

}  // namespace
}  // namespace wrenhaven
