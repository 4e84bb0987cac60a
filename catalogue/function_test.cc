#include "wrenhaven/function.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

using Texts = std::vector<std::string>;
Variant S(const char* text) { return Variant::String(text); }
Variant L(int32_t v) { return Variant::Long(v); }

// The description of the error a call raises; "" when it raises none.
std::string FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

struct Recorded {
  std::shared_ptr<RecordingConnection> rec =
      std::make_shared<RecordingConnection>();
  Function fun;
  Recorded() { fun.SetConn(rec); }
};

const std::string kInsert =
    "Insert into SYS_Function "
    "(FunName,FunMemo,FunType,FunOrder,FunClass,FunUrl) values(";

TEST(FunctionStatementTest, InsertTurnsEveryEmptyBareValueIntoNull) {
  Recorded r;
  EXPECT_TRUE(r.fun.AddData(S("Mail"), S("in"), L(1), S("20"), S("C"), S("u")));
  r.fun.AddData(S("Mail"), Variant(), Variant(), L(4), S("C"), S("u"));
  r.fun.AddData(S("Mail"), S(""), S("3"), Variant::Null(), S("C"), S("u"));
  // Side by side, both become null: no ",," is left for the database.
  r.fun.AddData(S("Mail"), S(""), S(""), Variant(), S("C"), S("u"));
  EXPECT_EQ(r.rec->sent, (Texts{kInsert + "'Mail','in',1,20,'C','u')",
                                kInsert + "'Mail','',NULL,4,'C','u')",
                                kInsert + "'Mail','',3,NULL,'C','u')",
                                kInsert + "'Mail','',NULL,NULL,'C','u')"}));
}

TEST(FunctionStatementTest, UpdateDeleteAndReadsUseTheReferenceTexts) {
  Recorded r;
  EXPECT_TRUE(
      r.fun.UpdateData(L(7), S("N"), S("m"), L(2), S("-3"), S("C"), S("u")));
  r.fun.UpdateData(S("7"), S("N"), S("m"), Variant(), L(3), S("C"), S("u"));
  r.fun.UpdateData(L(7), S("N"), S("m"), S(""), Variant::Null(), S("C"),
                   S("u"));
  EXPECT_TRUE(r.fun.DelData(L(9)));
  r.fun.GetAllData();
  r.fun.GetPageData(L(2), L(1));
  r.fun.GetData(-3);
  r.fun.GetData(40000);  // identifiers are not cut to 16 bits
  const std::string set = "update SYS_Function set FunName='N',FunMemo='m',";
  const std::string tail = ",FunClass='C',FunUrl='u' where FunID=7";
  EXPECT_EQ(r.rec->sent, (Texts{
                             set + "FunType=2,FunOrder=-3" + tail,
                             set + "FunType=null,FunOrder=3" + tail,
                             set + "FunType=null,FunOrder=null" + tail,
                             "Delete from SYS_Function where FunID=9",
                             "Select * from SYS_Function order by FunClass",
                             "Select * from SYS_Function order by FunClass",
                             "Select * From SYS_Function Where FunID=-3",
                             "Select * From SYS_Function Where FunID=40000",
                         }));
  EXPECT_EQ(r.rec->cursors, std::vector<CursorType>(4, CursorType::kStatic));
}

TEST(FunctionSafetyTest, QuotesAreDoubledAndMarkersInsideTextsStayAsTyped) {
  Recorded r;
  r.fun.AddData(S("O'Brien"), S("a,,b (, c ,)"), L(1), L(2), S("x = where"),
                S("p.asp?a=(,)"));
  r.fun.UpdateData(L(1), S("it's"), S("=,"), L(1), L(2), S("= where"),
                   S("',FunUrl='x"));
  EXPECT_EQ(r.rec->sent,
            (Texts{kInsert + "'O''Brien','a,,b (, c ,)',1,2,'x = where',"
                             "'p.asp?a=(,)')",
                   "update SYS_Function set FunName='it''s',FunMemo='=,',"
                   "FunType=1,FunOrder=2,FunClass='= where',"
                   "FunUrl=''',FunUrl=''x' where FunID=1"}));
}

