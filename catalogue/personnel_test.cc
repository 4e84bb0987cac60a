// The personnel lookups: the exact statements they send and what each
// database answers to them.
#include "wrenhaven/personnel.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The PersonIDs of a field-first page, "" for the empty grid.
std::string Ids(const VariantArray& page) {
  std::string ids;
  if (page.UBound(1) == 0) return ids;
  for (int32_t r = 0; r <= page.UBound(2); ++r) {
    ids += (ids.empty() ? "" : ",") + page(0, r).ToText();
  }
  return ids;
}

// Beside AddPeople's four: names and accounts holding the wildcards and
// the escape mark, and their look-alikes.
void AddMarkedPeople(const TestDb& db) {
  db.Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) VALUES "
      "(6,'x_y','pw','Ten% Off',1,NULL),"
      "(7,'xay','pw','Tenx Off',1,NULL),"
      "(8,'bang!','pw','Bo [Lee]',2,NULL),"
      "(9,'bang','pw','Bo Lee',2,NULL)");
}

TEST_P(PersonnelTest, APageOfPeopleIsCutInTheStatement) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  auto tap = std::make_shared<TappedConnection>(db.conn());
  Personnel personnel;
  personnel.SetConn(tap);
  const bool postgres = GetParam() == "postgresql";
  const std::string like =
      postgres ? "(PersonName collate \"C\") ilike '%o''n!%!_!!![%' "
                 "escape '!' or (personAccount collate \"C\") ilike "
                 "'%o''n!%!_!!![%' escape '!'"
               : "PersonName like '%o''n!%!_!!![%' escape '!' or "
                 "personAccount like '%o''n!%!_!!![%' escape '!'";
  EXPECT_EQ(personnel.GetPeoplePage(Variant::String("o'n%_!["), 5, 2),
            VariantArray::EmptyGrid());
  EXPECT_EQ(personnel.CountPeople(Variant::String("o'n%_![")).ToLong(), 0);
  EXPECT_EQ(tap->sent,
            (std::vector<std::string>{
                "Select p.PersonID,p.PersonName,p.personAccount,p.DeptID,"
                "DeptName from (Select PersonID,PersonName,personAccount,"
                "DeptID from HR_person where (" +
                    like +
                    ") order by PersonID LIMIT 2 OFFSET 5) p left join "
                    "HR_Dept on p.DeptID=HR_Dept.DeptID order by p.PersonID",
                "Select count(*) from HR_person where (" + like + ")"}));
  tap->sent.clear();
  EXPECT_EQ(personnel.GetPeoplePage(Variant::Empty(), 0, 3).Dump(),
            "(0 To 4, 0 To 2) [1] [3] [4] [Ann Carter] [Pat O'Neil] "
            "[Cy Young] [ann] [o'neil] [cy] [1] [2] [99] [Board] [Accounts] "
            "[Null]");
  EXPECT_EQ(personnel.CountPeople(Variant::String("")).ToLong(), 4);
  EXPECT_EQ(tap->sent,
            (std::vector<std::string>{
                "Select p.PersonID,p.PersonName,p.personAccount,p.DeptID,"
                "DeptName from (Select PersonID,PersonName,personAccount,"
                "DeptID from HR_person order by PersonID LIMIT 3 OFFSET 0) p "
                "left join HR_Dept on p.DeptID=HR_Dept.DeptID order by "
                "p.PersonID",
                "Select count(*) from HR_person"}));
}

TEST_P(PersonnelTest, PagesOfPeopleFollowPersonIdToTheEnd) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  AddMarkedPeople(db);
  Personnel personnel;
  personnel.SetConn(db.conn());
  const Variant all = Variant::Empty();
  EXPECT_EQ(Ids(personnel.GetPeoplePage(all, 0, 3)), "1,3,4");
  EXPECT_EQ(Ids(personnel.GetPeoplePage(all, 3, 3)), "5,6,7");
  EXPECT_EQ(Ids(personnel.GetPeoplePage(all, 6, 3)), "8,9");
  EXPECT_EQ(personnel.GetPeoplePage(all, 8, 3), VariantArray::EmptyGrid());
  EXPECT_EQ(personnel.GetPeoplePage(all, 1000000, 200),
            VariantArray::EmptyGrid());
  EXPECT_EQ(Ids(personnel.GetPeoplePage(all, 0, 200)), "1,3,4,5,6,7,8,9");
  EXPECT_EQ(personnel.CountPeople(all).ToLong(), 8);
}

