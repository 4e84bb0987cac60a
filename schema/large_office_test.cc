// The large demo office, built small: its shape, its sign-ins and that it
// is written whole or not at all.
#include "schema/large_office.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/schema.h"

namespace wrenhaven {
namespace {

class LargeOfficeTest : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Databases, LargeOfficeTest,
                         ::testing::ValuesIn(TestDatabases()));

constexpr LargeOfficeSize kSmall{250, 240, 30, 2000, 60};

int64_t Count(const TestDb& db, const std::string& query) {
  return db.Scalar(query).ToLong();
}

TEST_P(LargeOfficeTest, HasTheSizeAskedForAndItsShape) {
  TestDb db(GetParam());
  std::vector<std::string> stages;
  int64_t last = -1, total = 0;
  bool forward = true;
  LoadLargeOffice(*db.conn(), kSmall,
                  [&](std::string_view what, int64_t done, int64_t all) {
                    if (stages.empty() || stages.back() != what) {
                      stages.emplace_back(what);
                    }
                    forward = forward && done > last && done <= all;
                    last = done;
                    total = all;
                  });
  EXPECT_TRUE(forward);
  EXPECT_EQ(last, total);
  EXPECT_EQ(stages,
            (std::vector<std::string>{"departments", "people", "roles",
                                      "functions", "menus", "login records"}));

  const struct {
    const char* query;
    int64_t expected;
  } counts[] = {
      {"SELECT COUNT(*) FROM HR_person", 250},
      {"SELECT COUNT(*) FROM SYS_Role", 30},
      // The tree's 240 and the administration's 7.
      {"SELECT COUNT(*) FROM SYS_Menu", 247},
      {"SELECT COUNT(*) FROM SYS_Function WHERE FunUrl LIKE '/admin/%'", 6},
      {"SELECT COUNT(*) FROM SYS_right WHERE menuID > 240", 7},
      {"SELECT COUNT(*) FROM SYS_right WHERE menuID > 240 AND roleID <> 1", 0},
      {"SELECT COUNT(*) FROM HR_Login", 2000},
      {"SELECT COUNT(*) FROM HR_Dept", 100},
      // One in 25 records is a failed attempt, without a person.
      {"SELECT COUNT(*) FROM HR_Login WHERE LoginOK=0 AND personID IS NULL",
       80},
      // 240 menus: 3 first-level ones (1, 101, 201) and the
      // administration's, 9 under each of the three...
      {"SELECT COUNT(*) FROM SYS_Menu WHERE MenuParentID IS NULL", 4},
      {"SELECT COUNT(*) FROM SYS_Menu c JOIN SYS_Menu p ON "
       "c.MenuParentID=p.MenuID WHERE p.MenuParentID IS NULL",
       28},
      // ...and every menu one of the first ten roles may see.
      {"SELECT COUNT(*) FROM SYS_Menu WHERE MenuID NOT IN (SELECT menuID "
       "FROM SYS_right WHERE roleID <= 10)",
       0},
      {"SELECT COUNT(*) FROM SYS_PersonRole WHERE PersonID=1", 20},
      {"SELECT COUNT(*) FROM HR_person p WHERE NOT EXISTS (SELECT 1 FROM "
       "SYS_PersonRole r WHERE r.PersonID=p.PersonID)",
       0},
  };
  for (const auto& c : counts) {
    EXPECT_EQ(Count(db, c.query), c.expected) << c.query;
  }
  // The records day by day in the order of their numbers.
  EXPECT_EQ(Count(db,
                  "SELECT COUNT(*) FROM HR_Login a JOIN HR_Login b ON "
                  "b.LoginID=a.LoginID+1 WHERE substr(CAST(b.loginTime AS "
                  "TEXT),1,10) < substr(CAST(a.loginTime AS TEXT),1,10)"),
            0);
}

// Person 1 signs in with the demo scheme's password and sees every menu
// through 20 roles; the summary of sign-ins has one row per person who
// signed in.
TEST_P(LargeOfficeTest, ItsPeopleSignInAndSeeTheirMenus) {
  TestDb db(GetParam());
  LoadLargeOffice(*db.conn(), kSmall);
  EXPECT_EQ(PersonValues(42, 100),
            "(42,'p000042','p000042123','Person 42',43,'STAFF')");

  auto context = std::make_shared<MemoryContext>();
  context->request_obj->Set(Request::Collection::kServerVariables,
                            "REQUEST_METHOD", "POST");
  context->request_obj->Set(Request::Collection::kForm, "LoginName", "p000001");
  context->request_obj->Set(Request::Collection::kForm, "LoginPwd",
                            "p000001123");
  Login login;
  login.SetConn(db.conn());
  login.OnStartPage(context);
  login.LoginMain();
  ASSERT_EQ(context->session_obj->Get("PersonID").ToText(), "1")
      << login.GetError();
  const Variant roles = context->session_obj->Get("RoleID");
  EXPECT_EQ(roles.ToText(),
            "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20");

  Menu menu;
  menu.OnStartPage(context);
  menu.SetConn(db.conn());
  const std::vector<MenuItem> top = menu.TopMenuItems();
  ASSERT_EQ(top.size(), 4u);  // the tree's three and Administration
  // 9 entries, each with its 10 sub-entries.
  EXPECT_EQ(menu.LeftMenuItems(top.front().id).size(), 99u);

  const VariantArray summary = login.GetAllData();
  EXPECT_EQ(summary.UBound(1),
            Count(db,
                  "SELECT COUNT(DISTINCT personID) FROM HR_Login WHERE "
                  "LoginOK=1"));
}

// The tables kept from the records (the summary, the hours, the months)
// hold what the records say after the load, and records written later are
// counted into them as before.
TEST_P(LargeOfficeTest, TheTablesKeptFromTheRecordsFollowThem) {
  TestDb db(GetParam());
  LoadLargeOffice(*db.conn(), kSmall);
  const auto check = [&] {
    EXPECT_EQ(Count(db,
                    "SELECT COUNT(*) FROM (SELECT personID, lastTime, "
                    "outTime, Times FROM HR_LoginSummary EXCEPT SELECT "
                    "personID, MAX(loginTime), MAX(loginOutTime), COUNT(*) "
                    "FROM HR_Login WHERE LoginOK = 1 GROUP BY personID) d"),
              0);
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM HR_LoginSummary"),
              Count(db,
                    "SELECT COUNT(DISTINCT personID) FROM HR_Login WHERE "
                    "LoginOK = 1"));
    EXPECT_EQ(Count(db, "SELECT SUM(OK) FROM HR_LoginHours"),
              Count(db, "SELECT COUNT(*) FROM HR_Login WHERE LoginOK = 1"));
    EXPECT_EQ(Count(db, "SELECT SUM(Failed) FROM HR_LoginHours"),
              Count(db, "SELECT COUNT(*) FROM HR_Login WHERE LoginOK = 0"));
    // Every record is of the day, after six: each one with a person counts
    // in its month.
    EXPECT_EQ(Count(db, "SELECT SUM(Times) FROM HR_LoginMonth"),
              Count(db,
                    "SELECT COUNT(*) FROM HR_Login WHERE personID IS NOT "
                    "NULL"));
    EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM HR_LoginMonth"),
              Count(db,
                    "SELECT COUNT(*) FROM (SELECT DISTINCT personID, "
                    "substr(CAST(loginTime AS TEXT),1,7) FROM HR_Login "
                    "WHERE personID IS NOT NULL) d"));
  };
  check();
  EXPECT_GT(Count(db, "SELECT COUNT(*) FROM HR_LoginMonth"), 0);
  db.Exec(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "loginTime) VALUES (7, 'p000007', '******', 1, '2001-02-03 09:10:11')");
  check();
  EXPECT_EQ(Count(db,
                  "SELECT Times FROM HR_LoginMonth WHERE personID = 7 AND "
                  "substr(CAST(Month AS TEXT),1,7) = '2001-02'"),
            1);
}