TEST(FunctionSafetyTest, BadBareValuesAndEmptyIdsRaiseBeforeAnythingIsSent) {
  Recorded r;
  const Variant attack = S("1; delete from SYS_Role");
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"FunType must be a number",
       [&] { r.fun.AddData(S("a"), S(""), attack, L(1), S("c"), S("d")); }},
      {"FunOrder must be a number",
       [&] { r.fun.AddData(S("a"), S(""), L(1), S("1,2"), S("c"), S("d")); }},
      {"FunOrder must be a number",
       [&] {
         r.fun.UpdateData(L(1), S("a"), S(""), L(1), Variant::Boolean(true),
                          S("c"), S("d"));
       }},
      {"ID must be a number", [&] { r.fun.DelData(attack); }},
      {"ID must be a number",
       [&] {
         r.fun.UpdateData(S("1 or 1=1"), S("a"), S(""), L(1), L(1), S("c"),
                          S("d"));
       }},
      {"ID is empty", [&] { r.fun.DelData(S("")); }},
      {"ID is empty",
       [&] {
         r.fun.UpdateData(Variant(), S("a"), S(""), L(1), L(1), S("c"), S("d"));
       }},
      {"ID is Null", [&] { r.fun.DelData(Variant::Null()); }},
  };
  for (const auto& [start, call] : calls) {
    const std::string failure = FailureOf(call);
    EXPECT_EQ(failure.rfind(start, 0), 0u) << failure;
    EXPECT_EQ(r.fun.GetError(), failure);
  }
  EXPECT_TRUE(r.rec->sent.empty());
}

// --- Behaviour over a real database -------------------------------------

class FunctionTest : public ::testing::TestWithParam<std::string> {};

// Five functions whose classes C1 .. C5 are added out of order.
void AddFive(Function& fun) {
  for (const char* cls : {"C3", "C1", "C5", "C2", "C4"}) {
    fun.AddData(Variant::String(std::string("F") + cls), S(""), L(1), L(1),
                Variant::String(cls), S("u"));
  }
}

TEST_P(FunctionTest, AddStoresNullsForEmptyNumbersAndTextsAsTyped) {
  TestDb db(GetParam(), /*demo=*/false);
  Function fun;
  fun.SetConn(db.conn());
  EXPECT_TRUE(fun.AddData(S("Mail"), S(""), S(""), L(5), S("C"), S("m.asp")));
  EXPECT_TRUE(fun.AddData(S("O'Neil"), S("it's (, ,) ,, = where"), Variant(),
                          S(""), S("C"), S("go.asp?x=(,)")));
  EXPECT_EQ(fun.GetData(1).Dump(),
            "(0 To 6) [1] [Mail] [] [Null] [5] [C] "
            "[m.asp]");
  EXPECT_EQ(fun.GetData(1)(2), S(""));  // a quoted empty memo is no null
  EXPECT_EQ(fun.GetData(2).Dump(),
            "(0 To 6) [2] [O'Neil] [it's (, ,) ,, = where] [Null] [Null] [C] "
            "[go.asp?x=(,)]");
  EXPECT_TRUE(fun.GetData(3).undimensioned());
}

TEST_P(FunctionTest, UpdateAndDeleteTouchOneRow) {
  TestDb db(GetParam(), /*demo=*/false);
  Function fun;
  fun.SetConn(db.conn());
  fun.AddData(S("A"), S("a"), L(1), L(2), S("C1"), S("a.asp"));
  fun.AddData(S("B"), S("b"), L(3), L(4), S("C2"), S("b.asp"));
  EXPECT_TRUE(fun.UpdateData(L(1), S("A2"), S("a2"), S(""), Variant(), S("C9"),
                             S("a2.asp")));
  EXPECT_EQ(fun.GetData(1).Dump(),
            "(0 To 6) [1] [A2] [a2] [Null] [Null] [C9] [a2.asp]");
  EXPECT_EQ(fun.GetData(2).Dump(), "(0 To 6) [2] [B] [b] [3] [4] [C2] [b.asp]");
  // No row with that identifier: no failure, nothing changed.
  EXPECT_TRUE(fun.UpdateData(L(99), S("Z"), S(""), L(1), L(1), S("Z"), S("")));
  EXPECT_TRUE(fun.DelData(L(99)));
  EXPECT_TRUE(fun.DelData(S("2")));
  EXPECT_EQ(db.Scalar("select FunName from SYS_Function"), S("A2"));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_Function"), L(1));
}

