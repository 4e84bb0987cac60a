#include "db/sqlite/sqlite_dialect.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "db/kept_month.h"

namespace wrenhaven {
namespace {

// The bounds of a month as loginTime's text compares with them: from the
// first at midnight to day 32, which sorts after every time of the month's
// last day and before the next month. (The next month's first would be
// '10000-01-01' after December 9999, which sorts before '9999-...'.)
std::string MonthBound(int year, int month, const char* day) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%s'", year, month, day);
  return buf;
}

}  // namespace

std::string SqliteDialect::LoginInsertHead() const {
  return "Insert into HR_Login(";
}

// Same rows as the reference: hour above 5, day of month, the earliest time
// cut to 16 characters, per person and day, by department then person. The
// month is a range of loginTime so the index on it is used. Hour and day are
// cut straight out of the stored 'YYYY-MM-DD HH:MM:SS' text: parsing it as a
// date for every record of the month took a fifth of the time. Grouping in
// the order of the result spares a second sort and lists each person's days
// in order.
// loginTime is local time as text, so the window's start is written the
// same way and compared as text; the index on (LoginAccount, loginTime)
// or (LoginIP, loginTime) finds the rows.
std::string SqliteDialect::SignInWait(std::string_view condition, int attempts,
                                      int window_seconds) const {
  const std::string w = std::to_string(window_seconds);
  return "SELECT CAST(ROUND((julianday(loginTime) - "
         "julianday('now','localtime')) * 86400) AS INTEGER) + " +
         w + " FROM HR_Login WHERE LoginOK=0 AND " + std::string(condition) +
         " AND loginTime > datetime('now','localtime','-" + w +
         " seconds') ORDER BY loginTime DESC LIMIT 1 OFFSET " +
         std::to_string(attempts - 1);
}

std::string SqliteDialect::NewestLogins(std::string_view person,
                                        int most) const {
  return "SELECT * from hr_login where personID=" + std::string(person) +
         " order by loginTime desc LIMIT " + std::to_string(most);
}

// The periods are ranges of loginTime's text, so the index on it finds each
// period's records. 'now' is read in the series' first row only (SQLite
// gives it one value within a step), and the further periods follow from
// it, so a statement that runs across midnight still counts one day.
std::string SqliteDialect::LoginsPerDay(int days) const {
  const std::string back = std::to_string(days - 1);
  return HourCounts(
      "WITH RECURSIVE slots(label, starts, ends, n) AS (SELECT "
      "date('now','localtime','-" +
          back + " days'), date('now','localtime','-" + back +
          " days'), date('now','localtime','-" + back + " days','+1 day'), " +
          back +
          " UNION ALL SELECT ends, ends, date(ends,'+1 day'), n-1 FROM slots "
          "WHERE n>0) ",
      "slots");
}

std::string SqliteDialect::LoginsPerHour() const {
  return HourCounts(
      "WITH RECURSIVE slots(label, starts, ends) AS (SELECT 0, "
      "datetime('now','localtime','start of day'), "
      "datetime('now','localtime','start of day','+1 hour') UNION ALL SELECT "
      "label+1, ends, datetime(ends,'+1 hour') FROM slots WHERE label<23) ",
      "slots");
}

std::string SqliteDialect::MonthLogin(int year, int month) const {
  return "SELECT  HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
         "CAST(substr(loginTime,9,2) AS INTEGER), "
         "substr(min(loginTime),1,16),count(*) "
         "FROM HR_login JOIN HR_person ON HR_Login.personID = "
         "HR_person.personID JOIN HR_Dept ON HR_person.DeptID=HR_Dept.DeptID "
         "WHERE loginTime >= " +
         MonthBound(year, month, "01 00:00:00") + " AND loginTime < " +
         MonthBound(year, month, "32") +
         " and CAST(substr(loginTime,12,2) AS INTEGER)>5 GROUP BY "
         "HR_Person.DeptID,HR_Login.PersonID,HR_person.personName, "
         "substr(loginTime,9,2) ORDER BY HR_Person.DeptID,HR_Login.PersonID,"
         "HR_person.personName,substr(loginTime,9,2)";
}

