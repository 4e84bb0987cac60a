// The login records a page at a time: the statements, the bounds checked
// before them, and over a real database the summary and the counts per
// hour that the triggers keep, which must say what grouping every record
// says, whatever was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
#include "wrenhaven/retention.h"
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

// ---- The month calendar's kept people (HR_LoginMonth)

std::string MonthTime(int month, int day, int hour, int minute = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "2003-%02d-%02d %02d:%02d:00", month, day,
                hour, minute);
  return buf;
}

// The lines of a query's rows, each value as text, joined by spaces.
std::vector<std::string> Lines(const TestDb& db, const std::string& query) {
  std::vector<std::string> out;
  auto rs = db.conn()->Open(query, CursorType::kForwardOnly);
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string line;
    for (int i = 0; i < rs->FieldCount(); ++i) {
      line += (i ? " " : "") + rs->Value(i).ToText();
    }
    out.push_back(line);
  }
  return out;
}

// What the kept table holds, and what the records and the personnel table
// say it should hold: per person and month, the records from six on, under
// the person's department now.
struct MonthCounts {
  std::vector<std::string> kept, records;
};
MonthCounts CountMonths(const TestDb& db) {
  const bool sqlite = db.conn()->dialect().name() == "sqlite";
  const std::string month =
      sqlite ? "substr(Month,1,7)" : "to_char(Month, 'YYYY-MM')";
  const std::string login_month =
      sqlite ? "substr(l.loginTime,1,7)" : "to_char(l.loginTime, 'YYYY-MM')";
  const std::string hour = sqlite ? "CAST(substr(l.loginTime,12,2) AS INTEGER)"
                                  : "EXTRACT(HOUR FROM l.loginTime)";
  return {Lines(db, "SELECT personID, " + month +
                        ", DeptID, Times FROM HR_LoginMonth ORDER BY 1, 2"),
          Lines(db, "SELECT l.personID, " + login_month +
                        ", p.DeptID, COUNT(*) FROM HR_Login l LEFT JOIN "
                        "HR_person p ON p.PersonID = l.personID WHERE "
                        "l.personID IS NOT NULL AND " +
                        hour + " > 5 GROUP BY l.personID, " + login_month +
                        ", p.DeptID ORDER BY 1, 2")};
}

// A calendar row: person, name, department, day, first time, count.
using DayRow = std::vector<std::string>;
std::vector<DayRow> DayRows(const VariantArray& m) {
  std::vector<DayRow> rows;
  if (m.UBound(1) == 0) return rows;  // none
  for (int32_t r = 0; r <= m.UBound(2); ++r) {
    DayRow row;
    for (int32_t f = 0; f <= 5; ++f) row.push_back(m(f, r).ToText());
    rows.push_back(row);
  }
  return rows;
}

// The whole month's rows in the calendar's order (department, person,
// day), cut into pages of `per_page` people, against the pages the
// calendar reads; the number of pages.
size_t ExpectPagesAreTheMonth(Login& login, const Variant& month,
                              int32_t per_page) {
  std::vector<DayRow> whole = DayRows(login.GetMonthLogin(month).array());
  const auto number = [](const std::string& t) { return std::stoll(t); };
  std::stable_sort(whole.begin(), whole.end(),
                   [&](const DayRow& a, const DayRow& b) {
                     for (const int f : {2, 0, 3}) {
                       if (number(a[f]) != number(b[f]))
                         return number(a[f]) < number(b[f]);
                     }
                     return false;
                   });
  std::vector<std::vector<DayRow>> expected;
  int32_t people_on_page = per_page;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i == 0 || whole[i][0] != whole[i - 1][0]) {
      if (people_on_page == per_page) {
        expected.emplace_back();
        people_on_page = 0;
      }
      ++people_on_page;
    }
    expected.back().push_back(whole[i]);
  }
  for (size_t page = 0; page <= expected.size(); ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const std::vector<DayRow> read =
        DayRows(login
                    .GetMonthLoginPage(
                        month, static_cast<int32_t>(page) * per_page, per_page)
                    .array());
    EXPECT_EQ(read,
              page < expected.size() ? expected[page] : std::vector<DayRow>{});
  }
  return expected.size();
}