TEST_P(FunctionTest, AllDataIsTitledAndSortedByClass) {
  TestDb db(GetParam(), /*demo=*/false);
  Function fun;
  fun.SetConn(db.conn());
  // Names come back in the letter case the database keeps them in.
  auto lower = [](std::string text) {
    for (char& c : text)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string names =
      "[funid] [funname] [funmemo] [funtype] [funorder] [funclass] [funurl]";
  EXPECT_EQ(lower(fun.GetAllData().Dump()), "(0 to 0, 0 to 6) " + names);
  fun.AddData(S("One"), S("m"), L(1), L(2), S("C"), S("o.asp"));
  EXPECT_EQ(lower(fun.GetAllData().Dump()),
            "(0 to 1, 0 to 6) " + names + " [1] [one] [m] [1] [2] [c] [o.asp]");
  fun.DelData(L(1));
  AddFive(fun);
  const VariantArray all = fun.GetAllData();
  ASSERT_EQ(all.UBound(1), 5);
  for (int32_t r = 1; r <= 5; ++r) {
    EXPECT_EQ(all(r, 5), Variant::String("C" + std::to_string(r)));
  }
}

// Both catalogues page their listing alike, each by its class column:
// FunClass is column 5 of a function, RoleClass column 4 of a role.
TEST_P(FunctionTest, BothCataloguesCutTheirSortedListingIntoPages) {
  TestDb db(GetParam(), /*demo=*/false);
  const struct {
    const char* progid;
    int class_column;
    std::function<std::vector<Variant>(const char*)> add;
  } catalogues[] = {
      {"Wrenhaven.Function", 5,
       [](const char* cls) {
         return std::vector<Variant>{S("F"), S(""), L(1), L(1), S(cls), S("u")};
       }},
      {"Wrenhaven.Role", 4,
       [](const char* cls) {
         return std::vector<Variant>{S("R"), Variant(), S("1"), S(cls), S("")};
       }},
  };
  for (const auto& c : catalogues) {
    SCOPED_TRACE(c.progid);
    auto obj = CreateObject(c.progid);
    std::vector<Variant> conn = {Variant::FromObject(db.conn())};
    obj->Invoke("SetConn", conn);
    auto page = [&](const Variant& size, const Variant& number) {
      std::vector<Variant> args = {size, number};
      return obj->Invoke("GetPageData", args).array();
    };
    EXPECT_TRUE(page(L(2), L(1)).undimensioned());
    for (const char* cls : {"C3", "C1", "C5", "C2", "C4"}) {
      std::vector<Variant> args = c.add(cls);
      obj->Invoke("AddData", args);
    }
    const Texts pages = {"[C1] [C2]", "[C3] [C4]", "[C5]"};
    for (int32_t p = 1; p <= 3; ++p) {
      const VariantArray rows = page(L(2), L(p));
      ASSERT_EQ(rows.dimensions(), 2);
      EXPECT_EQ(rows.UBound(2), c.class_column == 5 ? 6 : 5);
      std::string classes;
      for (int32_t r = 0; r <= rows.UBound(1); ++r) {
        classes += (r ? " [" : "[") + rows(r, c.class_column).ToText() + "]";
      }
      EXPECT_EQ(classes, pages[static_cast<size_t>(p - 1)]);
    }
    EXPECT_EQ(page(S("5"), S("1")).UBound(1), 4);  // as a form sends them
    for (const auto& [size, number] :
         std::vector<std::pair<Variant, Variant>>{{L(2), L(0)},
                                                  {L(2), L(4)},
                                                  {L(0), L(1)},
                                                  {S("two"), L(1)},
                                                  {Variant::Null(), L(1)}}) {
      const std::string failure = FailureOf([&] { page(size, number); });
      EXPECT_NE(failure, "") << size.Debug() << " " << number.Debug();
      std::vector<Variant> none;
      EXPECT_EQ(obj->Invoke("GetError", none), S(failure.c_str()));
    }
    db.Exec(c.class_column == 5 ? "delete from SYS_Function"
                                : "delete from SYS_Role");
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, FunctionTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven
