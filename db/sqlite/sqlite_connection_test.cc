#include <gtest/gtest.h>
#include <sqlite3.h>

#include <vector>

#include "frame/shapes.h"
#include "testing/test_db.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

TEST(SqliteTest, ValuesComeBackAsTheirKinds) {
  TestDb db;
  db.Exec(
      "CREATE TABLE t (i INTEGER, big INTEGER, r REAL, s TEXT, n TEXT, d "
      "DATETIME)");
  db.Exec(
      "INSERT INTO t VALUES (7, 5000000000, 2.5, 'x''y', NULL, '2003-05-06 "
      "08:12:45')");
  auto rs = db.conn()->Open(
      "SELECT i, big, r, s, n, d, MAX(d), substr(d,1,16) FROM t",
      CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Long(7));
  EXPECT_EQ(rs->Value(1), Variant::Double(5000000000.0));
  EXPECT_EQ(rs->Value(2), Variant::Double(2.5));
  EXPECT_EQ(rs->Value(3), Variant::String("x'y"));
  EXPECT_EQ(rs->Value(4), Variant::Null());
  EXPECT_EQ(rs->Value(5),
            Variant::FromDate(Date::FromParts(2003, 5, 6, 8, 12, 45)));
  EXPECT_EQ(rs->Value(6),
            Variant::FromDate(Date::FromParts(2003, 5, 6, 8, 12, 45)));
  EXPECT_EQ(rs->Value(7), Variant::String("2003-05-06 08:12"));
}

TEST(SqliteTest, ATextColumnHoldingADateShapedTextStaysText) {
  TestDb db;
  db.Exec(
      "INSERT INTO SYS_Function (FunName, FunMemo) VALUES ('x', '2003-05-06 "
      "08:12:45')");
  auto rs =
      db.conn()->Open("SELECT FunMemo FROM SYS_Function", CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::String("2003-05-06 08:12:45"));
}

TEST(SqliteTest, FieldsByIndexAndByNameIgnoringLetterCase) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  auto rs = db.conn()->Open("Select * from HR_person where PersonID=1",
                            CursorType::kStatic);
  EXPECT_EQ(rs->FieldName(0), "PersonID");
  EXPECT_EQ(rs->Value("PERSONACCOUNT"), Variant::String("ann"));
  EXPECT_EQ(rs->Value("personname"), rs->Value(3));
  EXPECT_THROW(rs->Value("nosuch"), Error);
  EXPECT_THROW(rs->FieldName(6), Error);
}

TEST(SqliteTest, StaticCursorCountsAndPages) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  auto rs = db.conn()->Open("Select * from SYS_Role order by RoleID",
                            CursorType::kStatic);
  EXPECT_EQ(rs->RecordCount(), 5);
  rs->SetPageSize(2);
  rs->SetAbsolutePage(3);
  EXPECT_EQ(rs->Value(0), Variant::Long(5));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(rs->SetAbsolutePage(4), Error);
  EXPECT_THROW(rs->SetAbsolutePage(0), Error);
  EXPECT_THROW(rs->SetPageSize(0), Error);
}

TEST(SqliteTest, ForwardOnlyCursorReadsOnceAndHasNoCount) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  auto rs = db.conn()->Open("Select RoleID from SYS_Role order by RoleID",
                            CursorType::kForwardOnly);
  EXPECT_THROW((void)rs->RecordCount(), Error);
  EXPECT_EQ(rs->GetRows().Dump(), "(0 To 0, 0 To 4) [1] [2] [3] [4] [5]");
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(rs->SetPageSize(2), Error);
}

