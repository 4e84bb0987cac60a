// What the administration pages work out before drawing: identifiers and
// role lists from the request and the session, the page a path belongs
// to, the menu tree's levels, page numbers, months, and the attendance
// grid and its CSV.
#include "web/admin/view.h"

#include <gtest/gtest.h>

#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

Variant S(const char* s) { return Variant::String(s); }
Variant L(int32_t v) { return Variant::Long(v); }

TEST(AdminIdTest, OnlyPlainDigitsWithinRange) {
  EXPECT_EQ(ParseId("0"), 0);
  EXPECT_EQ(ParseId("17"), 17);
  EXPECT_EQ(ParseId("2147483647"), 2147483647);
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "1.0", "0x1", "1e3",
                          "2147483648", "99999999999", "1;2", "1 OR 1=1"}) {
    EXPECT_EQ(ParseId(bad), std::nullopt) << bad;
  }
}

TEST(AdminIdTest, RoleListsAreCommaListsOfWholeNumbers) {
  EXPECT_EQ(ParseIdList(""), std::vector<int32_t>{});
  EXPECT_EQ(ParseIdList("  "), std::vector<int32_t>{});
  EXPECT_EQ(ParseIdList("1"), std::vector<int32_t>{1});
  EXPECT_EQ(ParseIdList("2,5,11"), (std::vector<int32_t>{2, 5, 11}));
  EXPECT_EQ(ParseIdList(" 2 , 5 "), (std::vector<int32_t>{2, 5}));
  for (const char* bad : {",", "1,", ",1", "1,,2", "1;2", "1,2)", "1) or (1",
                          "1 2", "1,-2", "1,99999999999"}) {
    EXPECT_EQ(ParseIdList(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(JoinIds({2, 5, 11}), "2,5,11");
  EXPECT_EQ(JoinIds({}), "");
}

TEST(AdminPageOfTest, SubPagesBelongToTheirPage) {
  EXPECT_EQ(AdminPageOf("/admin/logins"), "/admin/logins");
  EXPECT_EQ(AdminPageOf("/admin/logins/person"), "/admin/logins");
  EXPECT_EQ(AdminPageOf("/admin/menus/edit/x"), "/admin/menus");
  EXPECT_EQ(AdminPageOf("/admin/"), "");
  EXPECT_EQ(AdminPageOf("/admin//menus"), "");
  EXPECT_EQ(AdminPageOf("/admin"), "");
  EXPECT_EQ(AdminPageOf("/apps/mail"), "");
  EXPECT_EQ(AdminPageOf("/adminx/menus"), "");
}

// Rows as Menu.GetAllData gives them: names, then MenuID, FunID,
// MenuParentID, MenuName, ... depth first.
VariantArray Tree(const std::vector<std::pair<int32_t, Variant>>& rows) {
  VariantArray a = VariantArray::TwoDim(static_cast<int32_t>(rows.size()), 8);
  a(0, 0) = S("MenuID");
  a(0, 2) = S("MenuParentID");
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto r = static_cast<int32_t>(i + 1);
    a(r, 0) = L(rows[i].first);
    a(r, 2) = rows[i].second;
    a(r, 3) = S("m");
  }
  return a;
}

std::string Levels(const std::vector<TreeRow>& rows) {
  std::string out;
  for (const TreeRow& t : rows) {
    out += std::to_string(t.id) + ":" + std::to_string(t.level) + "@" +
           std::to_string(t.row) + " ";
  }
  return out;
}

TEST(MenuTreeTest, LevelsFollowTheParentChain) {
  // A (1) with A1 (2) and its child A1a (3), then A2 (4); B (5).
  const VariantArray tree = Tree({{1, Variant::Null()},
                                  {2, L(1)},
                                  {3, L(2)},
                                  {4, L(1)},
                                  {5, Variant::Null()}});
  const auto rows = MenuTreeRows(tree);
  EXPECT_EQ(Levels(rows), "1:1@1 2:2@2 3:3@3 4:2@4 5:1@5 ");
  EXPECT_EQ(SubtreeOf(rows, 1), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(SubtreeOf(rows, 2), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(SubtreeOf(rows, 3), (std::vector<int32_t>{3}));
  EXPECT_EQ(SubtreeOf(rows, 5), (std::vector<int32_t>{5}));
  EXPECT_EQ(SubtreeOf(rows, 9), (std::vector<int32_t>{}));
}

TEST(MenuTreeTest, NamesRowAloneIsAnEmptyTree) {
  VariantArray names = VariantArray::TwoDim(0, 8);
  names(0, 0) = S("MenuID");
  EXPECT_TRUE(MenuTreeRows(names).empty());
  // A parent given as number text, and a parent not in the listing.
  const auto rows = MenuTreeRows(Tree({{7, S("")}, {8, S("7")}, {9, L(42)}}));
  EXPECT_EQ(Levels(rows), "7:1@1 8:2@2 9:1@3 ");
}

TEST(PageNumbersTest, FirstLastAndTwoEitherSide) {
  EXPECT_EQ(PageNumbers(1, 1), (std::vector<int32_t>{1}));
  EXPECT_EQ(PageNumbers(2, 3), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(PageNumbers(1, 10), (std::vector<int32_t>{1, 2, 3, 0, 10}));
  EXPECT_EQ(PageNumbers(6, 12),
            (std::vector<int32_t>{1, 0, 4, 5, 6, 7, 8, 0, 12}));
  EXPECT_EQ(PageNumbers(4, 7), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  // A page past the end still offers the real ones.
  EXPECT_EQ(PageNumbers(9, 3), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(PageNumbers(5, 9),
            (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(PageNumbers(1, 0), (std::vector<int32_t>{}));
}

TEST(MonthTest, ParsesStepsAndCounts) {
  EXPECT_EQ(Month::Parse("2024-05"), (Month{2024, 5}));
  EXPECT_EQ(Month::Parse("2024-5"), (Month{2024, 5}));
  for (const char* bad : {"", "2024", "2024-13", "2024-00", "1899-12", "24-05",
                          "2024-05-01", "2024/05", "-2024-05"}) {
    EXPECT_EQ(Month::Parse(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(Month({2024, 1}).Plus(-1), (Month{2023, 12}));
  EXPECT_EQ(Month({2023, 12}).Plus(1), (Month{2024, 1}));
  EXPECT_EQ(Month({2024, 5}).Plus(13), (Month{2025, 6}));
  EXPECT_EQ(Month({2024, 2}).Days(), 29);
  EXPECT_EQ(Month({2023, 2}).Days(), 28);
  EXPECT_EQ(Month({1900, 2}).Days(), 28);
  EXPECT_EQ(Month({2000, 2}).Days(), 29);
  EXPECT_EQ(Month({2024, 4}).Days(), 30);
  EXPECT_EQ(Month({2024, 12}).Days(), 31);
  // 1 May 2024 was a Wednesday, 1 January 2000 a Saturday.
  EXPECT_EQ(Month({2024, 5}).Weekday(1), 3);
  EXPECT_EQ(Month({2024, 5}).Weekday(5), 0);
  EXPECT_EQ(Month({2000, 1}).Weekday(1), 6);
  EXPECT_EQ(Month({2024, 5}).Text(), "2024-05");
  EXPECT_EQ(Month::Of(Date::FromParts(2003, 5, 6, 8, 12)), (Month{2003, 5}));
}

TEST(ClockTest, HoursAndMinutes) {
  EXPECT_EQ(ParseClock("09:00"), "09:00");
  EXPECT_EQ(ParseClock("9:05"), "09:05");
  EXPECT_EQ(ParseClock("23:59"), "23:59");
  for (const char* bad : {"", "9", "24:00", "09:60", "09:5", "09:005", "a:00",
                          "09:00:00", "-1:00"}) {
    EXPECT_EQ(ParseClock(bad), std::nullopt) << bad;
  }
  EXPECT_FALSE(IsLate("09:00", "09:00"));
  EXPECT_TRUE(IsLate("09:01", "09:00"));
  EXPECT_FALSE(IsLate("08:59", "09:00"));
  EXPECT_FALSE(IsLate("", "09:00"));
}

// GetMonthLogin's shape: field first, six fields.
VariantArray MonthRows(const std::vector<std::vector<Variant>>& rows) {
  VariantArray a =
      VariantArray::TwoDim(5, static_cast<int32_t>(rows.size()) - 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int32_t f = 0; f < 6; ++f) {
      a(f, static_cast<int32_t>(r)) = rows[r][static_cast<size_t>(f)];
    }
  }
  return a;
}

std::string Dept(const std::string& id) { return "D" + id; }

TEST(AttendanceTest, GroupsByDepartmentAndPerson) {
  const VariantArray month = MonthRows({
      {L(3), S("Cho"), L(3), L(7), S("2024-05-07 08:12"), L(2)},
      {L(3), S("Cho"), L(3), L(2), S("2024-05-02 09:30"), L(1)},
      {L(4), S("Dev"), L(3), L(31), S("2024-05-31 07:00"), L(1)},
      {L(1), S("Ann"), L(1), L(2), S("2024-05-02 09:00"), L(3)},
  });
  const auto grid = BuildAttendance(month, 31, Dept);
  ASSERT_EQ(grid.size(), 2u);
  EXPECT_EQ(grid[0].name, "D3");
  ASSERT_EQ(grid[0].people.size(), 2u);
  const AttendancePerson& cho = grid[0].people[0];
  EXPECT_EQ(cho.name, "Cho");
  EXPECT_EQ(cho.times.size(), 31u);
  EXPECT_EQ(cho.times[6], "08:12");
  EXPECT_EQ(cho.counts[6], 2);
  EXPECT_EQ(cho.times[1], "09:30");
  EXPECT_EQ(cho.times[0], "");
  EXPECT_EQ(grid[0].people[1].times[30], "07:00");
  EXPECT_EQ(grid[1].name, "D1");
  EXPECT_EQ(grid[1].people[0].counts[1], 3);
}

TEST(AttendanceTest, EmptyGridIsNobodyAndBadDaysRaise) {
  EXPECT_TRUE(BuildAttendance(VariantArray::EmptyGrid(), 31, Dept).empty());
  EXPECT_THROW(BuildAttendance(MonthRows({{L(1), S("Ann"), L(1), L(31),
                                           S("2024-04-30 08:00"), L(1)}}),
                               30, Dept),
               Error);
  EXPECT_THROW(
      BuildAttendance(
          MonthRows({{L(1), S("Ann"), L(1), L(2), S("yesterday"), L(1)}}), 30,
          Dept),
      Error);
  // A driver that gives a date.
  const auto grid = BuildAttendance(
      MonthRows({{L(1), S("Ann"), L(1), L(2),
                  Variant::FromDate(Date::FromParts(2024, 4, 2, 6, 5)), L(1)}}),
      30, Dept);
  EXPECT_EQ(grid[0].people[0].times[1], "06:05");
}

TEST(CsvTest, FieldsAreQuotedAndNeverFormulas) {
  EXPECT_EQ(CsvField("Ann"), "Ann");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(CsvField("=1+1"), "'=1+1");
  EXPECT_EQ(CsvField("@SUM(A1)"), "'@SUM(A1)");
  EXPECT_EQ(CsvField("-2,3"), "\"'-2,3\"");
  EXPECT_EQ(CsvField("+x"), "'+x");
  // A tab or a carriage return first would let a spreadsheet skip to the
  // formula behind it.
  EXPECT_EQ(CsvField("\t=1+1"), "'\t=1+1");
  EXPECT_EQ(CsvField("\r=1+1"), "\"'\r=1+1\"");
  EXPECT_EQ(CsvField("a\t=1"), "a\t=1");
}

TEST(CsvTest, TheGridWithLateDays) {
  const VariantArray month = MonthRows({
      {L(1), S("Ann, \"A\""), L(1), L(1), S("2024-02-01 09:01"), L(1)},
      {L(1), S("Ann, \"A\""), L(1), L(3), S("2024-02-03 08:59"), L(1)},
      {L(2), S("=cmd"), L(2), L(2), S("2024-02-02 09:00"), L(1)},
  });
  const auto grid = BuildAttendance(month, 3, Dept);
  EXPECT_EQ(AttendanceCsv(grid, 3, "09:00", "Department", "Person", "Late"),
            "\xEF\xBB\xBF"
            "Department,Person,1,2,3,Late\r\n"
            "D1,\"Ann, \"\"A\"\"\",09:01,,08:59,1\r\n"
            "D2,'=cmd,,09:00,,0\r\n");
  EXPECT_EQ(AttendanceCsv({}, 2, "09:00", "D", "P", "L"),
            "\xEF\xBB\xBF"
            "D,P,1,2,L\r\n");
}

TEST(TimeTextTest, DatesInFullOthersAsText) {
  EXPECT_EQ(TimeText(Variant::FromDate(Date::FromParts(2024, 5, 6, 8, 9, 10))),
            "2024-05-06 08:09:10");
  EXPECT_EQ(TimeText(Variant::Null()), "");
  EXPECT_EQ(TimeText(S("2024-05-06 08:09")), "2024-05-06 08:09");
}

}  // namespace
}  // namespace wrenhaven::web