TEST_P(LoginPagesDbTest, TheMonthTableFollowsEveryWriteOfRecordsAndPeople) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 12);
  Login login;
  login.SetConn(db.conn());
  const auto same = [&](const std::string& after) {
    SCOPED_TRACE(after);
    const MonthCounts counts = CountMonths(db);
    EXPECT_EQ(counts.kept, counts.records);
    ExpectPagesAreTheMonth(login, Variant::String("2003-05-01"), 2);
  };

  // Random writes of the records (as for the summary, over two months and
  // every hour) and of the people: a department changed, one person or
  // several at once, a person removed and one added (also for records
  // written before), a person's number changed.
  std::mt19937 random(11);
  auto pick = [&](int n) {
    return std::uniform_int_distribution<int>(1, n)(random);
  };
  std::vector<int> people = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  int next_person = 13;
  for (int step = 0; step < 120; ++step) {
    const int what = pick(15);
    const std::string person = std::to_string(pick(next_person + 1));
    const std::string id = std::to_string(pick(step + 1));
    const std::string when =
        MonthTime(pick(2) + 4, pick(28), pick(24) - 1, pick(59));
    switch (what) {
      case 1:
      case 2:
      case 3:
        Record(db, person, when, what == 3 ? 0 : 1);
        break;
      case 4:
        Record(db, "NULL", when, 1);
        break;
      case 5:
        db.Exec("UPDATE HR_Login SET loginTime='" + when +
                "' WHERE LoginID=" + id);
        break;
      case 6:
        db.Exec("UPDATE HR_Login SET personID=" + person +
                " WHERE LoginID=" + id);
        break;
      case 7:
        db.Exec("DELETE FROM HR_Login WHERE LoginID=" + id);
        break;
      case 8:
        db.Exec(
            "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
            "loginTime) VALUES (" +
            person + ",'x','******',1,'" + MonthTime(5, pick(28), 7) + "'),(" +
            person + ",'x','******',1,'" + MonthTime(5, pick(28), 5) + "'),(" +
            person + ",'x','******',0,'" + MonthTime(6, pick(28), 9) + "')");
        break;
      case 9:
        db.Exec("UPDATE HR_Login SET personID=" + person +
                " WHERE personID=" + std::to_string(pick(12)));
        break;
      case 10:
        db.Exec("UPDATE HR_person SET DeptID=" + std::to_string(pick(3)) +
                " WHERE PersonID=" + person);
        break;
      case 11:
        db.Exec("UPDATE HR_person SET DeptID=" + std::to_string(pick(4) - 1) +
                " WHERE PersonID > " + std::to_string(pick(12)));
        break;
      case 12:
        db.Exec("DELETE FROM HR_person WHERE PersonID=" + person);
        break;
      case 13:
        // Somebody for the number records were written for already.
        db.Exec(
            "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
            "PersonName, DeptID) VALUES (" +
            std::to_string(next_person) + ",'n" + std::to_string(next_person) +
            "','x','New " + std::to_string(next_person) + "'," +
            std::to_string(pick(2)) + ")");
        ++next_person;
        break;
      case 14:
        db.Exec("UPDATE HR_person SET PersonID=" + std::to_string(next_person) +
                " WHERE PersonID=" + person);
        ++next_person;
        break;
      default: {
        RetentionOptions prune;
        prune.before = MonthTime(5, pick(12), 12);
        prune.prune = true;
        prune.batch_rows = 3;
        KeepRecords(*db.conn(), prune);
        break;
      }
    }
    same("step " + std::to_string(step) + ", write " + std::to_string(what));
  }
  EXPECT_GT(CountMonths(db).kept.size(), 5u);

  db.Exec("DELETE FROM HR_person");
  same("no people");
  db.Exec("DELETE FROM HR_Login");
  EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginMonth").ToLong(), 0);
  if (GetParam() == "postgresql") {
    db.Exec(
        "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
        "PersonName, DeptID) VALUES (2,'p2','x','Person 2',1)");
    Record(db, "2", MonthTime(5, 7, 8), 1);
    EXPECT_EQ(CountMonths(db).kept, std::vector<std::string>{"2 2003-05 1 1"});
    db.Exec("TRUNCATE HR_person");
    same("people truncated");
    db.Exec("TRUNCATE HR_Login");
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM HR_LoginMonth").ToLong(), 0);
  }
}

TEST_P(LoginPagesDbTest, CalendarPagesAreTheWholeMonthForAMonthWithGaps) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 40);
  // In May: the odd persons from 7 to 39, on a few days each, twice on
  // some; persons 4 and 5 only before six (not shown); person 10 in April
  // and June alone; person 41 has no personnel row; persons 11, 17, 23 ...
  // are in the department without a row (not shown).
  for (int p = 7; p <= 39; p += 2) {
    for (int d = 1; d <= p % 4 + 1; ++d) {
      Record(db, std::to_string(p), MonthTime(5, d * 3, 8 + p % 5, p), 1);
      if (d == 2) Record(db, std::to_string(p), MonthTime(5, d * 3, 7), 0);
    }
  }
  Record(db, "4", MonthTime(5, 2, 5, 59), 1);
  Record(db, "5", MonthTime(5, 2, 3), 1);
  Record(db, "10", MonthTime(4, 30, 23), 1);
  Record(db, "10", MonthTime(6, 1, 0), 1);
  Record(db, "10", MonthTime(6, 1, 9), 1);
  Record(db, "41", MonthTime(5, 9, 9), 1);
  Record(db, "1", MonthTime(5, 31, 23, 59), 1);
  // Moved after their records: person 11 from the department without a
  // row to the first, 13 from the second to it; person 21 gone. Shown:
  // 9, 11, 13, 15, 27, 33, 39 of the first department, then 1, 7, 19, 25,
  // 31, 37 of the second.
  db.Exec("UPDATE HR_person SET DeptID=1 WHERE PersonID IN (11, 13)");
  db.Exec("DELETE FROM HR_person WHERE PersonID=21");
  Login login;
  login.SetConn(db.conn());
  const Variant may = Variant::String("2003-05-01");
  // Pages of three people, then one person a page.
  EXPECT_EQ(ExpectPagesAreTheMonth(login, may, 3), 5u);
  EXPECT_EQ(ExpectPagesAreTheMonth(login, may, 1), 13u);
  // The first page of two: person 9 on the 3rd and the 6th (twice, the
  // failed attempt at seven first), then person 11 moved in.
  const std::vector<DayRow> first =
      DayRows(login.GetMonthLoginPage(may, 0, 2).array());
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(first[0],
            (DayRow{"9", "Person 9", "1", "3", "2003-05-03 12:09", "1"}));
  EXPECT_EQ(first[1],
            (DayRow{"9", "Person 9", "1", "6", "2003-05-06 07:00", "2"}));
  EXPECT_EQ(first[2][0], "11");
  // The second department starts with person 1's late sign-in.
  EXPECT_EQ(DayRows(login.GetMonthLoginPage(may, 7, 1).array()),
            (std::vector<DayRow>{
                {"1", "Person 1", "2", "31", "2003-05-31 23:59", "1"}}));
  // Past the last page: nothing.
  EXPECT_TRUE(DayRows(login.GetMonthLoginPage(may, 13, 5).array()).empty());
}

TEST_P(LoginPagesDbTest, AnOlderDatabaseGetsItsMonthTableFromItsRecords) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db, 4);
  for (const char* t : {"insert", "update", "delete", "truncate"}) {
    if (GetParam() == "sqlite" && std::string(t) == "truncate") continue;
    for (const char* table : {"HR_Login", "HR_person"}) {
      const std::string name = std::string(table) + "_month_" + t;
      db.Exec(GetParam() == "sqlite" ? "DROP TRIGGER " + name
                                     : "DROP TRIGGER " + name + " ON " + table);
    }
  }
  db.Exec("DROP TABLE HR_LoginMonth");
  Record(db, "1", MonthTime(5, 1, 8), 1);
  Record(db, "1", MonthTime(5, 2, 8), 0);
  Record(db, "1", MonthTime(5, 3, 4), 1);
  Record(db, "2", MonthTime(6, 2, 9), 1);
  Record(db, "9", MonthTime(5, 2, 9), 1);

  CreateSchema(*db.conn());
  MonthCounts counts = CountMonths(db);
  EXPECT_EQ(counts.kept, counts.records);
  EXPECT_EQ(counts.kept.size(), 3u);
  // Made again, the schema neither fills it twice nor loses what follows.
  CreateSchema(*db.conn());
  Record(db, "1", MonthTime(5, 4, 9), 1);
  counts = CountMonths(db);
  EXPECT_EQ(counts.kept, counts.records);
  EXPECT_EQ(counts.kept.front(), "1 2003-05 2 3");
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