TEST_P(LargeOfficeTest, WrittenWholeOrNotAtAll) {
  TestDb db(GetParam());
  // The departments are there already: the first insert fails.
  db.Exec("INSERT INTO HR_Dept (DeptID, DeptName) VALUES (100,'taken')");
  EXPECT_THROW(LoadLargeOffice(*db.conn(), kSmall), Error);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM HR_Dept"), 1);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM HR_person"), 0);
  EXPECT_EQ(db.conn()->transaction_depth(), 0);
}

TEST(LargeOfficeSizeTest, SizesOutOfBoundsAreRefusedBeforeAnythingIsSent) {
  const struct {
    const char* what;
    LargeOfficeSize size;
  } cases[] = {
      {"no people", {0, 10, 10, 10, 10}},
      {"too many people", {1000001, 10, 10, 10, 10}},
      {"menus past 16 bits", {10, 32768, 10, 10, 10}},
      {"no room for the administration", {10, 32761, 10, 10, 10}},
      {"no roles", {10, 10, 0, 10, 10}},
      {"negative records", {10, 10, 10, -1, 10}},
      {"no span", {10, 10, 10, 10, 0}},
  };
  for (const auto& c : cases) {
    RecordingConnection conn;
    EXPECT_THROW(LoadLargeOffice(conn, c.size), Error) << c.what;
    EXPECT_TRUE(conn.sent.empty()) << c.what;
  }
}

}  // namespace
}  // namespace wrenhaven
