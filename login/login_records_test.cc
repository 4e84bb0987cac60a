// The login records: the statements the queries send, the shapes they
// return, and sign-in end to end over a real database.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

using Collection = Request::Collection;

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// ---- Statement texts (reference dialect)
// -------------------------------------

struct Recorded {
  std::shared_ptr<RecordingConnection> conn =
      std::make_shared<RecordingConnection>();
  Login login;
  Recorded() { login.SetConn(conn); }
};

TEST(LoginRecordsTextTest, EachQuerySendsItsStatementWithItsCursor) {
  Recorded r;
  r.login.GetAllData();
  r.login.GetPersonData(Variant::Long(7));
  r.login.GetMonthLogin(Variant::FromDate(Date::FromParts(2003, 5, 6, 8, 0)));
  r.login.GetData(40000);
  EXPECT_EQ(
      r.conn->sent,
      (std::vector<std::string>{
          "SELECT HR_Login.PersonID,personName, MAX(loginTime) AS "
          "lastTime,MAX(loginOutTime) as outTime, COUNT(*) AS Times FROM "
          "HR_Login,HR_person  where HR_Login.personID=HR_Person.personID and "
          "LoginOK=1 GROUP BY HR_Login.PersonID,personName ORDER BY "
          "MAX(loginTime) DESC",
          "SELECT * from hr_login where personID=7 order by loginTime desc ",
          "SELECT  HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
          "day(loginTime), CONVERT(char(16), min(loginTime), 120),count(*) "
          "FROM HR_login, HR_person,HR_Dept WHERE HR_Login.personID = "
          "HR_person.personID and HR_person.DeptID=HR_Dept.DeptID AND "
          "YEAR(loginTime) =2003 and month(loginTime)=5 and DATEPART(hh, "
          "loginTime)>5 GROUP BY "
          "HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
          "day(loginTime) ORDER BY  HR_Person.DeptID,HR_Login.personID",
          // Identifiers are whole 32-bit numbers: above 32767 too.
          "Select * From HR_Login Where LoginID=40000",
      }));
  EXPECT_EQ(
      r.conn->cursors,
      (std::vector<CursorType>{CursorType::kStatic, CursorType::kForwardOnly,
                               CursorType::kForwardOnly, CursorType::kStatic}));
}

TEST(LoginRecordsTextTest, PersonIdIsJoinedAsANumberOnly) {
  Recorded r;
  r.login.GetPersonData(Variant::String("12"));
  r.login.GetPersonData(Variant::Integer(-3));
  EXPECT_EQ(
      r.conn->sent[0],
      "SELECT * from hr_login where personID=12 order by loginTime desc ");
  EXPECT_EQ(
      r.conn->sent[1],
      "SELECT * from hr_login where personID=-3 order by loginTime desc ");

  for (const Variant& bad :
       {Variant(), Variant::Null(), Variant::String(""),
        Variant::String("7 or 1=1"), Variant::Boolean(true)}) {
    SCOPED_TRACE(bad.Debug());
    EXPECT_THROW(r.login.GetPersonData(bad), Error);
    EXPECT_NE(r.login.GetError().find("personID"), std::string::npos);
  }
  EXPECT_EQ(r.conn->sent.size(), 2u);
}

TEST(LoginRecordsTextTest, MonthOfTheDateGivenInAnyForm) {
  Recorded r;
  auto month_of = [&](const Variant& d) {
    r.login.GetMonthLogin(d);
    const std::string& s = r.conn->sent.back();
    const size_t y = s.find("YEAR(loginTime) =") + 17;
    return s.substr(y, s.find(" and DATEPART") - y);
  };
  EXPECT_EQ(month_of(Variant::String("2003-12-31 23:59")),
            "2003 and month(loginTime)=12");
  // Empty is the zero date, 30 December 1899.
  EXPECT_EQ(month_of(Variant()), "1899 and month(loginTime)=12");
}

TEST(LoginRecordsTextTest, ABadDateIsRefusedBeforeAnyStatement) {
  Recorded r;
  for (const auto& [bad, error] :
       {std::pair<Variant, std::string>{Variant::Null(), "Invalid use of Null"},
        {Variant::String("last May"), "Type mismatch"},
        {Variant::Double(1e300), "Overflow"}}) {
    EXPECT_THROW(r.login.GetMonthLogin(bad), Error);
    EXPECT_NE(r.login.GetError().find(error), std::string::npos);
  }
  EXPECT_TRUE(r.conn->sent.empty());
}

