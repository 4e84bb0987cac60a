// PostgreSQL's statements mean what the reference ones mean: on the same
// office they give the same rows, in the same order, with values of the
// same kinds as the embedded database's statements, and the values the
// reference database gives. Needs the server that WRENHAVEN_TEST_POSTGRES
// names; without it only the texts are checked.
#include "db/postgres/postgres_dialect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/test_db.h"
#include "wrenhaven/connection.h"

namespace wrenhaven {
namespace {

bool HaveServer() {
  const char* address = std::getenv("WRENHAVEN_TEST_POSTGRES");
  return address && *address;
}

// Each row as its values' kinds and values, so Long(3) and String("3")
// differ.
std::vector<std::string> Rows(Connection& conn, const std::string& query) {
  auto rs = conn.Open(query, CursorType::kStatic);
  std::vector<std::string> rows;
  while (!rs->Eof()) {
    std::string row;
    for (int f = 0; f < rs->FieldCount(); ++f) {
      row += (f ? " " : "") + rs->Value(f).Debug();
    }
    rows.push_back(row);
    rs->MoveNext();
  }
  return rows;
}

// Sort keys that are unique apart from nulls, so the order of ties, which
// the statements leave to the database, plays no part.
const char* const kOffice[] = {
    "INSERT INTO HR_Dept (DeptID, DeptName) VALUES (1,'A'),(2,'B')",
    "INSERT INTO HR_person (PersonID, personAccount, personPwd, PersonName, "
    "DeptID, PersonJobCode) VALUES (1,'ann','a','Ann',2,'GM'),"
    "(2,'ben','b','Ben',1,'X'),(3,'cy','c','Cy',9,'Y'),(4,'di','d','Di',2,'Z')",
    "INSERT INTO HR_Login (personID, LoginAccount, LoginOK, loginTime) VALUES "
    "(1,'ann',1,'2003-05-06 05:30:00'),(1,'ann',1,'2003-05-06 07:50:00'),"
    "(1,'ann',1,'2003-05-06 09:10:59'),(1,'ann',1,'2003-05-07 05:59:59'),"
    "(4,'di',1,'2003-05-08 06:00:00'),(2,'ben',1,'2003-05-31 23:59:59'),"
    "(2,'ben',1,'2003-06-01 00:00:00'),(2,'ben',1,'2003-04-30 23:59:59'),"
    "(NULL,'zed',0,'2003-05-06 10:00:00'),(3,'cy',1,'2003-05-06 10:00:00'),"
    "(2,'ben',1,'2003-12-31 23:00:00'),(2,'ben',1,'2004-01-01 08:00:00')",
    "INSERT INTO SYS_Function (FunID, FunName, FunClass, FunUrl) VALUES "
    "(1,'f1','c','/1'),(2,'f2',NULL,'/2'),(3,'f3','A','/3'),(4,'f4','b','/4')",
    "INSERT INTO SYS_Role (RoleID, RoleName, RoleClass) VALUES "
    "(1,'r1','z'),(2,'r2',NULL),(3,'r3','B'),(4,'r4','m')",
    // Menu 3 opens no function, menu 4 a deleted one; menu 5 has no order.
    "INSERT INTO SYS_Menu (MenuID, FunID, MenuParentID, MenuName, MenuTip, "
    "MenuEnglish, MenuEnglishTip, MenuIcon, MenuOrder) VALUES "
    "(1,1,NULL,'m1','t1','e1','et1','i1',2),(2,3,NULL,'m2','t2','e2','et2',"
    "'i2',1),(3,NULL,1,'m3','t3','e3','et3','i3',10),(4,99,1,'m4','t4','e4',"
    "'et4','i4',9),(5,2,1,'m5','t5','e5','et5','i5',NULL),(6,4,3,'m6','t6',"
    "'e6','et6','i6',1),(7,1,3,'m7','t7','e7','et7','i7',NULL),"
    "(8,1,NULL,'m8','t8','e8','et8','i8',3)",
    "INSERT INTO SYS_right (menuID, roleID) VALUES (1,2),(2,5),(3,2),(4,5),"
    "(5,2),(6,2),(7,5),(4,2),(8,7)",
};

class PostgresDialectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveServer()) {
      GTEST_SKIP() << "WRENHAVEN_TEST_POSTGRES names no server";
    }
    sqlite_ = std::make_unique<TestDb>("sqlite");
    postgres_ = std::make_unique<TestDb>("postgresql");
    for (const char* s : kOffice) {
      sqlite_->Exec(s);
      postgres_->Exec(s);
    }
  }

  // The statement `make` builds with each database's dialect, run on each.
  template <class Make>
  std::vector<std::string> Same(Make make) {
    Connection& lite = *sqlite_->conn();
    Connection& pg = *postgres_->conn();
    const std::vector<std::string> expected = Rows(lite, make(lite.dialect()));
    const std::vector<std::string> got = Rows(pg, make(pg.dialect()));
    EXPECT_EQ(got, expected) << make(pg.dialect());
    return got;
  }

  std::unique_ptr<TestDb> sqlite_;
  std::unique_ptr<TestDb> postgres_;
};

using Texts = std::vector<std::string>;

TEST_F(PostgresDialectTest, MonthViewCountsFromSixInTheMorningWithinTheMonth) {
  EXPECT_EQ(
      Same([](const Dialect& d) { return d.MonthLogin(2003, 5); }),
      (Texts{
          R"(Long(2) String("Ben") Long(1) Long(31) String("2003-05-31 23:59") Long(1))",
          R"(Long(1) String("Ann") Long(2) Long(6) String("2003-05-06 07:50") Long(2))",
          R"(Long(4) String("Di") Long(2) Long(8) String("2003-05-08 06:00") Long(1))",
      }));
  EXPECT_EQ(
      Same([](const Dialect& d) { return d.MonthLogin(2003, 12); }),
      (Texts{
          R"(Long(2) String("Ben") Long(1) Long(31) String("2003-12-31 23:00") Long(1))"}));
  EXPECT_EQ(Same([](const Dialect& d) { return d.MonthLogin(1899, 12); }),
            Texts{});
}

TEST_F(PostgresDialectTest, MenusKeepEntriesWithoutAFunctionAndSortNullsFirst) {
  EXPECT_EQ(
      Same([](const Dialect& d) { return d.TopMenu("2,5"); }),
      (Texts{
          R"(Long(2) String("m2") String("i2") String("/3") String("t2") String("e2") String("et2"))",
          R"(Long(1) String("m1") String("i1") String("/1") String("t1") String("e1") String("et1"))",
      }));
  EXPECT_EQ(
      Same([](const Dialect& d) { return d.LeftMenu("1", "2,5"); }),
      (Texts{
          R"(Long(5) String("m5") String("i5") String("/2") Long(1) String("t5") String("e5") String("et5"))",
          R"(Long(4) String("m4") String("i4") Null Long(1) String("t4") String("e4") String("et4"))",
          R"(Long(3) String("m3") String("i3") Null Long(1) String("t3") String("e3") String("et3"))",
      }));
  EXPECT_EQ(Same([](const Dialect& d) { return d.LeftSubMenu("2,5", "3"); }),
            (Texts{
                R"(Long(7) String("m7") String("i7") String("/1") Long(3))",
                R"(Long(6) String("m6") String("i6") String("/4") Long(3))",
            }));
  EXPECT_EQ(
      Same([](const Dialect& d) { return d.LeftSubMenu("2", "3"); }),
      (Texts{R"(Long(6) String("m6") String("i6") String("/4") Long(3))"}));
  Same([](const Dialect& d) { return d.LeftMenu("0", "2,5"); });
  EXPECT_EQ(Same([](const Dialect& d) { return d.MenuLevel(0); }).size(), 3u);
  EXPECT_EQ(Same([](const Dialect& d) { return d.MenuLevel(1); })
                .front()
                .substr(0, 7),
            "Long(5)");
  Same([](const Dialect& d) { return d.MenuLevel(-3); });
}

TEST_F(PostgresDialectTest, MenusOfSeveralParentsAndWholeSubtreesAtOnce) {
  auto ids = [](const Texts& rows) {
    std::string out;
    for (const std::string& r : rows) {
      out += (out.empty() ? "" : ",") + r.substr(5, r.find(')') - 5);
    }
    return out;
  };
  EXPECT_EQ(
      ids(Same([](const Dialect& d) { return d.LeftSubMenus("2,5", "1,3"); })),
      "5,7,6,4,3");
  EXPECT_EQ(ids(Same([](const Dialect& d) { return d.MenuDescendants(0); })),
            "5,4,3,7,6");
  EXPECT_EQ(ids(Same([](const Dialect& d) { return d.MenuDescendants(1); })),
            "7,6");
  // Menus 20 and 21 are each other's parent: the walk still ends.
  for (TestDb* db : {sqlite_.get(), postgres_.get()}) {
    db->Exec(
        "INSERT INTO SYS_Menu (MenuID, MenuParentID, MenuName, MenuOrder) "
        "VALUES (20,21,'a',1),(21,20,'b',1),(22,21,'c',1)");
  }
  EXPECT_EQ(ids(Same([](const Dialect& d) { return d.MenuDescendants(20); })),
            "21,20,22");
}

TEST_F(PostgresDialectTest, CataloguesSortByClassWithNullsFirst) {
  auto first = [](const Texts& rows) {
    Texts ids;
    for (const std::string& r : rows) ids.push_back(r.substr(0, r.find(' ')));
    return ids;
  };
  EXPECT_EQ(first(Same([](const Dialect& d) { return d.FunctionList(); })),
            (Texts{"Long(2)", "Long(3)", "Long(4)", "Long(1)"}));
  EXPECT_EQ(first(Same([](const Dialect& d) { return d.RoleList(); })),
            (Texts{"Long(2)", "Long(3)", "Long(4)", "Long(1)"}));
  Same([](const Dialect& d) { return d.RolePageList(); });
}

