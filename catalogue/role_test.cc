#include "wrenhaven/role.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/function.h"

namespace wrenhaven {
namespace {

using Texts = std::vector<std::string>;
Variant S(const char* text) { return Variant::String(text); }
Variant L(int32_t v) { return Variant::Long(v); }
const Variant kNull = Variant::Null();

// The description of the error a call raises; "" when it raises none.
std::string FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

// A role and a function, each on a connection of its own that records.
struct Recorded {
  std::shared_ptr<RecordingConnection> rec =
      std::make_shared<RecordingConnection>();
  std::shared_ptr<RecordingConnection> fun_rec =
      std::make_shared<RecordingConnection>();
  Role role;
  Function fun;
  Recorded() {
    role.SetConn(rec);
    fun.SetConn(fun_rec);
  }
};

const std::string kInsert =
    "insert SYS_Role(RoleName,RoleParentID,roleLevel,roleClass,roleMemo) "
    "values(";

// Three fields, `rows` rows: 1 n1 c, 2 n2 c, ...
RecordingConnection::Result Rows(int rows) {
  RecordingConnection::Result r{{"ID", "Name", "Class"}, {}};
  for (int i = 1; i <= rows; ++i) {
    r.rows.push_back({L(i), Variant::String("n" + std::to_string(i)), S("c")});
  }
  return r;
}

// --- Where the role catalogue differs from the function catalogue -------

TEST(RoleDifferenceTest, InsertHasNoIntoAndItsOwnMarkers) {
  Recorded r;
  EXPECT_TRUE(r.role.AddData(S("Admin"), L(3), S("1"), S("A"), S("all")));
  r.role.AddData(S("Guest"), Variant(), S(""), S("B"), S(""));
  r.role.AddData(S("Guest"), kNull, L(2), S("B"), S("m = where"));
  EXPECT_EQ(r.rec->sent,
            (Texts{kInsert + "'Admin',3,'1','A','all')",
                   kInsert + "'Guest',null,'','B','')",
                   kInsert + "'Guest',null,'2','B','m = where')"}));
  r.fun.AddData(S("a"), S("b"), Variant(), L(1), S("c"), S("d"));
  EXPECT_EQ(r.fun_rec->sent[0].substr(0, 26), "Insert into SYS_Function (");
  EXPECT_NE(r.fun_rec->sent[0].find("'b',NULL,1"), std::string::npos);
}

TEST(RoleDifferenceTest, UpdateOrdersNameMemoParentLevelClass) {
  Recorded r;
  EXPECT_TRUE(
      r.role.UpdateData(L(5), S("N"), L(2), S("lvl"), S("cls"), S("memo")));
  r.role.UpdateData(S("5"), S("N"), Variant(), S("lvl"), S("cls"), S("memo"));
  r.role.UpdateData(Variant::Integer(5), S("N"), S(""), S("lvl"), S("cls"),
                    S("memo"));
  const std::string set = "update SYS_Role set RoleName='N',RoleMemo='memo',";
  const std::string tail = ",RoleLevel='lvl',RoleClass='cls' where RoleID=5";
  EXPECT_EQ(r.rec->sent, (Texts{set + "RoleParentID=2" + tail,
                                set + "RoleParentID=null" + tail,
                                set + "RoleParentID=null" + tail}));
}

TEST(RoleDifferenceTest, UpdateFailsOnANullParentOrIdWhereFunctionStoresNull) {
  Recorded r;
  const std::string parent = FailureOf(
      [&] { r.role.UpdateData(L(1), S("a"), kNull, S("l"), S("c"), S("m")); });
  EXPECT_EQ(parent, "Invalid use of Null: RoleParentID is Null");
  EXPECT_EQ(r.role.GetError(), parent);
  EXPECT_EQ(FailureOf([&] {
              r.role.UpdateData(kNull, S("a"), L(1), S("l"), S("c"), S("m"));
            }),
            "Invalid use of Null: ID is Null");
  // The parent is taken first.
  EXPECT_EQ(FailureOf([&] {
              r.role.UpdateData(kNull, S("a"), kNull, S("l"), S("c"), S("m"));
            }),
            parent);
  EXPECT_TRUE(r.rec->sent.empty());

  EXPECT_TRUE(
      r.fun.UpdateData(L(1), S("N"), S("M"), kNull, L(3), S("C"), S("U")));
  EXPECT_NE(r.fun_rec->sent[0].find("FunType=null,"), std::string::npos);
}

TEST(RoleDifferenceTest, AllDataAndGetDataAreFieldFirstWithTheEmptyGrid) {
  Recorded r;
  for (auto* rec : {r.rec.get(), r.fun_rec.get()}) {
    rec->Queue(Rows(2));
    rec->Queue(Rows(0));
    rec->Queue(Rows(2));
    rec->Queue(Rows(0));
  }
  const std::string two = "(0 To 2, 0 To 1) [1] [2] [n1] [n2] [c] [c]";
  EXPECT_EQ(r.role.GetAllData().Dump(), two);
  EXPECT_EQ(r.role.GetAllData(), VariantArray::EmptyGrid());
  EXPECT_EQ(r.role.GetData(1).Dump(), two);
  EXPECT_EQ(r.role.GetData(1), VariantArray::EmptyGrid());

  EXPECT_EQ(r.fun.GetAllData().Dump(),
            "(0 To 2, 0 To 2) [ID] [Name] [Class] [1] [n1] [c] [2] [n2] [c]");
  EXPECT_EQ(r.fun.GetAllData().Dump(), "(0 To 0, 0 To 2) [ID] [Name] [Class]");
  EXPECT_EQ(r.fun.GetData(1).Dump(), "(0 To 2) [1] [n1] [c]");
  EXPECT_TRUE(r.fun.GetData(1).undimensioned());
}

TEST(RoleDifferenceTest, PageListingHasOneBlankMoreThanAllData) {
  Recorded r;
  EXPECT_TRUE(r.role.DelData(L(4)));
  r.role.GetAllData();
  r.role.GetPageData(L(2), L(1));
  r.role.GetData(4);
  r.role.GetData(-70000);
  EXPECT_EQ(r.rec->sent, (Texts{"Delete from SYS_Role where RoleID=4",
                                "Select * from SYS_Role order by RoleClass",
                                "Select * from SYS_Role order by  RoleClass",
                                "Select * From SYS_Role Where RoleID=4",
                                "Select * From SYS_Role Where RoleID=-70000"}));
  EXPECT_EQ(r.rec->cursors, std::vector<CursorType>(4, CursorType::kStatic));
  r.fun.GetAllData();
  r.fun.GetPageData(L(2), L(1));
  EXPECT_EQ(r.fun_rec->sent[0], r.fun_rec->sent[1]);
}

// --- Values that must not change the statement --------------------------

TEST(RoleSafetyTest, QuotesAreDoubledAndMarkersInsideTextsStayAsTyped) {
  Recorded r;
  r.role.AddData(S("Boss's"), L(1), S(",,"), S("x = where"), S("(,) ,)"));
  r.role.UpdateData(L(1), S("'"), L(1), S("=,"), S("a = where"), S("b=,c"));
  EXPECT_EQ(r.rec->sent,
            (Texts{kInsert + "'Boss''s',1,',,','x = where','(,) ,)')",
                   "update SYS_Role set RoleName='''',RoleMemo='b=,c',"
                   "RoleParentID=1,RoleLevel='=,',RoleClass='a = where' where "
                   "RoleID=1"}));
}

TEST(RoleSafetyTest, BadBareValuesAndEmptyIdsRaiseBeforeAnythingIsSent) {
  Recorded r;
  const Variant attack = S("1; delete from SYS_Role");
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"RoleParentID must be a number",
       [&] { r.role.AddData(S("a"), attack, S("l"), S("c"), S("m")); }},
      {"RoleParentID must be a number",
       [&] {
         r.role.UpdateData(L(1), S("a"), S("0 or 1=1"), S("l"), S("c"), S("m"));
       }},
      {"ID must be a number",
       [&] {
         r.role.UpdateData(S("1 or 1=1"), S("a"), L(1), S("l"), S("c"), S("m"));
       }},
      {"ID must be a number", [&] { r.role.DelData(attack); }},
      {"ID must be a number", [&] { r.role.DelData(Variant::Boolean(true)); }},
      {"ID is empty", [&] { r.role.DelData(Variant()); }},
      {"ID is empty",
       [&] { r.role.UpdateData(S(""), S("a"), L(1), S("l"), S("c"), S("m")); }},
  };
  for (const auto& [start, call] : calls) {
    const std::string failure = FailureOf(call);
    EXPECT_EQ(failure.rfind(start, 0), 0u) << failure;
    EXPECT_EQ(r.role.GetError(), failure);
  }
  EXPECT_TRUE(r.rec->sent.empty());
}