// ---- The charts' counts (reference dialect)
// ------------------------------------

// A count result of `rows` periods: label, successes, failures.
RecordingConnection::Result CountRows(int rows) {
  RecordingConnection::Result result{{"label", "ok", "failed"}, {}};
  for (int r = 0; r < rows; ++r) {
    result.rows.push_back(
        {Variant::Long(r), Variant::Long(r % 3), Variant::Long(r % 2)});
  }
  return result;
}

TEST(LoginRecordsTextTest, EachChartIsOneGroupedStatement) {
  Recorded r;
  r.conn->Queue(CountRows(30));
  r.conn->Queue(CountRows(24));
  const VariantArray days = r.login.GetDayCounts();
  const VariantArray hours = r.login.GetHourCounts();
  const std::string counts =
      "SELECT slot.label, COUNT(CASE WHEN HR_Login.LoginOK=1 THEN 1 END), "
      "COUNT(CASE WHEN HR_Login.LoginOK=0 THEN 1 END) FROM slots AS slot "
      "LEFT JOIN HR_Login ON HR_Login.loginTime >= slot.starts AND "
      "HR_Login.loginTime < slot.ends GROUP BY slot.label ORDER BY slot.label";
  EXPECT_EQ(
      r.conn->sent,
      (std::vector<std::string>{
          "WITH slots(label, starts, ends, n) AS (SELECT CONVERT(char(10), "
          "DATEADD(day, -29, GETDATE()), 120), CAST(CAST(DATEADD(day, -29, "
          "GETDATE()) AS date) AS datetime), DATEADD(day, 1, CAST(CAST("
          "DATEADD(day, -29, GETDATE()) AS date) AS datetime)), 29 UNION ALL "
          "SELECT CONVERT(char(10), ends, 120), ends, DATEADD(day, 1, ends), "
          "n-1 FROM slots WHERE n>0) " +
              counts,
          "WITH slots(label, starts, ends) AS (SELECT 0, CAST(CAST(GETDATE() "
          "AS date) AS datetime), DATEADD(hour, 1, CAST(CAST(GETDATE() AS "
          "date) AS datetime)) UNION ALL SELECT label+1, ends, DATEADD(hour, "
          "1, ends) FROM slots WHERE label<23) " +
              counts,
      }));
  EXPECT_EQ(r.conn->cursors,
            (std::vector<CursorType>{CursorType::kForwardOnly,
                                     CursorType::kForwardOnly}));
  // Field first, as the database answered.
  ASSERT_EQ(days.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 2}, {0, 29}}));
  ASSERT_EQ(hours.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 2}, {0, 23}}));
  EXPECT_EQ(days(1, 29), Variant::Long(2));
  EXPECT_EQ(hours(2, 23), Variant::Long(1));
}

// The page draws one bar per row: a database that answers another number
// of periods, or something else than counts, is said to be at fault.
TEST(LoginRecordsTextTest, CountsOfAnotherShapeAreTheDatabasesFault) {
  const auto wrong_cell = [](int row, int field, Variant value) {
    RecordingConnection::Result result = CountRows(30);
    result.rows[row][field] = std::move(value);
    return result;
  };
  RecordingConnection::Result two_fields{{"label", "ok"}, {}};
  for (int i = 0; i < 30; ++i) {
    two_fields.rows.push_back({Variant::Long(i), Variant::Long(0)});
  }
  const struct {
    const char* what;
    RecordingConnection::Result result;
    const char* message;
  } cases[] = {
      {"29 days", CountRows(29),
       "The sign-ins per day came back as 29 rows of three values, not 30"},
      {"31 days", CountRows(31), "came back as 31 rows"},
      {"no row", {{"label", "ok", "failed"}, {}}, "came back as 0 rows"},
      {"two fields", two_fields, "came back as 0 rows of three values"},
      {"text", wrong_cell(3, 1, Variant::String("7")),
       "The sign-ins per day hold String(\"7\") where a count belongs"},
      {"null", wrong_cell(0, 2, Variant::Null()), "hold Null where"},
      {"negative", wrong_cell(5, 2, Variant::Long(-1)), "hold Long(-1)"},
      {"fraction", wrong_cell(5, 1, Variant::Double(1.5)), "hold Double(1.5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Recorded r;
    r.conn->Queue(c.result);
    try {
      r.login.GetDayCounts();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kDatabase);
    }
    EXPECT_NE(r.login.GetError().find(c.message), std::string::npos)
        << r.login.GetError();
  }
  Recorded r;
  r.conn->Queue(CountRows(23));
  EXPECT_THROW(r.login.GetHourCounts(), Error);
  EXPECT_NE(r.login.GetError().find("per hour came back as 23 rows"),
            std::string::npos);
  // Without a connection nothing is asked.
  Login alone;
  EXPECT_THROW(alone.GetDayCounts(), Error);
  EXPECT_THROW(alone.GetHourCounts(), Error);
}