TEST_F(PostgresDialectTest, InsertHeadsNameTheTablesTheirQueriesRead) {
  Connection& pg = *postgres_->conn();
  const Dialect& d = pg.dialect();
  pg.Execute(d.LoginInsertHead() +
             "personID,LoginAccount,LoginPwd,LoginOK,LoginIP,LoginMemo,"
             "LoginScreen) values(NULL,'it''s','p',0,'10.0.0.8','m','s')");
  pg.Execute(d.RoleInsertHead() +
             "RoleName,RoleParentID,roleLevel,roleClass,roleMemo) "
             "values('R',null,'','c','m')");
  pg.Execute(d.MenuInsertHead() +
             "FunID,MenuParentID,MenuName,MenuTip,MenuEnglish,MenuEnglishTip,"
             "MenuIcon,MenuOrder) values(null,null,'M','','','','','')");
  EXPECT_EQ(Rows(pg,
                 "select LoginAccount, LoginOK, personID from HR_Login "
                 "where LoginID=13"),
            Texts{R"(String("it's") Long(0) Null)"});
  EXPECT_EQ(Rows(pg,
                 "select RoleID, RoleLevel, RoleParentID from SYS_Role "
                 "where RoleName='R'"),
            Texts{R"(Long(5) String("") Null)"});
  EXPECT_EQ(Rows(pg,
                 "select MenuID, MenuOrder from SYS_Menu where "
                 "MenuName='M'"),
            Texts{"Long(9) Long(0)"});
}

// The charts' periods come from each database's own clock and date
// functions; on the same records both count the same.
TEST_F(PostgresDialectTest, ChartCountsAgreeOnEveryDayAndHour) {
  const std::string today = sqlite_->Day();
  const std::string yesterday = sqlite_->Day(1);
  const std::string first = sqlite_->Day(29);
  const std::string before = sqlite_->Day(30);
  // Both clocks give the same day.
  ASSERT_EQ(postgres_->Day(), today);
  for (TestDb* db : {sqlite_.get(), postgres_.get()}) {
    db->Exec(
        "INSERT INTO HR_Login (personID, LoginAccount, LoginOK, loginTime) "
        "VALUES (1,'ann',1,'" +
        today + " 00:00:00'),(1,'ann',0,'" + today +
        " 07:59:59'),(1,'ann',1,'" + today + " 07:00:00'),(NULL,'zed',0,'" +
        today + " 23:59:59'),(2,'ben',1,'" + yesterday +
        " 23:59:59'),(2,'ben',0,'" + first + " 00:00:00'),(2,'ben',1,'" +
        before + " 23:59:59')");
  }
  const Texts days = Same([](const Dialect& d) { return d.LoginsPerDay(30); });
  if (sqlite_->Day() != today) GTEST_SKIP() << "midnight passed";
  ASSERT_EQ(days.size(), 30u);
  EXPECT_EQ(days.front(), "String(\"" + first + "\") Long(0) Long(1)");
  EXPECT_EQ(days[28], "String(\"" + yesterday + "\") Long(1) Long(0)");
  EXPECT_EQ(days.back(), "String(\"" + today + "\") Long(2) Long(2)");
  EXPECT_EQ(days[10].substr(days[10].find(')')), ") Long(0) Long(0)");
  EXPECT_EQ(Same([](const Dialect& d) { return d.LoginsPerDay(1); }),
            Texts{"String(\"" + today + "\") Long(2) Long(2)"});
  EXPECT_EQ(Same([](const Dialect& d) { return d.LoginsPerDay(100); }).size(),
            100u);

  const Texts hours = Same([](const Dialect& d) { return d.LoginsPerHour(); });
  ASSERT_EQ(hours.size(), 24u);
  EXPECT_EQ(hours[0], "Long(0) Long(1) Long(0)");
  EXPECT_EQ(hours[7], "Long(7) Long(1) Long(1)");
  EXPECT_EQ(hours[8], "Long(8) Long(0) Long(0)");
  EXPECT_EQ(hours[23], "Long(23) Long(0) Long(1)");
}

// Without a server: the month is a range of loginTime, and the range of
// December ends with the next year.
TEST(PostgresDialectTextTest, MonthRangeEndsAtTheFirstOfTheNextMonth) {
  const PostgresDialect d;
  const std::string dec = d.MonthLogin(2024, 12);
  EXPECT_NE(dec.find("WHERE loginTime >= '2024-12-01 00:00:00' AND loginTime "
                     "< '2025-01-01 00:00:00' and"),
            std::string::npos)
      << dec;
  const std::string jan = d.MonthLogin(1899, 1);
  EXPECT_NE(jan.find(">= '1899-01-01 00:00:00' AND loginTime < "
                     "'1899-02-01 00:00:00'"),
            std::string::npos)
      << jan;
  EXPECT_EQ(d.name(), "postgresql");
}

// Without a server: each period is a range of hours, counted from the
// database's clock.
TEST(PostgresDialectTextTest, ChartPeriodsAreRangesFromTheServersClock) {
  const PostgresDialect d;
  const std::string days = d.LoginsPerDay(30);
  EXPECT_NE(days.find("generate_series(0, 29)"), std::string::npos) << days;
  EXPECT_NE(days.find("date_trunc('day', LOCALTIMESTAMP(0)) - n * interval "
                      "'1 day'"),
            std::string::npos)
      << days;
  // Read from the counts per hour, not from the records.
  EXPECT_NE(days.find("LEFT JOIN HR_LoginHours h ON h.HourStart >= "
                      "slot.starts AND h.HourStart < slot.ends"),
            std::string::npos)
      << days;
  EXPECT_EQ(days.find("HR_Login "), std::string::npos) << days;
  EXPECT_NE(d.LoginsPerHour().find("generate_series(0, 23)"),
            std::string::npos);
}

}  // namespace
}  // namespace wrenhaven