TEST_P(PersonnelTest, TheSearchMatchesEveryCharacterAsItself) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  AddMarkedPeople(db);
  Personnel personnel;
  personnel.SetConn(db.conn());
  const struct {
    const char* search;
    const char* ids;
  } cases[] = {
      {"%", "6"},           // not every person
      {"_", "6"},           // x_y, not xay
      {"x_", "6"},          //
      {"!", "8"},           // the escape mark itself
      {"[", "8"},           // no character class
      {"[L", "8"},          //
      {"O'NEIL", "3"},      // the quote doubled, either case
      {"ann", "1"},         // the account
      {"carter", "1"},      // the name
      {"ten", "6,7"},       //
      {"o", "3,4,6,7,8,9"}  // by PersonID
  };
  for (const auto& c : cases) {
    const Variant search = Variant::String(c.search);
    EXPECT_EQ(Ids(personnel.GetPeoplePage(search, 0, 200)), c.ids) << c.search;
    const std::string ids = c.ids;
    EXPECT_EQ(personnel.CountPeople(search).ToLong(),
              1 + std::count(ids.begin(), ids.end(), ','))
        << c.search;
  }
  EXPECT_EQ(Ids(personnel.GetPeoplePage(Variant::String("o"), 2, 2)), "6,7");
  EXPECT_EQ(personnel.GetPeoplePage(Variant::String("nobody"), 0, 10),
            VariantArray::EmptyGrid());
  EXPECT_EQ(personnel.CountPeople(Variant::String("nobody")).ToLong(), 0);
}

TEST_P(PersonnelTest, AnAccountFindsItsPersonInEitherCase) {
  TestDb db(GetParam(), /*demo=*/false);
  AddPeople(db);
  AddMarkedPeople(db);
  auto tap = std::make_shared<TappedConnection>(db.conn());
  Personnel personnel;
  personnel.SetConn(tap);
  EXPECT_EQ(personnel.GetPersonByAccount(Variant::String("O'Neil")).Dump(),
            "(0 To 4) [3] [Pat O'Neil] [o'neil] [2] [Accounts]");
  EXPECT_EQ(tap->sent, std::vector<std::string>{std::string(kPeople) +
                                                " where personAccount="
                                                "'O''Neil'"});
  // Exactly the account: no wildcard, no part of it.
  EXPECT_EQ(personnel.GetPersonByAccount(Variant::String("x%")).Dump(), "()");
  EXPECT_EQ(personnel.GetPersonByAccount(Variant::String("x_y")).Dump(),
            "(0 To 4) [6] [Ten% Off] [x_y] [1] [Board]");
  EXPECT_EQ(personnel.GetPersonByAccount(Variant::String("xa")).Dump(), "()");
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

TEST(PersonnelInputTest, ABadPageOrSearchNeverReachesTheDatabase) {
  auto conn = std::make_shared<RecordingConnection>();
  Personnel personnel;
  personnel.SetConn(conn);
  const std::string longest(kMaxPeopleSearchLength, 'a');
  // 64 characters of three bytes each are still within the limit.
  std::string wide;
  for (size_t i = 0; i < kMaxPeopleSearchLength; ++i) wide += "\xE5\xBC\xA0";
  const struct {
    Variant search;
    int32_t offset;
    int32_t count;
  } refused[] = {
      {Variant::String(longest + "z"), 0, 10},
      {Variant::String(wide + "\xE5\xBC\xA0"), 0, 10},
      {Variant::String("z\xC3"), 0, 10},  // cut inside a character
      {Variant::String("z"), 0, 0},
      {Variant::String("z"), 0, kMaxPeoplePageSize + 1},
      {Variant::String("z"), -1, 10},
  };
  for (const auto& r : refused) {
    try {
      personnel.GetPeoplePage(r.search, r.offset, r.count);
      ADD_FAILURE() << "accepted " << r.offset << " " << r.count;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      // The message never repeats what was typed.
      EXPECT_EQ(std::string(e.what()).find('z'), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(personnel.CountPeople(Variant::String(longest + "z")), Error);
  EXPECT_THROW(personnel.GetPersonByAccount(Variant::String(longest + "z")),
               Error);
  EXPECT_THROW(personnel.GetPersonByAccount(Variant::String("z\xFF")), Error);
  EXPECT_TRUE(conn->sent.empty());

  personnel.GetPeoplePage(Variant::String(longest), 0, kMaxPeoplePageSize);
  personnel.GetPeoplePage(Variant::String(wide), 0, 1);
  personnel.CountPeople(Variant::String(wide));
  EXPECT_EQ(conn->sent.size(), 3u);
}

}  // namespace
}  // namespace wrenhaven