// ---- Over a real database
// ------------------------------------------------------

class LoginDbTest : public ::testing::TestWithParam<std::string> {};

// Three departments' worth of people: ann (dept 1, roles 1 and 2), ben
// (dept 2, role 3), "o'neil" (dept 2, no role), cy (dept 99, which does not
// exist).
void AddPeople(const TestDb& db) {
  db.Exec(
      "INSERT INTO HR_Dept (DeptID, DeptName) VALUES (1,'Board'),"
      "(2,'Accounts')");
  db.Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) VALUES "
      "(1,'ann','ann123','Ann Carter',1,'GM'),"
      "(2,'ben','ben123','Ben Ortiz',2,'ACC'),"
      "(3,'o''neil','pw','Pat O''Neil',2,NULL),"
      "(4,'cy','cy123','Cy Young',99,'X')");
  db.Exec(
      "INSERT INTO SYS_Role (RoleID, RoleName) VALUES (1,'Administrator'),"
      "(2,'Manager'),(3,'Clerk')");
  db.Exec(
      "INSERT INTO SYS_PersonRole (PersonID, RoleID) VALUES (1,2),(1,1),"
      "(2,3)");
}

// One login record at a given local time.
void Record(const TestDb& db, int person, const char* time, int ok = 1) {
  db.Exec(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "loginTime) VALUES (" +
      (person ? std::to_string(person) : std::string("NULL")) +
      ",'x','******'," + std::to_string(ok) + ",'" + time + "')");
}

struct Page {
  std::shared_ptr<MemoryContext> ctx = std::make_shared<MemoryContext>();
  Login login;
  Page(const TestDb& db, const std::string& name, const std::string& pwd) {
    MemoryRequest& req = *ctx->request_obj;
    req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
    req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
    req.Set(Collection::kServerVariables, "HTTP_USER_AGENT", "Moz 'x'");
    req.Set(Collection::kForm, "LoginName", name);
    req.Set(Collection::kForm, "LoginPwd", pwd);
    req.Set(Collection::kForm, "Screen", " 800'600 ");
    login.OnStartPage(ctx);
    login.SetConn(db.conn());
  }
  Variant Session(const char* key) const { return ctx->session_obj->Get(key); }
};

TEST_P(LoginDbTest, SignInFillsTheSessionAndRecordsTheAttempt) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Page page(db, " ann ", "ann123");
  page.login.LoginMain();

  EXPECT_EQ(page.Session("PersonID"), Variant::Long(1));
  EXPECT_EQ(page.Session("PersonName"), Variant::String("Ann Carter"));
  EXPECT_EQ(page.Session("DeptID"), Variant::Long(1));
  EXPECT_EQ(page.Session("jobid"), Variant::String("GM"));
  // Ascending role identifier, whatever the order of assignment.
  EXPECT_EQ(page.Session("RoleID"), Variant::String("1,2"));
  EXPECT_EQ(page.Session("Role"), Variant::String("Administrator,Manager"));
  EXPECT_TRUE(page.ctx->response_obj->ended());

  const VariantArray rec = page.login.GetData(1);
  ASSERT_EQ(rec.UBound(1), 9);
  EXPECT_EQ(rec(1), Variant::Long(1));             // personID
  EXPECT_EQ(rec(2), Variant::String("ann"));       // LoginAccount
  EXPECT_EQ(rec(3), Variant::String("******"));    // LoginPwd
  EXPECT_EQ(rec(4), Variant::Long(1));             // LoginOK
  EXPECT_EQ(rec(5), Variant::String("10.0.0.8"));  // LoginIP
  EXPECT_EQ(rec(6), Variant::String("Moz x"));     // LoginMemo
  EXPECT_EQ(rec(7), Variant::String("800600"));    // LoginScreen
  EXPECT_EQ(rec(8).kind(), Kind::kDate);           // loginTime
  EXPECT_LT(Date::Now().serial - rec(8).date().serial, 1.0 / 24);
  EXPECT_TRUE(rec(9).is_null());  // loginOutTime
}

TEST_P(LoginDbTest, FailedSignInRecordsNeitherPersonNorTypedPassword) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Page page(db, "ann", "it's wrong");
  page.login.LoginMain();

  EXPECT_EQ(page.Session("PersonID"), Variant::String(""));
  EXPECT_FALSE(page.ctx->response_obj->ended());
  const VariantArray rec = page.login.GetData(1);
  EXPECT_TRUE(rec(1).is_null());
  EXPECT_EQ(rec(3), Variant::String("******"));
  EXPECT_EQ(
      db.Scalar("select count(*) from HR_Login where LoginPwd like '%wrong%'"),
      Variant::Long(0));
  EXPECT_EQ(rec(4), Variant::Long(0));
  // No per-person result shows it.
  EXPECT_EQ(page.login.GetAllData().UBound(1), 0);
}

TEST_P(LoginDbTest, AnAccountWithAQuoteSignsInAndIsRecordedAsTyped) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Page page(db, "o'neil", "pw");
  page.login.LoginMain();
  EXPECT_EQ(page.Session("PersonID"), Variant::Long(3));
  EXPECT_TRUE(page.Session("jobid").is_null());
  EXPECT_EQ(page.Session("RoleID"), Variant());
  EXPECT_EQ(page.login.GetData(1)(2), Variant::String("o'neil"));
  // The remembered name is as typed; "name" keeps the doubled form.
  EXPECT_EQ(page.ctx->response_obj->cookie("pname")->value, "o'neil");
  EXPECT_EQ(page.ctx->response_obj->cookie("name")->value, "o''neil");
}

TEST_P(LoginDbTest, AQuoteCannotWidenTheMatch) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Page page(db, "ann", "' or '1'='1");
  page.login.LoginMain();
  EXPECT_EQ(page.Session("PersonID"), Variant::String(""));
  EXPECT_EQ(page.login.GetData(1)(4), Variant::Long(0));  // LoginOK
}

TEST_P(LoginDbTest, SummaryOfSuccessfulSignInsLatestFirst) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Login login;
  login.SetConn(db.conn());

  // No successful sign-in yet: the names row alone.
  Record(db, 0, "2003-05-06 08:00:00", 0);
  Record(db, 1, "2003-05-06 08:00:00", 0);
  // The names as each database reports them: SQLite gives the column's
  // name as its table declares it, PostgreSQL folds it to lower case.
  EXPECT_EQ(login.GetAllData().Dump(),
            GetParam() == "sqlite"
                ? "(0 To 0, 0 To 4) [personID] [PersonName] [lastTime] "
                  "[outTime] [Times]"
                : "(0 To 0, 0 To 4) [personid] [personname] [lasttime] "
                  "[outtime] [times]");

  Record(db, 1, "2003-05-06 08:00:00");
  Record(db, 1, "2003-05-07 09:30:00");
  Record(db, 2, "2003-05-08 07:00:00");
  Record(db, 3, "2003-05-01 10:00:00");
  db.Exec(
      "UPDATE HR_Login SET loginOutTime='2003-05-06 17:00:00' WHERE "
      "personID=1 AND loginTime='2003-05-06 08:00:00' AND LoginOK=1");
  const VariantArray all = login.GetAllData();
  ASSERT_EQ(all.bounds(), (std::vector<VariantArray::Bounds>{{0, 3}, {0, 4}}));
  EXPECT_EQ(all.Dump().substr(all.Dump().find("[2]")),
            "[2] [Ben Ortiz] [2003-05-08 07:00:00] [Null] [1] "
            "[1] [Ann Carter] [2003-05-07 09:30:00] [2003-05-06 17:00:00] [2] "
            "[3] [Pat O'Neil] [2003-05-01 10:00:00] [Null] [1]");
  EXPECT_EQ(all(1, 2).kind(), Kind::kDate);
}

