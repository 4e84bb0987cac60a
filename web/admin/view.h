// What the administration pages work out from the request and from the
// library's results before anything is drawn: identifiers and lists typed
// in the address, which administration page a path belongs to, the levels
// of the menu tree, page numbers, months and the attendance grid with its
// CSV form.
#ifndef WRENHAVEN_WEB_ADMIN_VIEW_H_
#define WRENHAVEN_WEB_ADMIN_VIEW_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/text.h"
#include "wrenhaven/variant.h"

namespace wrenhaven::web {

// ParseId: a whole number written in decimal digits only (frame/text.h).
using wrenhaven::ParseId;

// A comma list of whole numbers as the session's "RoleID" holds it ("2",
// "2,5,11"; blanks around a number are allowed). "" is the empty list;
// anything else (",,", "1;2", "1 OR 1=1", a number too large) is nullopt.
std::optional<std::vector<int32_t>> ParseIdList(std::string_view text);

// "2,5,11".
std::string JoinIds(const std::vector<int32_t>& ids);

// The administration page a path belongs to: "/admin/logins/person" and
// "/admin/logins" give "/admin/logins". "" for a path that is not below
// "/admin/" or names no page ("/admin/", "/admin//x").
std::string AdminPageOf(std::string_view path);

// Menu.GetAllData's rows (row 0 the names, then depth first) as a tree:
// for every data row, in order, its level (1 for a first-level menu, 2
// for its children, ...). A row whose parent is not among the rows above
// it counts as first level.
struct TreeRow {
  int32_t row;  // the row of the listing
  int32_t id;   // MenuID
  int level;
};
std::vector<TreeRow> MenuTreeRows(const VariantArray& titled);

// The menus of `rows` that lie below `id`, `id` included: the ones a menu
// may not take as its new parent.
std::vector<int32_t> SubtreeOf(const std::vector<TreeRow>& rows, int32_t id);

// The page numbers to offer for page `current` of `pages`: the first and
// last, and two either side of the current one; 0 stands for a gap.
std::vector<int32_t> PageNumbers(int32_t current, int32_t pages);

struct Month {
  int year = 0;
  int month = 0;  // 1 to 12

  // "2024-05" (also "2024-5"); nullopt unless the year is 1900 to 9999.
  static std::optional<Month> Parse(std::string_view text);
  static Month Of(Date date);
  Month Plus(int months) const;
  int Days() const;
  // 0 for Sunday to 6 for Saturday.
  int Weekday(int day) const;
  // "2024-05".
  std::string Text() const;
  friend bool operator==(Month a, Month b) {
    return a.year == b.year && a.month == b.month;
  }
};

// "09:00" or "9:00" as "09:00"; nullopt unless hours 0-23 and minutes
// 0-59.
std::optional<std::string> ParseClock(std::string_view text);

// One person's month: the earliest sign-in of each day as "HH:MM" ("" for
// a day without one) and the number of that day's sign-ins.
struct AttendancePerson {
  std::string id;
  std::string name;
  std::vector<std::string> times;  // index day - 1
  std::vector<int32_t> counts;
};

struct AttendanceDepartment {
  std::string id;
  std::string name;
  std::vector<AttendancePerson> people;
};

// Login.GetMonthLogin's result (fields: person, name, department, day,
// "YYYY-MM-DD HH:MM", count; EmptyGrid when nobody signed in) for a month
// of `days` days, grouped by department in the order the rows come, each
// department named by `department_name`. Rows for days outside the month
// raise.
std::vector<AttendanceDepartment> BuildAttendance(
    const VariantArray& month, int days,
    const std::function<std::string(const std::string&)>& department_name);

// True when `time` ("HH:MM") is after `start` ("HH:MM").
bool IsLate(std::string_view time, std::string_view start);

// CsvField: one CSV field, never read as a formula (frame/text.h).
using wrenhaven::CsvField;

// The grid as CSV (UTF-8 with a byte-order mark, CRLF line ends): a header
// row "Department,Person,1,...,N,Late", then one row per person with the
// day's earliest time and the number of late days against `start`.
std::string AttendanceCsv(const std::vector<AttendanceDepartment>& grid,
                          int days, std::string_view start,
                          std::string_view department_title,
                          std::string_view person_title,
                          std::string_view late_title);

// A date/time for a page: "YYYY-MM-DD HH:MM:SS" for a date, the text form
// for anything else ("" for Null).
std::string TimeText(const Variant& value);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_VIEW_H_
