#include "wrenhaven/schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "login/password.h"
#include "testing/test_db.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven {
namespace {

class SchemaTest : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Databases, SchemaTest,
                         ::testing::ValuesIn(TestDatabases()));

std::string Columns(const TestDb& db, const std::string& table) {
  auto rs = db.conn()->Open("Select * from " + table + " where 1=0",
                            CursorType::kStatic);
  std::string names;
  for (int i = 0; i < rs->FieldCount(); ++i)
    names += (i ? "," : "") + rs->FieldName(i);
  return names;
}

TEST_P(SchemaTest, ColumnOrdersAreTheDocumentedOnes) {
  TestDb db(GetParam());
  auto lower = [](std::string s) {
    for (char& c : s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  EXPECT_EQ(
      lower(Columns(db, "SYS_Menu")),
      "menuid,funid,menuparentid,menuname,menutip,menuenglish,menuenglishtip,"
      "menuicon,menuorder");
  EXPECT_EQ(lower(Columns(db, "HR_Login")),
            "loginid,personid,loginaccount,loginpwd,loginok,loginip,loginmemo,"
            "loginscreen,logintime,loginouttime");
  EXPECT_EQ(lower(Columns(db, "SYS_Function")),
            "funid,funname,funmemo,funtype,funorder,funclass,funurl");
  EXPECT_EQ(lower(Columns(db, "SYS_Role")),
            "roleid,rolename,roleparentid,rolelevel,roleclass,rolememo");
  EXPECT_EQ(lower(Columns(db, "HR_person")),
            "personid,personaccount,personpwd,personname,deptid,personjobcode");
}

bool HasIndex(const TestDb& db, const std::string& name) {
  if (db.conn()->dialect().name() == "sqlite") {
    return db.Scalar(
                 "SELECT COUNT(*) FROM sqlite_master WHERE type='index' "
                 "AND name='" +
                 name + "'")
               .ToLong() == 1;
  }
  return db.Scalar(
               "SELECT COUNT(*) FROM pg_indexes WHERE schemaname = "
               "current_schema() AND indexname = lower('" +
               name + "')")
             .ToLong() == 1;
}

// Each of `indexes` is there, and made again when a database lacks it.
void ExpectIndexesMadeAgain(const TestDb& db,
                            const std::vector<std::string>& indexes) {
  for (const std::string& index : indexes) {
    EXPECT_TRUE(HasIndex(db, index)) << index;
    db.Exec("DROP INDEX " + index);
  }
  CreateSchema(*db.conn());
  for (const std::string& index : indexes) {
    EXPECT_TRUE(HasIndex(db, index)) << index;
  }
}

// The login records' indexes: the sign-in throttle's (an account's and an
// address's recent attempts) and the per-person summary's; a database made
// before them gets them when its schema is opened again.
TEST_P(SchemaTest, LoginRecordIndexesAreMadeAndAddedToOlderDatabases) {
  TestDb db(GetParam(), /*demo=*/true);
  std::vector<std::string> indexes = {"HR_Login_account_time",
                                      "HR_Login_ip_time"};
  indexes.push_back(GetParam() == "sqlite" ? "HR_Login_person_time"
                                           : "HR_Login_summary");
  ExpectIndexesMadeAgain(db, indexes);
  if (GetParam() == "sqlite") {
    // The throttle's counts search the index instead of reading the table.
    const struct {
      const char* where;
      const char* index;
    } counts[] = {
        {"LoginAccount='ann' AND loginTime >= '2026-01-01'",
         "HR_Login_account_time"},
        {"LoginIP='10.0.0.1' AND loginTime >= '2026-01-01'",
         "HR_Login_ip_time"},
    };
    for (const auto& c : counts) {
      auto rs = db.conn()->Open(
          std::string("EXPLAIN QUERY PLAN SELECT COUNT(*) FROM HR_Login "
                      "WHERE LoginOK=0 AND ") +
              c.where,
          CursorType::kStatic);
      std::string plan;
      for (; !rs->Eof(); rs->MoveNext()) plan += rs->Value(3).ToText() + ";";
      EXPECT_NE(plan.find(c.index), std::string::npos) << plan;
    }
  }
}

// The query plan's lines of `statement` (SQLite), joined by ';'.
std::string SqlitePlan(const TestDb& db, const std::string& statement) {
  auto rs =
      db.conn()->Open("EXPLAIN QUERY PLAN " + statement, CursorType::kStatic);
  std::string plan;
  for (; !rs->Eof(); rs->MoveNext()) plan += rs->Value(3).ToText() + ";";
  return plan;
}

TEST_P(SchemaTest, ListingsLookUpTheirRowsInIndexesAlsoInOlderDatabases) {
  TestDb db(GetParam(), /*demo=*/true);
  const std::vector<std::string> indexes = {"SYS_Function_url", "SYS_Menu_fun",
                                            "HR_LoginMonth_dept"};
  ExpectIndexesMadeAgain(db, indexes);
  if (GetParam() != "sqlite") return;
  // Whether roles may open a page: from the address to its functions,
  // their menus and the grants, each looked up, none read whole.
  const std::string grant = SqlitePlan(
      db,
      "SELECT COUNT(*) FROM SYS_right WHERE SYS_right.menuID IN (SELECT "
      "SYS_Menu.MenuID FROM SYS_Menu, SYS_Function WHERE SYS_Menu.FunID = "
      "SYS_Function.FunID AND SYS_Function.FunUrl = '/admin/rights') AND "
      "SYS_right.roleID IN (1,2,3)");
  EXPECT_NE(grant.find("SYS_Function_url"), std::string::npos) << grant;
  EXPECT_NE(grant.find("SYS_Menu_fun"), std::string::npos) << grant;
  EXPECT_EQ(grant.find("SCAN"), std::string::npos) << grant;
  // A page of the month calendar walks the month's people in order, with
  // no sort and no look at other people's records.
  const std::string month =
      SqlitePlan(db, db.conn()->dialect().MonthLoginPage(2003, 5, 51, 100));
  EXPECT_NE(month.find("HR_LoginMonth_dept"), std::string::npos) << month;
  EXPECT_EQ(month.find("SCAN HR_person"), std::string::npos) << month;
  EXPECT_EQ(month.find("SCAN HR_Login"), std::string::npos) << month;
}

TEST_P(SchemaTest, CreatingTwiceChangesNothing) {
  TestDb db(GetParam(), /*demo=*/true);
  CreateSchema(*db.conn());
  EXPECT_EQ(db.Scalar("select count(*) from HR_person"), Variant::Long(10));
}

TEST_P(SchemaTest, EveryChangeOfWhoMaySeeWhatCountsTheRightsVersionUp) {
  TestDb db(GetParam(), /*demo=*/true);
  auto version = [&db] {
    const int64_t read = RightsVersion(*db.conn());
    EXPECT_EQ(read, db.Scalar("select Version from SYS_Version where "
                              "Name='rights'")
                        .ToLong());
    return read;
  };
  const std::vector<std::string> changes = {
      "insert into SYS_Role (RoleName) values ('Temp')",
      "update SYS_Role set RoleMemo='x' where RoleID=1",
      "delete from SYS_Role where RoleName='Temp'",
      "insert into SYS_PersonRole (PersonID, RoleID) values (99, 1)",
      "update SYS_PersonRole set RoleID=2 where PersonID=99",
      "delete from SYS_PersonRole where PersonID=99",
      "insert into SYS_Menu (MenuName, MenuOrder) values ('Temp', 1)",
      "update SYS_Menu set MenuTip='x' where MenuID=1",
      "delete from SYS_Menu where MenuName='Temp'",
      "insert into SYS_Function (FunName) values ('Temp')",
      "update SYS_Function set FunMemo='x' where FunID=1",
      "delete from SYS_Function where FunName='Temp'",
      "insert into SYS_right (menuID, roleID) values (1, 99)",
      "update SYS_right set roleID=98 where menuID=1 and roleID=99",
      "delete from SYS_right where menuID=1 and roleID=98",
  };
  for (const std::string& change : changes) {
    const int64_t before = version();
    db.Exec(change);
    EXPECT_GT(version(), before) << change;
  }
  // Neither a change that is rolled back nor one of other tables counts;
  // creating the tables again keeps the count.
  const int64_t before = version();
  {
    Transaction t(*db.conn());
    db.Exec("delete from SYS_right");
  }
  db.Exec("insert into HR_Login (LoginAccount) values ('x')");
  CreateSchema(*db.conn());
  EXPECT_EQ(version(), before);
}

// Another server's change is seen on the very next reading, whether it
// went through the triggers or straight to the version row; a reading
// inside a transaction sees the transaction's own change, and the
// committed version again once it is rolled back.
TEST_P(SchemaTest, TheRightsVersionFollowsOtherConnectionsAtOnce) {
  TestDb db(GetParam(), /*demo=*/true);
  Connection& conn = *db.conn();
  const std::shared_ptr<Connection> other = db.Connections()();
  auto stored = [&db] {
    return int64_t{db.Scalar("select Version from SYS_Version where "
                             "Name='rights'")
                       .ToLong()};
  };
  const int64_t first = RightsVersion(conn);
  EXPECT_EQ(RightsVersion(conn), first);
  for (int i = 0; i < 3; ++i) {
    other->Execute("update SYS_Role set RoleMemo='" + std::to_string(i) +
                   "' where RoleID=1");
    const int64_t read = RightsVersion(conn);
    EXPECT_GT(read, first + i);
    EXPECT_EQ(read, stored());
  }
  const int64_t committed = RightsVersion(conn);
  other->Execute("insert into HR_Login (LoginAccount) values ('x')");
  EXPECT_EQ(RightsVersion(conn), committed);
  {
    Transaction t(conn);
    db.Exec("update SYS_Role set RoleMemo='y' where RoleID=1");
    EXPECT_GT(RightsVersion(conn), committed);
  }
  EXPECT_EQ(RightsVersion(conn), committed);
  other->Execute(
      "update SYS_Version set Version = Version + 100 where Name='rights'");
  EXPECT_EQ(RightsVersion(conn), committed + 100);
  EXPECT_EQ(RightsVersion(*other), committed + 100);
}

TEST_P(SchemaTest, QuotedMenuOrderIsStoredAsTheNumberItNames) {
  TestDb db(GetParam());
  // As the menu insert writes it, through the database's insert head.
  const std::string head = db.conn()->dialect().MenuInsertHead();
  db.Exec(head + "MenuName,MenuOrder) values('a','')");
  db.Exec(head + "MenuName,MenuOrder) values('b','10')");
  db.Exec(head + "MenuName,MenuOrder) values('c','2')");
  EXPECT_EQ(db.Scalar("select MenuOrder from SYS_Menu where MenuName='a'"),
            Variant::Long(0));
  // Numbers sort as numbers: 2 before 10.
  EXPECT_EQ(db.Scalar("select MenuName from SYS_Menu where MenuOrder > 0 order "
                      "by MenuOrder"),
            Variant::String("c"));
  EXPECT_THROW(
      db.Exec("Insert into SYS_Menu (MenuName,MenuOrder) values('d','abc')"),
      Error);
}

// Accounts are compared by the database's rules, which ignore letter case;
// passwords are stored as hashes and verified exactly by the library.
TEST_P(SchemaTest, AccountsIgnoreLetterCaseAndDemoPasswordsAreStoredHashed) {
  TestDb db(GetParam(), /*demo=*/true);
  EXPECT_EQ(db.Scalar("Select PersonID from HR_person where personAccount="
                      "'ANN'"),
            Variant::Long(1));
  const std::string stored =
      db.Scalar("Select personPwd from HR_person where PersonID=1").ToText();
  EXPECT_TRUE(IsPasswordHash(stored)) << stored;
  EXPECT_TRUE(password::Verify(stored, "ann123"));
  EXPECT_FALSE(password::Verify(stored, "ANN123"));
  EXPECT_EQ(db.Scalar("Select COUNT(*) from HR_person where personPwd "
                      "not like '$argon2id$%'"),
            Variant::Long(0));
}

// The office counts as a demo one while any demo account still has its
// public password.
TEST_P(SchemaTest, DemoPasswordsAreSeenUntilTheLastIsChanged) {
  TestDb db(GetParam(), /*demo=*/true);
  EXPECT_TRUE(HoldsDemoPasswords(*db.conn()));
  const char* accounts[] = {"ann",  "ben", "cho", "dev", "eva",
                            "finn", "gia", "hal", "ivy", "jon"};
  for (const char* account : accounts) {
    EXPECT_TRUE(HoldsDemoPasswords(*db.conn())) << account;
    SetStoredPassword(*db.conn(), account, "a much better one",
                      PasswordCost::ForTests());
  }
  EXPECT_FALSE(HoldsDemoPasswords(*db.conn()));
}

TEST_P(SchemaTest, IdentifiersAreNotReusedAfterADelete) {
  TestDb db(GetParam());
  db.Exec("Insert into SYS_Menu (MenuName) values('a')");
  db.Exec("Insert into SYS_Menu (MenuName) values('b')");
  db.Exec("Delete from SYS_Menu where MenuName='b'");
  db.Exec("Insert into SYS_Menu (MenuName) values('c')");
  EXPECT_EQ(db.Scalar("select MenuID from SYS_Menu where MenuName='c'"),
            Variant::Long(3));
}

TEST_P(SchemaTest, DemoOfficeHasATwoLevelTreeAndPeopleWithAndWithoutRoles) {
  TestDb db(GetParam(), /*demo=*/true);
  EXPECT_EQ(
      db.Scalar("select count(*) from SYS_Menu where MenuParentID is null"),
      Variant::Long(5));
  EXPECT_EQ(
      db.Scalar("select count(*) from SYS_Menu m join SYS_Menu p on "
                "m.MenuParentID=p.MenuID where p.MenuParentID is not null"),
      Variant::Long(0));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_PersonRole where PersonID=8"),
            Variant::Long(0));
  EXPECT_EQ(db.Scalar("select count(*) from SYS_PersonRole where PersonID=1"),
            Variant::Long(2));
}

}  // namespace
}  // namespace wrenhaven