TEST_P(LoginDbTest, OnePersonsRecordsNewestFirst) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Record(db, 1, "2003-05-06 08:00:00");
  Record(db, 2, "2003-05-06 09:00:00");
  Record(db, 1, "2003-05-07 08:00:00");
  Login login;
  login.SetConn(db.conn());

  const VariantArray two = login.GetPersonData(Variant::Long(1));
  ASSERT_EQ(two.bounds(), (std::vector<VariantArray::Bounds>{{0, 9}, {0, 1}}));
  EXPECT_EQ(two(0, 0), Variant::Long(3));  // LoginID of the newer record
  EXPECT_EQ(two(0, 1), Variant::Long(1));
  EXPECT_EQ(two(8, 0).ToText(), "2003-05-07 08:00:00");

  // Nobody's records: the column names as a single row.
  const VariantArray empty = login.GetPersonData(Variant::String("4"));
  ASSERT_EQ(empty.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 0}, {0, 9}}));
  // The table's names as the database reports them (PostgreSQL folds them).
  const std::string names =
      "[LoginID] [personID] [LoginAccount] [LoginPwd] [LoginOK] [LoginIP] "
      "[LoginMemo] [LoginScreen] [loginTime] [loginOutTime]";
  EXPECT_EQ(empty.Dump(), "(0 To 0, 0 To 9) " +
                              (GetParam() == "sqlite" ? names : Lower(names)));
}

TEST_P(LoginDbTest, MonthViewCountsFromSixOClock) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Login login;
  login.SetConn(db.conn());

  // Only early hours: nothing.
  Record(db, 1, "2003-04-02 05:59:59");
  Record(db, 1, "2003-04-03 00:00:00");
  EXPECT_EQ(login.GetMonthLogin(Variant::String("2003-04-15")).array(),
            VariantArray::EmptyGrid());

  Record(db, 1, "2003-05-06 05:30:00");
  Record(db, 1, "2003-05-06 09:10:00");
  Record(db, 1, "2003-05-06 07:50:00");
  Record(db, 1, "2003-05-07 06:00:00");
  Record(db, 2, "2003-05-06 11:00:00", 0);  // counted: the view ignores LoginOK
  Record(db, 0, "2003-05-06 08:00:00", 0);  // no person: drops out
  Record(db, 4, "2003-05-06 08:00:00");     // no department row: drops out
  Record(db, 2, "2003-06-01 08:00:00");     // next month
  const Variant v = login.GetMonthLogin(
      Variant::FromDate(Date::FromParts(2003, 5, 31, 23, 0)));
  const VariantArray& month = v.array();
  ASSERT_EQ(month.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 5}, {0, 2}}));
  // Field first; rows by department, then person (ann's days in any order).
  EXPECT_EQ(month(0, 2), Variant::Long(2));
  EXPECT_EQ(month(2, 2), Variant::Long(2));
  EXPECT_EQ(month(3, 2), Variant::Long(6));
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(month(0, r), Variant::Long(1));
    EXPECT_EQ(month(1, r), Variant::String("Ann Carter"));
    if (month(3, r) == Variant::Long(6)) {
      EXPECT_EQ(month(4, r), Variant::String("2003-05-06 07:50"));
      EXPECT_EQ(month(5, r), Variant::Long(2));
    } else {
      EXPECT_EQ(month(3, r), Variant::Long(7));
      EXPECT_EQ(month(4, r), Variant::String("2003-05-07 06:00"));
      EXPECT_EQ(month(5, r), Variant::Long(1));
    }
  }
}

TEST_P(LoginDbTest, MonthViewOfTheFirstAndLastMonthsThatCanBeAsked) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Record(db, 1, "0100-01-01 08:00:00");
  Record(db, 1, "9999-12-31 23:59:59");
  Record(db, 2, "9999-12-01 06:00:00");
  Record(db, 2, "9999-11-30 23:59:59");
  Login login;
  login.SetConn(db.conn());
  const VariantArray first =
      login.GetMonthLogin(Variant::String("0100-01-31")).array();
  EXPECT_EQ(first.Dump(),
            "(0 To 5, 0 To 0) [1] [Ann Carter] [1] [1] [0100-01-01 08:00] [1]");
  const VariantArray last =
      login.GetMonthLogin(Variant::String("9999-12-15")).array();
  EXPECT_EQ(last.Dump(),
            "(0 To 5, 0 To 1) [1] [2] [Ann Carter] [Ben Ortiz] [1] [2] [31] "
            "[1] [9999-12-31 23:59] [9999-12-01 06:00] [1] [1]");
}

TEST_P(LoginDbTest, OneRecordByIdentifier) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Login login;
  login.SetConn(db.conn());
  EXPECT_EQ(login.GetData(1).Dump(), "(0 To 0) []");

  db.Exec(
      "INSERT INTO HR_Login (LoginID, personID, LoginAccount, LoginOK, "
      "loginTime) VALUES (40000, 2, 'ben', 1, '2003-05-06 08:00:00')");
  const VariantArray rec = login.GetData(40000);
  ASSERT_EQ(rec.bounds(), (std::vector<VariantArray::Bounds>{{0, 9}}));
  EXPECT_EQ(rec(0), Variant::Long(40000));
  EXPECT_EQ(rec(2), Variant::String("ben"));
}

