#include "frame/statement.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "wrenhaven/connection.h"
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

// Statements with their values apart: the text each database is sent when
// the values are written in, and what is refused before anything is sent.

// The error raised, checked for its code and for never showing `hidden`.
std::string Refusal(const std::function<void()>& f, ErrorCode code,
                    const std::string& hidden = "") {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), code) << e.what();
    if (!hidden.empty()) {
      EXPECT_EQ(std::string(e.what()).find(hidden), std::string::npos)
          << e.what();
    }
    return e.what();
  }
  ADD_FAILURE() << "nothing raised";
  return "";
}

std::string Written(std::string_view statement, std::vector<Variant> values) {
  return WithValuesWritten(statement, values);
}

TEST(ValuesApartTest, ValuesAreWrittenAsLiterals) {
  EXPECT_EQ(Written("SELECT a FROM t WHERE k = $1 AND n > $2",
                    {Variant::String("it's"), Variant::Long(7)}),
            "SELECT a FROM t WHERE k = 'it''s' AND n > 7");
  EXPECT_EQ(Written("VALUES ($1, $2, $3, $4, $5)",
                    {Variant::Null(), Variant::Double(1733000000123456.0),
                     Variant::Double(0.1), Variant::Integer(-3),
                     Variant::String("back\\slash")}),
            "VALUES (NULL, 1733000000123456, 0.10000000000000001, (-3), "
            "'back\\slash')");
  EXPECT_EQ(Written("SELECT $1",
                    {Variant::FromDate(Date::FromParts(2024, 5, 1, 8, 30))}),
            "SELECT '2024-05-01 08:30:00'");
  // Past 2^53 a double is no exact whole number: all its digits are kept.
  EXPECT_EQ(Written("SELECT $1", {Variant::Double(1e20)}), "SELECT 1e+20");
}

// A negative number right after a minus sign would start a comment.
TEST(ValuesApartTest, ANegativeNumberCannotTurnIntoAComment) {
  EXPECT_EQ(Written("SELECT 5-$1, x", {Variant::Long(-2)}), "SELECT 5-(-2), x");
}

TEST(ValuesApartTest, AValueCannotEndItsLiteral) {
  const std::string hostile = "x' OR '1'='1";
  EXPECT_EQ(Written("SELECT 1 WHERE a = $1", {Variant::String(hostile)}),
            "SELECT 1 WHERE a = 'x'' OR ''1''=''1'");
  EXPECT_EQ(Written("SELECT $1", {Variant::String("'")}), "SELECT ''''");
  EXPECT_EQ(Written("SELECT $1", {Variant::String("")}), "SELECT ''");
}

// A value's own text is never read for marks, and a mark used twice is
// the same value twice.
TEST(ValuesApartTest, MarksAreReadInTheStatementOnly) {
  EXPECT_EQ(Written("SELECT $1, $2, $1",
                    {Variant::String("$2"), Variant::String("b")}),
            "SELECT '$2', 'b', '$2'");
  EXPECT_EQ(Written("SELECT $10, $9, $1, $2, $3, $4, $5, $6, $7, $8",
                    {Variant::Long(1), Variant::Long(2), Variant::Long(3),
                     Variant::Long(4), Variant::Long(5), Variant::Long(6),
                     Variant::Long(7), Variant::Long(8), Variant::Long(9),
                     Variant::Long(10)}),
            "SELECT 10, 9, 1, 2, 3, 4, 5, 6, 7, 8");
}

TEST(ValuesApartTest, QuotedTextsNamesAndCommentsHoldNoMarks) {
  const std::string text =
      "SELECT '$1', 'it''s $1', \"a$1\", x$1, $1 -- $2\n"
      "/* $3 */ FROM t";
  EXPECT_EQ(Written(text, {Variant::Long(4)}),
            "SELECT '$1', 'it''s $1', \"a$1\", x$1, 4 -- $2\n/* $3 */ FROM t");
  EXPECT_NO_THROW(CheckMarks("SELECT 'open $1", 0));
  EXPECT_EQ(Written("SELECT 1", {}), "SELECT 1");
}

TEST(ValuesApartTest, MarksAndValuesMustAgree) {
  const std::string m1 = Refusal([] { CheckMarks("SELECT $1, $2", 1); },
                                 ErrorCode::kInvalidArgument);
  EXPECT_NE(m1.find("$2"), std::string::npos) << m1;
  const std::string m2 =
      Refusal([] { CheckMarks("SELECT $1", 2); }, ErrorCode::kInvalidArgument);
  EXPECT_NE(m2.find("$2 is missing"), std::string::npos) << m2;
  Refusal([] { CheckMarks("SELECT $1, $3", 3); }, ErrorCode::kInvalidArgument);
  Refusal([] { CheckMarks("SELECT $0", 1); }, ErrorCode::kInvalidArgument);
  Refusal([] { CheckMarks("SELECT $99999999999999999999999", 1); },
          ErrorCode::kInvalidArgument);
  Refusal([] { CheckMarks("SELECT 1", 70000); }, ErrorCode::kInvalidArgument);
  EXPECT_NO_THROW(CheckMarks("SELECT $2, $1, $2", 2));
}

// Only values a literal can stand for; the errors name the mark and the
// kind, never what the value holds.
TEST(ValuesApartTest, ValuesOfOtherKindsAreRefusedUnshown) {
  Refusal([] { ValueOfMark(Variant::Empty(), 1); }, ErrorCode::kTypeMismatch);
  Refusal([] { ValueOfMark(Variant::Boolean(true), 1); },
          ErrorCode::kTypeMismatch);
  Refusal([] { ValueOfMark(Variant::Nothing(), 1); }, ErrorCode::kTypeMismatch);
  Refusal([] { ValueOfMark(Variant::Double(NAN), 1); },
          ErrorCode::kTypeMismatch);
  const std::string m = Refusal(
      [] { ValueOfMark(Variant::String(std::string("se\0cret", 7)), 3); },
      ErrorCode::kInvalidArgument, "se");
  EXPECT_NE(m.find("$3"), std::string::npos) << m;
  EXPECT_EQ(ValueOfMark(Variant::Double(-4.0), 1).form,
            StatementValue::Form::kWhole);
  EXPECT_EQ(ValueOfMark(Variant::Double(-4.0), 1).whole, -4);
  EXPECT_EQ(ValueOfMark(Variant::Double(9007199254740994.0), 1).form,
            StatementValue::Form::kReal);
}

// A connection without values of its own (a test double, a wrapper that
// does not pass them on) is sent the whole text, and nothing at all when
// marks and values disagree.
TEST(ValuesApartTest, TheDefaultSendsTheWholeText) {
  RecordingConnection conn;
  const Variant values[] = {Variant::String("a'b"), Variant::Long(2)};
  conn.ExecuteWith("UPDATE t SET s = $1 WHERE k = $2", values);
  conn.OpenWith("SELECT s FROM t WHERE k = $2 AND s = $1", values,
                CursorType::kForwardOnly);
  EXPECT_EQ(conn.sent, (std::vector<std::string>{
                           "UPDATE t SET s = 'a''b' WHERE k = 2",
                           "SELECT s FROM t WHERE k = 2 AND s = 'a''b'"}));
  EXPECT_EQ(conn.cursors, (std::vector<CursorType>{CursorType::kForwardOnly}));
  Refusal([&] { conn.ExecuteWith("DELETE FROM t WHERE k = $1", {}); },
          ErrorCode::kInvalidArgument);
  Refusal([&] { conn.OpenWith("SELECT $1", values, CursorType::kForwardOnly); },
          ErrorCode::kInvalidArgument);
  EXPECT_EQ(conn.sent.size(), 2u);
}

}  // namespace
}  // namespace wrenhaven
