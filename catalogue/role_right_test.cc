// Who may see what: the grants of menus to roles and of roles to people,
// over a real database, and the statements their changes send.
#include "wrenhaven/role_right.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

class RoleRightDbTest : public ::testing::TestWithParam<std::string> {
 protected:
  RoleRightDbTest() : db_(GetParam(), /*demo=*/true) {
    rr_.SetConn(db_.conn());
  }
  std::string Grants(int role) { return rr_.GetRoleMenus(role).Dump(); }
  TestDb db_;
  RoleRight rr_;
};
INSTANTIATE_TEST_SUITE_P(Databases, RoleRightDbTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST_P(RoleRightDbTest, GrantsOfARoleFieldFirst) {
  EXPECT_EQ(Grants(3),
            "(0 To 1, 0 To 5) [1] [2] [3] [5] [6] [7] [3] [3] [3] [3] [3] [3]");
  EXPECT_EQ(Grants(99), "(0 To 0, 0 To 0) []");
}

TEST_P(RoleRightDbTest, AddingAGrantTwiceKeepsOneRow) {
  EXPECT_TRUE(rr_.AddRoleMenu(3, 9));
  EXPECT_TRUE(rr_.AddRoleMenu(3, 9));
  EXPECT_EQ(
      db_.Scalar("select count(*) from SYS_right where roleID=3 and menuID=9"),
      Variant::Long(1));
  EXPECT_TRUE(rr_.DelRoleMenu(3, 9));
  EXPECT_TRUE(rr_.DelRoleMenu(3, 9));
  EXPECT_EQ(
      db_.Scalar("select count(*) from SYS_right where roleID=3 and menuID=9"),
      Variant::Long(0));
}

TEST_P(RoleRightDbTest, UpdateReplacesTheWholeGrantSet) {
  EXPECT_TRUE(rr_.UpdateRoleMenus(3, Variant::String("12,13")));
  EXPECT_EQ(Grants(3), "(0 To 1, 0 To 1) [12] [13] [3] [3]");
  EXPECT_TRUE(rr_.UpdateRoleMenus(3, Variant::String("")));
  EXPECT_EQ(Grants(3), "(0 To 0, 0 To 0) []");
  EXPECT_TRUE(rr_.UpdateRoleMenus(3, Variant::Long(4)));
  EXPECT_EQ(Grants(3), "(0 To 1, 0 To 0) [4] [3]");
}

TEST_P(RoleRightDbTest, AFailedSetChangeLeavesTheOldSet) {
  if (GetParam() != "sqlite")
    GTEST_SKIP() << "the failure is planted with a SQLite trigger";
  db_.Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON SYS_right WHEN NEW.menuID = 99 "
      "BEGIN SELECT RAISE(ABORT, 'menu 99 refused'); END");
  const std::string before = Grants(3);
  EXPECT_THROW(rr_.UpdateRoleMenus(3, Variant::String("1,99")), Error);
  EXPECT_NE(rr_.GetError().find("menu 99 refused"), std::string::npos);
  EXPECT_EQ(Grants(3), before);
}

TEST_P(RoleRightDbTest, RolesOfAPersonAndTheirReplacement) {
  EXPECT_EQ(rr_.GetPersonRoles(1).Dump(),
            "(0 To 2, 0 To 1) [1] [2] [Administrator] [Manager] [1] [1]");
  EXPECT_EQ(rr_.GetPersonRoles(8).Dump(), "(0 To 0, 0 To 0) []");
  EXPECT_TRUE(rr_.AddPersonRole(8, 4));
  EXPECT_TRUE(rr_.AddPersonRole(8, 4));
  EXPECT_EQ(rr_.GetPersonRoles(8).Dump(),
            "(0 To 2, 0 To 0) [4] [Engineer] [8]");
  EXPECT_TRUE(rr_.UpdatePersonRoles(8, Variant::String("5,3")));
  EXPECT_EQ(rr_.GetPersonRoles(8).Dump(),
            "(0 To 2, 0 To 1) [3] [5] [Clerk] [Sales] [8] [8]");
  EXPECT_TRUE(rr_.DelPersonRole(8, 3));
  EXPECT_EQ(rr_.GetPersonRoles(8).Dump(), "(0 To 2, 0 To 0) [5] [Sales] [8]");
}

TEST_P(RoleRightDbTest, WhoMayUseAFunctionAndWhatIsAsked) {
  db_.Exec(
      "INSERT INTO SYS_Function (FunID, FunName, FunUrl) VALUES "
      "(30,'q','/it''s')");
  db_.Exec("INSERT INTO SYS_Menu (MenuID, FunID, MenuName) VALUES (30,30,'q')");
  db_.Exec("INSERT INTO SYS_right (menuID, roleID) VALUES (30,4)");
  auto tap = std::make_shared<TappedConnection>(db_.conn());
  rr_.SetConn(tap);
  const std::string head =
      "SELECT COUNT(*) FROM SYS_right WHERE SYS_right.menuID IN (SELECT "
      "SYS_Menu.MenuID FROM SYS_Menu, SYS_Function WHERE SYS_Menu.FunID = "
      "SYS_Function.FunID AND SYS_Function.FunUrl = '";
  const struct {
    Variant roles;
    const char* url;
    bool may;
    std::string statement;  // "" when none is sent
  } cases[] = {
      {Variant::String("1"), "/admin/menus", true,
       head + "/admin/menus') AND SYS_right.roleID IN (1)"},
      {Variant::String("2,3,5"), "/admin/menus", false,
       head + "/admin/menus') AND SYS_right.roleID IN (2,3,5)"},
      {Variant::Long(4), "/it's", true,
       head + "/it''s') AND SYS_right.roleID IN (4)"},
      {Variant::String("5"), "/it's", false,
       head + "/it''s') AND SYS_right.roleID IN (5)"},
      {Variant::String(""), "/admin/menus", false, ""},
      {Variant(), "/admin/menus", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.roles.Debug());
    tap->sent.clear();
    EXPECT_EQ(rr_.MayUseFunction(c.roles, Variant::String(c.url)), c.may);
    EXPECT_EQ(tap->sent, c.statement.empty()
                             ? std::vector<std::string>{}
                             : std::vector<std::string>{c.statement});
  }
}

TEST(RoleRightInputTest, BadListsNeverReachTheDatabase) {
  auto conn = std::make_shared<RecordingConnection>();
  RoleRight rr;
  rr.SetConn(conn);
  for (const Variant& bad :
       {Variant::String("1; delete from SYS_right"), Variant::String("1,,2"),
        Variant::String("1, 2"), Variant::String("x"), Variant::Null(),
        Variant::String("99999999999")}) {
    EXPECT_THROW(rr.UpdateRoleMenus(1, bad), Error) << bad.Debug();
    EXPECT_THROW(rr.UpdatePersonRoles(1, bad), Error) << bad.Debug();
    EXPECT_THROW(rr.MayUseFunction(bad, Variant::String("/x")), Error)
        << bad.Debug();
  }
  EXPECT_TRUE(conn->sent.empty());
  std::vector<Variant> args = {Variant::String("1 or 1=1"), Variant::Long(2)};
  auto late = CreateObject("Wrenhaven.RoleRight");
  EXPECT_THROW(late->Invoke("AddRoleMenu", args), Error);
}

TEST(RoleRightInputTest, StatementsSentForASetChange) {
  auto conn = std::make_shared<RecordingConnection>();
  RoleRight rr;
  rr.SetConn(conn);
  rr.UpdateRoleMenus(2, Variant::String("7"));
  EXPECT_EQ(
      conn->sent,
      (std::vector<std::string>{
          "BEGIN TRANSACTION", "Delete from SYS_right where roleID=2",
          "Insert into SYS_right (menuID,roleID) select 7,2 where not exists "
          "(select 1 from SYS_right where menuID=7 and roleID=2)",
          "COMMIT TRANSACTION"}));
}

}  // namespace
}  // namespace wrenhaven