// The counts as "label ok failed" lines, field first as the class gives
// them.
std::vector<std::string> CountLines(const VariantArray& counts) {
  std::vector<std::string> lines;
  for (int32_t r = 0; r <= counts.UBound(2); ++r) {
    lines.push_back(counts(0, r).ToText() + " " + counts(1, r).Debug() + " " +
                    counts(2, r).Debug());
  }
  return lines;
}

TEST_P(LoginDbTest, DayCountsAreTheLastThirtyDaysWithZerosBetween) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Login login;
  login.SetConn(db.conn());
  const std::string today = db.Day();
  const auto at = [&](int days_back, const char* clock) {
    return db.Day(days_back) + " " + clock;
  };
  Record(db, 1, at(0, "00:00:00").c_str());
  Record(db, 2, at(0, "23:59:59").c_str());
  Record(db, 0, at(0, "12:00:00").c_str(), 0);
  Record(db, 1, at(2, "08:00:00").c_str(), 0);
  Record(db, 0, at(2, "08:00:01").c_str(), 0);
  Record(db, 0, at(2, "09:00:00").c_str(), 0);
  Record(db, 3, at(17, "10:00:00").c_str());
  Record(db, 3, at(29, "00:00:00").c_str());  // the first day shown
  Record(db, 3, at(30, "23:59:59").c_str());  // one day too early
  Record(db, 1, at(-1, "00:00:00").c_str());  // tomorrow
  // Neither a success nor a failure as the records store them.
  Record(db, 1, at(5, "08:00:00").c_str(), 2);

  const VariantArray days = login.GetDayCounts();
  if (db.Day() != today) GTEST_SKIP() << "midnight passed";
  ASSERT_EQ(days.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 2}, {0, 29}}));
  std::vector<std::string> expected;
  for (int back = 29; back >= 0; --back) {
    const char* counts = back == 0    ? "Long(2) Long(1)"
                         : back == 2  ? "Long(0) Long(3)"
                         : back == 17 ? "Long(1) Long(0)"
                         : back == 29 ? "Long(1) Long(0)"
                                      : "Long(0) Long(0)";
    expected.push_back(db.Day(back) + " " + counts);
  }
  EXPECT_EQ(CountLines(days), expected);
  EXPECT_EQ(days(0, 0).kind(), Kind::kString);
}

TEST_P(LoginDbTest, HourCountsAreTheTwentyFourHoursOfToday) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  Login login;
  login.SetConn(db.conn());
  const std::string today = db.Day();
  Record(db, 1, (today + " 00:00:00").c_str());
  Record(db, 1, (today + " 00:59:59").c_str(), 0);
  Record(db, 2, (today + " 09:00:00").c_str());
  Record(db, 2, (today + " 09:30:00").c_str());
  Record(db, 0, (today + " 09:59:59").c_str(), 0);
  Record(db, 3, (today + " 23:59:59").c_str());
  // Yesterday's and tomorrow's hours are not today's.
  Record(db, 3, (db.Day(1) + " 09:15:00").c_str());
  Record(db, 3, (db.Day(-1) + " 00:00:00").c_str(), 0);

  const VariantArray hours = login.GetHourCounts();
  if (db.Day() != today) GTEST_SKIP() << "midnight passed";
  ASSERT_EQ(hours.bounds(),
            (std::vector<VariantArray::Bounds>{{0, 2}, {0, 23}}));
  std::vector<std::string> expected;
  for (int h = 0; h < 24; ++h) {
    const char* counts = h == 0    ? "Long(1) Long(1)"
                         : h == 9  ? "Long(2) Long(1)"
                         : h == 23 ? "Long(1) Long(0)"
                                   : "Long(0) Long(0)";
    expected.push_back(std::to_string(h) + " " + counts);
  }
  EXPECT_EQ(CountLines(hours), expected);
  EXPECT_EQ(hours(0, 5), Variant::Long(5));

  // With no record at all: every period, each zero.
  db.Exec("DELETE FROM HR_Login");
  for (const VariantArray& none :
       {login.GetDayCounts(), login.GetHourCounts()}) {
    for (const std::string& line : CountLines(none)) {
      EXPECT_EQ(line.substr(line.find(' ')), " Long(0) Long(0)");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, LoginDbTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven
