// The login records a page at a time: the statements, the bounds checked
// before them, and over a real database the summary and the counts per
// hour that the triggers keep, which must say what grouping every record
// says, whatever was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/schema.h"

namespace wrenhaven {
namespace {

struct Recorded {
  std::shared_ptr<RecordingConnection> conn =
      std::make_shared<RecordingConnection>();
  Login login;
  Recorded() { login.SetConn(conn); }
};

TEST(LoginPagesTextTest, EachPageIsCutInItsStatement) {
  Recorded r;
  r.login.GetSummaryPage(100, 51);
  r.login.GetPersonPage(Variant::String("12"), 0, 1);
  r.login.GetMonthLoginPage(Variant::String("2003-05-06"), 50, 51);
  EXPECT_EQ(
      r.conn->sent,
      (std::vector<std::string>{
          "SELECT HR_LoginSummary.personID AS PersonID, personName, "
          "lastTime, outTime, Times FROM HR_LoginSummary JOIN HR_person ON "
          "HR_LoginSummary.personID = HR_person.personID ORDER BY lastTime "
          "DESC, HR_LoginSummary.personID OFFSET 100 ROWS FETCH NEXT 51 ROWS "
          "ONLY",
          "SELECT * from hr_login where personID=12 order by loginTime desc, "
          "LoginID desc OFFSET 0 ROWS FETCH NEXT 1 ROWS ONLY",
          "SELECT  HR_Login.PersonID,p.personName,p.DeptID, day(loginTime), "
          "CONVERT(char(16), min(loginTime), 120),count(*) FROM (SELECT "
          "HR_person.PersonID,HR_person.personName,HR_person.DeptID FROM "
          "HR_person JOIN HR_Dept ON HR_person.DeptID=HR_Dept.DeptID WHERE "
          "EXISTS (SELECT 1 FROM HR_Login WHERE HR_Login.personID = "
          "HR_person.PersonID AND YEAR(loginTime) =2003 and "
          "month(loginTime)=5 and DATEPART(hh, loginTime)>5) ORDER BY "
          "HR_person.DeptID,HR_person.PersonID OFFSET 50 ROWS FETCH NEXT 51 "
          "ROWS ONLY) p JOIN HR_login ON HR_Login.personID = p.PersonID AND "
          "YEAR(loginTime) =2003 and month(loginTime)=5 and DATEPART(hh, "
          "loginTime)>5 GROUP BY HR_Login.PersonID,p.personName,p.DeptID, "
          "day(loginTime) ORDER BY p.DeptID,HR_Login.personID",
      }));
}

TEST(LoginPagesTextTest, BadBoundsAreRefusedBeforeAnyStatement) {
  Recorded r;
  for (const auto& [first, most] :
       std::vector<std::pair<int32_t, int32_t>>{{-1, 10},
                                                {INT32_MIN, 10},
                                                {0, 0},
                                                {0, -5},
                                                {0, Login::kMostPageRows + 1},
                                                {0, INT32_MAX}}) {
    SCOPED_TRACE(std::to_string(first) + " " + std::to_string(most));
    EXPECT_THROW(r.login.GetSummaryPage(first, most), Error);
    EXPECT_NE(r.login.GetError().find("must be"), std::string::npos);
    EXPECT_THROW(r.login.GetPersonPage(Variant::Long(1), first, most), Error);
    EXPECT_THROW(
        r.login.GetMonthLoginPage(Variant::String("2003-05-06"), first, most),
        Error);
  }
  EXPECT_THROW(r.login.GetPersonPage(Variant::String("1 or 1=1"), 0, 5), Error);
  EXPECT_THROW(r.login.GetMonthLoginPage(Variant::Double(1e300), 0, 5), Error);
  EXPECT_NE(r.login.GetError().find("Overflow"), std::string::npos);
  EXPECT_TRUE(r.conn->sent.empty());
}

// ---- Over a real database
// ------------------------------------------------------

class LoginPagesDbTest : public ::testing::TestWithParam<std::string> {};

// `people` people in three departments (the third has no HR_Dept row).
void AddPeople(const TestDb& db, int people) {
  db.Exec(
      "INSERT INTO HR_Dept (DeptID, DeptName) VALUES (1,'Board'),"
      "(2,'Accounts')");
  std::string values;
  for (int p = 1; p <= people; ++p) {
    values += std::string(values.empty() ? "" : ",") + "(" + std::to_string(p) +
              ",'p" + std::to_string(p) + "','x','Person " + std::to_string(p) +
              "'," + std::to_string(p % 3 + 1) + ")";
  }
  db.Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID) VALUES " +
      values);
}

std::string Time(int day, int hour, int minute = 0) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "2003-05-%02d %02d:%02d:00", day, hour,
                minute);
  return buf;
}

void Record(const TestDb& db, const std::string& person,
            const std::string& time, int ok, const std::string& out = "NULL") {
  db.Exec(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "loginTime, loginOutTime) VALUES (" +
      person + ",'x','******'," + std::to_string(ok) + ",'" + time + "'," +
      (out == "NULL" ? out : "'" + out + "'") + ")");
}

// A summary's rows (after the names row) as text, in the order given, and
// sorted the way the page orders them.
using Row =
    std::tuple<std::string, std::string, std::string, std::string, std::string>;
std::vector<Row> Rows(const VariantArray& summary) {
  std::vector<Row> rows;
  for (int32_t r = 1; r <= summary.UBound(1); ++r) {
    rows.emplace_back(summary(r, 0).ToText(), summary(r, 1).ToText(),
                      summary(r, 2).ToText(), summary(r, 3).ToText(),
                      summary(r, 4).ToText());
  }
  return rows;
}
std::vector<Row> PageOrder(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (std::get<2>(a) != std::get<2>(b))
      return std::get<2>(a) > std::get<2>(b);
    return std::stoi(std::get<0>(a)) < std::stoi(std::get<0>(b));
  });
  return rows;
}

TEST_P(LoginPagesDbTest, TheSummaryFollowsEveryWriteOfTheRecords) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 12);
  Login login;
  login.SetConn(db.conn());
  // The counts per hour, as the records give them and as kept.
  const bool sqlite = GetParam() == "sqlite";
  const std::string hour_of = sqlite ? "substr(loginTime,1,13)"
                                     : "to_char(loginTime, 'YYYY-MM-DD HH24')";
  const std::string kept_hour = sqlite
                                    ? "substr(HourStart,1,13)"
                                    : "to_char(HourStart, 'YYYY-MM-DD HH24')";
  const auto lines = [&](const std::string& query) {
    std::vector<std::string> out;
    auto rs = db.conn()->Open(query, CursorType::kForwardOnly);
    for (; !rs->Eof(); rs->MoveNext()) {
      out.push_back(rs->Value(0).ToText() + " " + rs->Value(1).ToText() + " " +
                    rs->Value(2).ToText());
    }
    return out;
  };
  const auto same = [&](const std::string& after) {
    SCOPED_TRACE(after);
    const std::vector<Row> grouped = Rows(login.GetAllData());
    const std::vector<Row> kept = Rows(login.GetSummaryPage(0, 1000));
    EXPECT_EQ(kept, PageOrder(grouped));
    EXPECT_EQ(lines("SELECT " + kept_hour +
                    ", OK, Failed FROM HR_LoginHours WHERE OK <> 0 OR "
                    "Failed <> 0 ORDER BY 1"),
              lines("SELECT " + hour_of +
                    ", SUM(CASE WHEN LoginOK = 1 THEN 1 ELSE 0 END), "
                    "SUM(CASE WHEN LoginOK = 0 THEN 1 ELSE 0 END) FROM "
                    "HR_Login GROUP BY 1 HAVING SUM(CASE WHEN LoginOK IN (0, "
                    "1) THEN 1 ELSE 0 END) > 0 ORDER BY 1"));
  };

  // Random writes of every kind an office's programs make, checked after
  // each: new records (some failed, some without a person, one for a
  // person without a personnel row), sign-outs, sign-outs taken back,
  // records moved to another person or time, results changed, deletes.
  std::mt19937 random(7);
  auto pick = [&](int n) {
    return std::uniform_int_distribution<int>(1, n)(random);
  };
  for (int step = 0; step < 90; ++step) {
    const int what = pick(12);
    const std::string person = std::to_string(pick(13));  // 13: nobody
    const std::string id = std::to_string(pick(step + 1));
    switch (what) {
      case 1:
      case 2:
      case 3:
        Record(db, person, Time(pick(28), pick(23), pick(59)),
               what == 3 ? 0 : 1);
        break;
      case 4:
        Record(db, "NULL", Time(pick(28), 8), 1);
        break;
      case 5:
        db.Exec("UPDATE HR_Login SET loginOutTime='" + Time(pick(28), 23) +
                "' WHERE LoginID=" + id);
        break;
      case 6:
        db.Exec("UPDATE HR_Login SET loginOutTime=NULL WHERE LoginID=" + id);
        break;
      case 7:
        db.Exec("UPDATE HR_Login SET personID=" + person + ", loginTime='" +
                Time(pick(28), 9) + "' WHERE LoginID=" + id);
        break;
      case 8:
        db.Exec("UPDATE HR_Login SET LoginOK=1-LoginOK WHERE LoginID=" + id);
        break;
      case 9:
        db.Exec("DELETE FROM HR_Login WHERE LoginID=" + id);
        break;
      // Statements that write many records at once, some of one person.
      case 10:
        db.Exec(
            "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
            "loginTime) VALUES (" +
            person + ",'x','******',1,'" + Time(pick(28), 7) + "'),(" + person +
            ",'x','******',1,'" + Time(pick(28), 8) + "'),(" + person +
            ",'x','******',0,'" + Time(pick(28), 9) + "')");
        break;
      case 11:
        db.Exec("UPDATE HR_Login SET personID=" + person +
                " WHERE personID=" + std::to_string(pick(12)));
        break;
      default:
        db.Exec("DELETE FROM HR_Login WHERE loginTime < '" + Time(pick(9), 12) +
                "'");
        break;
    }
    same("step " + std::to_string(step) + ", write " + std::to_string(what));
  }
  ASSERT_GT(Rows(login.GetAllData()).size(), 5u);

  // A sign-out of an older record leaves the latest sign-out alone; the
  // latest taken back falls to the one before it.
  db.Exec("DELETE FROM HR_Login");
  Record(db, "1", Time(5, 8), 1, Time(5, 17));
  Record(db, "1", Time(6, 8), 1);
  db.Exec("UPDATE HR_Login SET loginOutTime='" + Time(6, 18) +
          "' WHERE loginTime='" + Time(6, 8) + "'");
  EXPECT_EQ(std::get<3>(Rows(login.GetSummaryPage(0, 5)).at(0)).substr(0, 19),
            Time(6, 18));
  db.Exec("UPDATE HR_Login SET loginOutTime=NULL WHERE loginTime='" +
          Time(6, 8) + "'");
  EXPECT_EQ(std::get<3>(Rows(login.GetSummaryPage(0, 5)).at(0)).substr(0, 19),
            Time(5, 17));
  same("sign-outs");

  db.Exec("DELETE FROM HR_Login");
  EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginSummary").ToLong(), 0);
  same("all deleted");
  if (GetParam() == "postgresql") {
    Record(db, "2", Time(7, 8), 1);
    db.Exec("TRUNCATE HR_Login");
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginSummary").ToLong(), 0);
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginHours").ToLong(), 0);
  }
}

TEST_P(LoginPagesDbTest, AnOlderDatabaseGetsItsSummaryFromItsRecords) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 4);
  // A database made before the summary: no table, no triggers.
  if (GetParam() == "sqlite") {
    for (const char* t : {"insert", "update", "delete"}) {
      db.Exec(std::string("DROP TRIGGER HR_Login_summary_") + t);
    }
  } else {
    for (const char* t : {"insert", "update", "delete", "truncate"}) {
      db.Exec(std::string("DROP TRIGGER HR_Login_summary_") + t +
              " ON HR_Login");
    }
  }
  db.Exec("DROP TABLE HR_LoginSummary");
  db.Exec("DROP TABLE HR_LoginHours");
  Record(db, "1", Time(1, 8), 1, Time(1, 17));
  Record(db, "1", Time(2, 8), 1);
  Record(db, "2", Time(2, 9), 0);
  Record(db, "3", Time(3, 9), 1);

  CreateSchema(*db.conn());
  Login login;
  login.SetConn(db.conn());
  const std::vector<Row> kept = Rows(login.GetSummaryPage(0, 10));
  EXPECT_EQ(kept, PageOrder(Rows(login.GetAllData())));
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginHours").ToLong(), 4);
  EXPECT_EQ(db.Scalar("SELECT SUM(Failed) FROM HR_LoginHours").ToLong(), 1);
  // Made again, the schema neither fills it twice nor loses what follows.
  CreateSchema(*db.conn());
  Record(db, "3", Time(4, 9), 1);
  EXPECT_EQ(Rows(login.GetSummaryPage(0, 10)),
            PageOrder(Rows(login.GetAllData())));
  EXPECT_EQ(std::get<4>(Rows(login.GetSummaryPage(0, 1)).at(0)), "2");
}

TEST_P(LoginPagesDbTest, PagesPutTogetherAreTheWholeListing) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 9);
  // Persons 4 and 7 share their latest sign-in: the person decides.
  for (int p = 1; p <= 9; ++p) {
    Record(db, std::to_string(p), Time(p == 7 ? 4 : p, 8), 1);
    Record(db, std::to_string(p), Time(p == 7 ? 4 : p, 7), 1);
    Record(db, std::to_string(p), Time(1, 5), 1);  // before six: not counted
  }
  Record(db, "1", Time(20, 10), 1);
  Login login;
  login.SetConn(db.conn());

  // The summary, two at a time.
  std::vector<Row> paged;
  for (int32_t first = 0;; first += 2) {
    const VariantArray page = login.GetSummaryPage(first, 2);
    ASSERT_EQ(page.UBound(2), 4);
    ASSERT_LE(page.UBound(1), 2);
    if (page.UBound(1) == 0) break;
    for (const Row& row : Rows(page)) paged.push_back(row);
  }
  EXPECT_EQ(paged, PageOrder(Rows(login.GetAllData())));
  EXPECT_EQ(std::get<0>(paged.at(5)), "4");
  EXPECT_EQ(std::get<0>(paged.at(6)), "7");

  // One person's records, two at a time, newest first.
  const VariantArray all = login.GetPersonData(Variant::Long(1));
  std::vector<std::string> ids;
  for (int32_t first = 0; first < 10; first += 2) {
    const VariantArray page = login.GetPersonPage(Variant::Long(1), first, 2);
    if (page.UBound(1) == 0) break;  // the names row alone
    for (int32_t r = 0; r <= page.UBound(2); ++r) {
      ids.push_back(page(0, r).ToText());
    }
  }
  ASSERT_EQ(static_cast<int32_t>(ids.size()), all.UBound(2) + 1);
  for (int32_t r = 0; r <= all.UBound(2); ++r) {
    EXPECT_EQ(ids[static_cast<size_t>(r)], all(0, r).ToText());
  }

  // The month, people by department, two people at a time: the rows of
  // the whole month, in its order, for people with a record from six on.
  const Variant may = Variant::String("2003-05-01");
  const VariantArray whole = login.GetMonthLogin(may).array();
  std::vector<std::string> month_rows, paged_rows;
  auto text = [](const VariantArray& m, int32_t r) {
    return m(0, r).ToText() + " " + m(3, r).ToText() + " " + m(4, r).ToText() +
           " " + m(5, r).ToText();
  };
  for (int32_t r = 0; r <= whole.UBound(2); ++r) {
    month_rows.push_back(text(whole, r));
  }
  for (int32_t first = 0;; first += 2) {
    const VariantArray page = login.GetMonthLoginPage(may, first, 2).array();
    if (page.UBound(1) == 0) break;
    std::vector<std::string> people;
    for (int32_t r = 0; r <= page.UBound(2); ++r) {
      paged_rows.push_back(text(page, r));
      if (people.empty() || people.back() != page(0, r).ToText()) {
        people.push_back(page(0, r).ToText());
      }
    }
    EXPECT_LE(people.size(), 2u);
  }
  std::sort(month_rows.begin(), month_rows.end());
  std::sort(paged_rows.begin(), paged_rows.end());
  EXPECT_EQ(paged_rows, month_rows);
  // Persons 2, 5 and 8 belong to a department without a row: not shown.
  // The others have a day each, person 1 two.
  EXPECT_EQ(month_rows.size(), 7u);
}

INSTANTIATE_TEST_SUITE_P(Databases, LoginPagesDbTest,
                         ::testing::ValuesIn(TestDatabases()));

// SQLite reads a page of the summary through its index, in its order: no
// sort of the whole summary, nor a visit of the records.
TEST(LoginPagesPlanTest, TheSummaryPageWalksItsIndex) {
  TestDb db("sqlite", /*demo=*/false);
  std::unique_ptr<Recordset> rs = db.conn()->Open(
      "EXPLAIN QUERY PLAN SELECT HR_LoginSummary.personID AS PersonID, "
      "personName, lastTime, outTime, Times FROM HR_LoginSummary JOIN "
      "HR_person ON HR_LoginSummary.personID = HR_person.personID ORDER BY "
      "lastTime DESC, HR_LoginSummary.personID LIMIT 51 OFFSET 0",
      CursorType::kStatic);
  std::string plan;
  for (; !rs->Eof(); rs->MoveNext()) plan += rs->Value(3).ToText() + "\n";
  EXPECT_NE(plan.find("HR_LoginSummary_last"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
  EXPECT_EQ(plan.find("HR_Login "), std::string::npos) << plan;
}

}  // namespace
}  // namespace wrenhaven