std::string SqliteDialect::MonthLoginPage(int year, int month, int64_t rows,
                                          int64_t offset) const {
  const std::string in_month =
      "loginTime >= " + MonthBound(year, month, "01 00:00:00") +
      " AND loginTime < " + MonthBound(year, month, "32") +
      " and CAST(substr(loginTime,12,2) AS INTEGER)>5";
  char month_key[32];
  std::snprintf(month_key, sizeof month_key, "'%04d-%02d'", year, month);
  return "SELECT  HR_Login.PersonID,p.personName,p.DeptID, "
         "CAST(substr(loginTime,9,2) AS INTEGER), "
         "substr(min(loginTime),1,16),count(*) FROM (" +
         LimitOffset(KeptMonthPeople(month_key), rows, offset) +
         ") p JOIN HR_login ON HR_Login.personID = p.PersonID AND " + in_month +
         " GROUP BY p.DeptID,HR_Login.PersonID,p.personName, "
         "substr(loginTime,9,2) ORDER BY p.DeptID,HR_Login.PersonID,"
         "p.personName,substr(loginTime,9,2)";
}

// A menu is visible when one of the roles is granted it: its few grants
// are read through the menuID index and each compared with the roles.
// Up to kChainedRoles roles, the comparisons stand one after another: as
// an IN list, SQLite builds and drops a temporary table of the roles for
// each run of each statement, which made a visitor's two menus take half
// as long again (120 us against 180 with three roles, and still slower
// with 256). The unary + keeps the comparisons from being turned back into
// an IN. Longer lists are written as the list itself, since SQLite refuses
// a chain of about 500 comparisons as too deep an expression.
namespace {

constexpr long kChainedRoles = 256;

// `roles` is a comma list of whole numbers (Menu checks it).
std::string Granted(std::string_view roles) {
  std::string any;
  if (std::count(roles.begin(), roles.end(), ',') >= kChainedRoles) {
    any = "+roleID in (" + std::string(roles) + ")";
  } else {
    while (!roles.empty()) {
      const size_t comma = roles.find(',');
      any += any.empty() ? "+roleID=" : " or +roleID=";
      any += roles.substr(0, comma);
      roles = comma == std::string_view::npos ? std::string_view()
                                              : roles.substr(comma + 1);
    }
  }
  return "exists (select 1 from SYS_right where SYS_right.menuID="
         "SYS_Menu.menuID and (" +
         any + "))";
}

}  // namespace

std::string SqliteDialect::TopMenu(std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,MenuTip,MenuEnglish,"
         "MenuEnglishTip From SYS_Menu LEFT JOIN SYS_Function ON "
         "SYS_Menu.FunID=SYS_Function.FunID where menuParentID is null and " +
         Granted(roles) + " order by menuOrder";
}

std::string SqliteDialect::LeftMenu(std::string_view parent,
                                    std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID,MenuTip,"
         "MenuEnglish,MenuEnglishTip From SYS_Menu LEFT JOIN SYS_Function ON "
         "SYS_Menu.FunID=SYS_Function.FunID where menuParentID=" +
         std::string(parent) + " and " + Granted(roles) + " order by menuOrder";
}

std::string SqliteDialect::LeftSubMenu(std::string_view roles,
                                       std::string_view menu_id) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From SYS_Menu "
         "LEFT JOIN SYS_Function ON SYS_Menu.FunID=SYS_Function.FunID Where " +
         Granted(roles) + " and menuParentID=" + std::string(menu_id) +
         " order by menuOrder";
}

std::string SqliteDialect::LeftSubMenus(std::string_view roles,
                                        std::string_view menu_ids) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From SYS_Menu "
         "LEFT JOIN SYS_Function ON SYS_Menu.FunID=SYS_Function.FunID Where " +
         Granted(roles) + " and menuParentID in (" + std::string(menu_ids) +
         ") order by menuOrder,menuID";
}

// UNION keeps each menu once, which also ends the recursion where the
// parent links loop.
std::string SqliteDialect::MenuDescendants(int32_t parent) const {
  const std::string level = parent == 0
                                ? "MenuParentID IS NULL"
                                : "MenuParentID=" + std::to_string(parent);
  return "WITH RECURSIVE below(MenuID) AS (SELECT MenuID FROM SYS_Menu WHERE "
         "MenuParentID IN (SELECT MenuID FROM SYS_Menu WHERE " +
         level +
         ") UNION SELECT SYS_Menu.MenuID FROM SYS_Menu JOIN below ON "
         "SYS_Menu.MenuParentID=below.MenuID) SELECT * FROM SYS_Menu WHERE "
         "MenuID IN (SELECT MenuID FROM below) ORDER BY "
         "MenuParentID,menuorder,MenuID";
}

std::string SqliteDialect::RoleInsertHead() const {
  return "insert into SYS_Role(";
}

std::string SqliteDialect::LastInsertedId(std::string_view,
                                          std::string_view) const {
  return "Select last_insert_rowid()";
}

std::string SqliteDialect::Limited(std::string_view ordered_query, int64_t rows,
                                   int64_t offset) const {
  return LimitOffset(ordered_query, rows, offset);
}

}  // namespace wrenhaven