// --- Behaviour over a real database -------------------------------------

class RoleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RoleTest, AddStoresANullParentAndEmptyQuotedTexts) {
  TestDb db(GetParam(), /*demo=*/false);
  Role role;
  role.SetConn(db.conn());
  EXPECT_TRUE(role.AddData(S("Top"), S(""), S(""), S("A"), S("")));
  EXPECT_TRUE(role.AddData(S("Kid's"), L(1), S("2"), S("A"), S("(,) = where")));
  EXPECT_EQ(role.GetData(1).Dump(),
            "(0 To 5, 0 To 0) [1] [Top] [Null] [] [A] []");
  EXPECT_EQ(role.GetData(1)(3, 0), S(""));  // the level is text, not null
  EXPECT_EQ(role.GetData(2).Dump(),
            "(0 To 5, 0 To 0) [2] [Kid's] [1] [2] [A] [(,) = where]");
}

TEST_P(RoleTest, UpdateWritesEachValueToItsColumnAndANullChangesNothing) {
  TestDb db(GetParam(), /*demo=*/false);
  Role role;
  role.SetConn(db.conn());
  role.AddData(S("Old"), L(7), S("1"), S("A"), S("old"));
  role.AddData(S("Other"), L(7), S("1"), S("B"), S("other"));
  EXPECT_TRUE(
      role.UpdateData(L(1), S("New"), L(3), S("level"), S("class"), S("memo")));
  EXPECT_EQ(role.GetData(1).Dump(),
            "(0 To 5, 0 To 0) [1] [New] [3] [level] [class] [memo]");
  EXPECT_TRUE(role.UpdateData(S("1"), S("New"), S(""), S("level"), S("class"),
                              S("memo")));
  EXPECT_TRUE(
      db.Scalar("select RoleParentID from SYS_Role where RoleID=1").is_null());
  EXPECT_THROW(role.UpdateData(L(2), S("X"), kNull, S("x"), S("x"), S("x")),
               Error);
  EXPECT_TRUE(role.UpdateData(L(99), S("X"), L(1), S("x"), S("x"), S("x")));
  EXPECT_EQ(role.GetData(2).Dump(),
            "(0 To 5, 0 To 0) [2] [Other] [7] [1] [B] [other]");
  EXPECT_EQ(db.Scalar("select count(*) from SYS_Role where RoleName='X'"),
            L(0));
}

