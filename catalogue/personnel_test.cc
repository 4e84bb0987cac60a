// The personnel lookups: the exact statements they send and what each
// database answers to them.
#include "wrenhaven/personnel.h"

#include <gtest/gtest.h>

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

constexpr char kPeople[] =
    "Select HR_person.PersonID,PersonName,personAccount,HR_person.DeptID,"
    "DeptName from HR_person left join HR_Dept on "
    "HR_person.DeptID=HR_Dept.DeptID";

class PersonnelTest : public ::testing::TestWithParam<std::string> {};

// Two departments; cy's department has no row, dee has none at all.
void AddPeople(const TestDb& db) {
  db.Exec(
      "INSERT INTO HR_Dept (DeptID, DeptName) VALUES (2,'Accounts'),"
      "(1,'Board')");
  db.Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) VALUES "
      "(3,'o''neil','pw','Pat O''Neil',2,NULL),"
      "(1,'ann','ann123','Ann Carter',1,'GM'),"
      "(4,'cy','cy123','Cy Young',99,'X'),"
      "(5,'dee','dee123','Dee Lane',NULL,'X')");
}

TEST_P(PersonnelTest, EachLookupSendsItsStatementAndReadsItsRows) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  auto tap = std::make_shared<TappedConnection>(db.conn());
  Personnel personnel;
  personnel.SetConn(tap);
  auto dump = [](const VariantArray& a) { return a.Dump(); };
  const struct {
    std::function<std::string()> call;
    std::string statement;  // "" when none is sent
    std::string result;
  } cases[] = {
      {[&] { return dump(personnel.GetDepartments()); },
       "Select DeptID,DeptName from HR_Dept order by DeptID",
       "(0 To 1, 0 To 1) [1] [2] [Board] [Accounts]"},
      {[&] { return personnel.GetDeptName(Variant::Long(2)); },
       "Select DeptName from HR_Dept where DeptID=2", "Accounts"},
      {[&] { return personnel.GetDeptName(Variant::String("99")); },
       "Select DeptName from HR_Dept where DeptID=99", ""},
      {[&] { return personnel.GetDeptName(Variant::Null()); }, "", ""},
      {[&] { return personnel.GetDeptName(Variant::String("")); }, "", ""},
      // Passwords never come back.
      {[&] { return dump(personnel.GetPeople()); },
       std::string(kPeople) + " order by HR_person.PersonID",
       "(0 To 4, 0 To 3) [1] [3] [4] [5] [Ann Carter] [Pat O'Neil] "
       "[Cy Young] [Dee Lane] [ann] [o'neil] [cy] [dee] [1] [2] [99] [Null] "
       "[Board] [Accounts] [Null] [Null]"},
      {[&] { return dump(personnel.GetPerson(3)); },
       std::string(kPeople) + " where HR_person.PersonID=3",
       "(0 To 4) [3] [Pat O'Neil] [o'neil] [2] [Accounts]"},
      {[&] { return dump(personnel.GetPerson(40000)); },
       std::string(kPeople) + " where HR_person.PersonID=40000", "()"},
  };
  for (const auto& c : cases) {
    tap->sent.clear();
    EXPECT_EQ(c.call(), c.result) << c.statement;
    EXPECT_EQ(tap->sent, c.statement.empty()
                             ? std::vector<std::string>{}
                             : std::vector<std::string>{c.statement});
  }
}

TEST_P(PersonnelTest, EmptyTablesGiveTheEmptyForms) {
  TestDb db(GetParam(), /*demo=*/false);
  Personnel personnel;
  personnel.SetConn(db.conn());
  EXPECT_EQ(personnel.GetDepartments(), VariantArray::EmptyGrid());
  EXPECT_EQ(personnel.GetPeople(), VariantArray::EmptyGrid());
  EXPECT_TRUE(personnel.GetPerson(1).undimensioned());
}

INSTANTIATE_TEST_SUITE_P(Databases, PersonnelTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST(PersonnelInputTest, ADepartmentThatIsNoNumberNeverReachesTheDatabase) {
  auto conn = std::make_shared<RecordingConnection>();
  Personnel personnel;
  personnel.SetConn(conn);
  EXPECT_THROW(personnel.GetDeptName(Variant::String("1 or 1=1")), Error);
  EXPECT_EQ(personnel.GetError(),
            "DeptID must be a number or empty, not \"1 or 1=1\"");
  EXPECT_TRUE(conn->sent.empty());
}

}  // namespace
}  // namespace wrenhaven