TEST(SqliteTest, ASecondResultSetCanBeOpenWhileOneIs) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  auto outer = db.conn()->Open(
      "Select MenuID from SYS_Menu where MenuParentID IS NULL order by "
      "MenuOrder",
      CursorType::kForwardOnly);
  int children = 0;
  while (!outer->Eof()) {
    auto inner =
        db.conn()->Open("Select MenuID from SYS_Menu where MenuParentID=" +
                            outer->Value(0).ToText(),
                        CursorType::kForwardOnly);
    while (!inner->Eof()) {
      ++children;
      inner->MoveNext();
    }
    inner->Close();
    outer->MoveNext();
  }
  EXPECT_EQ(children, 18);
}

TEST(SqliteTest, RejectedStatementsCarryTheDatabaseMessage) {
  TestDb db;
  try {
    db.conn()->Execute("Delete from NoSuchTable");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kDatabase);
    EXPECT_NE(std::string(e.what()).find("no such table: NoSuchTable"),
              std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("Delete from NoSuchTable"),
              std::string::npos);
    EXPECT_EQ(CurrentError(), e.what());
  }
}

TEST(SqliteTest, OnlyOneStatementIsSentAtATime) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  EXPECT_THROW(db.conn()->Execute(
                   "Delete from SYS_Role where RoleID=1; delete from SYS_Role"),
               Error);
  EXPECT_EQ(db.Scalar("select count(*) from SYS_Role"), Variant::Long(5));
  EXPECT_THROW(db.conn()->Open("Select 1; Select 2", CursorType::kStatic),
               Error);
}

TEST(SqliteTest, AFileThatCannotBeOpenedRaises) {
  EXPECT_THROW(OpenSqlite("/nonexistent-dir/x.db"), Error);
  EXPECT_THROW(OpenSqlite("/tmp/wrenhaven-missing-file.db", /*create=*/false),
               Error);
}

TEST(SqliteTest, LoginTimeIsTheLocalTimeOfTheInsert) {
  TestDb db;
  const Date before = Date::Now();
  db.Exec("Insert into HR_Login(personID,LoginAccount) values(NULL,'x')");
  const Date stored = db.Scalar("select loginTime from HR_Login").ToDate();
  EXPECT_NEAR(stored.serial, before.serial, 5.0 / 86400);
}

// The month view reads only the month's records through the index.
TEST(SqliteTest, MonthViewSearchesTheTimeIndex) {
  TestDb db;
  {
    auto rs = db.conn()->Open(
        "EXPLAIN QUERY PLAN " + db.conn()->dialect().MonthLogin(2024, 12),
        CursorType::kStatic);
    std::string plan;
    while (!rs->Eof()) {
      plan += rs->Value(3).ToText() + "\n";
      rs->MoveNext();
    }
    EXPECT_NE(
        plan.find("USING INDEX HR_Login_time (loginTime>? AND loginTime<?)"),
        std::string::npos)
        << plan;
  }
}

}  // namespace
}  // namespace wrenhaven

namespace wrenhaven {
namespace {

// The connection keeps finished statements for reuse: the same text must
// still see the data as it is now, and a failed run must not poison it.
TEST(SqliteReuseTest, ARepeatedTextSeesCurrentDataAndRecoversFromFailure) {
  TestDb db;
  const std::string count = "select count(*) from SYS_Role";
  EXPECT_EQ(db.Scalar(count), Variant::Long(0));
  db.Exec("insert into SYS_Role (RoleName) values ('a')");
  EXPECT_EQ(db.Scalar(count), Variant::Long(1));
  db.Exec("insert into SYS_Role (RoleName) values ('b')");
  EXPECT_EQ(db.Scalar(count), Variant::Long(2));

  const std::string insert =
      "insert into SYS_right (menuID,roleID) values (1,1)";
  db.Exec(insert);
  EXPECT_THROW(db.Exec(insert), Error);  // the key is taken
  db.Exec("delete from SYS_right");
  db.Exec(insert);  // the same text runs again
  EXPECT_EQ(db.Scalar("select count(*) from SYS_right"), Variant::Long(1));
}

TEST(SqliteReuseTest, TheSameTextOpenTwiceAtOnceGivesTwoResults) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  const std::string text = "Select RoleID from SYS_Role order by RoleID";
  auto outer = db.conn()->Open(text, CursorType::kForwardOnly);
  auto inner = db.conn()->Open(text, CursorType::kForwardOnly);
  inner->MoveNext();
  EXPECT_EQ(outer->Value(0), Variant::Long(1));
  EXPECT_EQ(inner->Value(0), Variant::Long(2));
  auto again = db.conn()->Open(text, CursorType::kStatic);
  EXPECT_EQ(again->RecordCount(), 5);
  EXPECT_EQ(outer->Value(0), Variant::Long(1));
}

TEST(SqliteReuseTest, ManyDifferentTextsStayCorrect) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  for (int round = 0; round < 3; ++round) {
    for (int id = 1; id <= 100; ++id) {
      const Variant v = db.Scalar(
          "select count(*) from SYS_Menu where MenuID<=" + std::to_string(id));
      ASSERT_EQ(v, Variant::Long(id < 23 ? id : 23)) << id;
    }
  }
}

// A kept statement is reset to no values: the same text run without them
// does not find the last ones still bound.
TEST(SqliteTest, AKeptStatementHoldsNoValues) {
  TestDb db;
  Connection& conn = *db.conn();
  auto rs = conn.OpenWith("SELECT $1 AS v",
                          std::vector<Variant>{Variant::String("secret")},
                          CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::String("secret"));
  rs->Close();
  rs = conn.Open("SELECT $1 AS v", CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Null());
}

// A forward-only result set gives its statement back when it closes: the
// same text opened again starts at the first row, without the values of
// the last run, whether the last one was read to its end or not.
TEST(SqliteReuseTest, AForwardStatementComesBackFromItsFirstRowWithoutValues) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  Connection& conn = *db.conn();
  const std::string text =
      "Select RoleID from SYS_Role where RoleID >= coalesce($1, 4) "
      "order by RoleID";
  auto rs = conn.OpenWith(text, std::vector<Variant>{Variant::Long(2)},
                          CursorType::kForwardOnly);
  rs->MoveNext();
  EXPECT_EQ(rs->Value(0), Variant::Long(3));
  rs->Close();  // left half-way
  rs = conn.Open(text, CursorType::kForwardOnly);
  EXPECT_EQ(rs->GetRows().Dump(), "(0 To 0, 0 To 1) [4] [5]");
  rs.reset();  // read to its end and dropped without Close
  rs = conn.OpenWith(text, std::vector<Variant>{Variant::Long(5)},
                     CursorType::kForwardOnly);
  EXPECT_EQ(rs->GetRows().Dump(), "(0 To 0, 0 To 0) [5]");
}

// A result set may outlive its connection: it still reads its rows and
// closes without a shelf to give its statement to.
TEST(SqliteReuseTest, AForwardResultSetOutlivesItsConnection) {
  TestDb db(/*database=*/"sqlite", /*demo=*/true);
  std::shared_ptr<Connection> conn = db.Connections()();
  auto rs = conn->Open("Select RoleID from SYS_Role order by RoleID",
                       CursorType::kForwardOnly);
  conn.reset();
  EXPECT_EQ(rs->Value(0), Variant::Long(1));
  rs->MoveNext();
  EXPECT_EQ(rs->Value(0), Variant::Long(2));
  rs->Close();
}

// Only the marks $1, $2, ... take values: a parameter of another form
// would be left null.
TEST(SqliteTest, ParametersOfOtherFormsAreRefused) {
  TestDb db;
  for (const char* text :
       {"SELECT $1, ?", "SELECT $1, :name", "SELECT $1, @a"}) {
    try {
      db.conn()->OpenWith(text, std::vector<Variant>{Variant::Long(1)},
                          CursorType::kStatic);
      ADD_FAILURE() << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument) << e.what();
    }
  }
}

}  // namespace
}  // namespace wrenhaven