TEST_P(RoleTest, DeleteRemovesTheRoleOnly) {
  TestDb db(GetParam(), /*demo=*/false);
  Role role;
  role.SetConn(db.conn());
  role.AddData(S("A"), Variant(), S("1"), S("A"), S(""));
  role.AddData(S("B"), L(1), S("1"), S("B"), S(""));
  db.Exec("insert into SYS_PersonRole(PersonID,RoleID) values(1,1)");
  db.Exec("insert into SYS_right(menuID,roleID) values(1,1)");
  EXPECT_TRUE(role.DelData(L(1)));
  EXPECT_TRUE(role.DelData(L(1)));  // already gone: still no failure
  EXPECT_EQ(db.Scalar("select RoleName from SYS_Role"), S("B"));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_Role"), L(1));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_PersonRole"), L(1));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_right"), L(1));
}

TEST_P(RoleTest, AllDataIsFieldFirstInClassOrder) {
  TestDb db(GetParam(), /*demo=*/false);
  Role role;
  role.SetConn(db.conn());
  EXPECT_EQ(role.GetAllData(), VariantArray::EmptyGrid());
  EXPECT_EQ(role.GetData(1), VariantArray::EmptyGrid());
  role.AddData(S("c"), Variant(), S("1"), S("Z"), S(""));
  role.AddData(S("a"), Variant(), S("1"), S("X"), S(""));
  role.AddData(S("b"), Variant(), S("1"), S("Y"), S(""));
  EXPECT_EQ(role.GetAllData().Dump(),
            "(0 To 5, 0 To 2) [2] [3] [1] [a] [b] [c] [Null] [Null] [Null] "
            "[1] [1] [1] [X] [Y] [Z] [] [] []");
}

INSTANTIATE_TEST_SUITE_P(Databases, RoleTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven
