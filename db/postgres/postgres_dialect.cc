#include "db/postgres/postgres_dialect.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "db/kept_month.h"

namespace wrenhaven {
namespace {

std::string MonthStart(int year, int month) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-01 00:00:00'", year, month);
  return buf;
}

}  // namespace

std::string PostgresDialect::LoginInsertHead() const {
  return "Insert into HR_Login(";
}

// Same rows as the reference: hour above 5, day of month, the earliest time
// as 16 characters, per person and day, by department then person. The
// month is a range of loginTime so the index on it is used.
// loginTime is the server's local time without zone, as LOCALTIMESTAMP.
std::string PostgresDialect::SignInWait(std::string_view condition,
                                        int attempts,
                                        int window_seconds) const {
  const std::string w = std::to_string(window_seconds);
  return "SELECT CAST(CEIL(EXTRACT(EPOCH FROM (loginTime - "
         "LOCALTIMESTAMP(0)))) AS integer) + " +
         w + " FROM HR_Login WHERE LoginOK=0 AND " + std::string(condition) +
         " AND loginTime > LOCALTIMESTAMP(0) - interval '" + w +
         " seconds' ORDER BY loginTime DESC LIMIT 1 OFFSET " +
         std::to_string(attempts - 1);
}

// LOCALTIMESTAMP keeps one value for the whole statement. The periods are
// ranges of loginTime for its index.
std::string PostgresDialect::LoginsPerDay(int days) const {
  return HourCounts(
      "",
      "(SELECT to_char(starts, 'YYYY-MM-DD') AS label, starts, starts + "
      "interval '1 day' AS ends FROM (SELECT date_trunc('day', "
      "LOCALTIMESTAMP(0)) - n * interval '1 day' AS starts FROM "
      "generate_series(0, " +
          std::to_string(days - 1) + ") AS s(n)) AS days)");
}

std::string PostgresDialect::LoginsPerHour() const {
  return HourCounts(
      "",
      "(SELECT h AS label, date_trunc('day', LOCALTIMESTAMP(0)) + h * "
      "interval '1 hour' AS starts, date_trunc('day', LOCALTIMESTAMP(0)) + "
      "(h + 1) * interval '1 hour' AS ends FROM generate_series(0, 23) AS "
      "s(h))");
}

std::string PostgresDialect::MonthLogin(int year, int month) const {
  const int next_year = month == 12 ? year + 1 : year;
  const int next_month = month == 12 ? 1 : month + 1;
  return "SELECT  HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
         "CAST(EXTRACT(DAY FROM loginTime) AS INTEGER), "
         "to_char(min(loginTime),'YYYY-MM-DD HH24:MI'),count(*) "
         "FROM HR_login JOIN HR_person ON HR_Login.personID = "
         "HR_person.personID JOIN HR_Dept ON HR_person.DeptID=HR_Dept.DeptID "
         "WHERE loginTime >= " +
         MonthStart(year, month) + " AND loginTime < " +
         MonthStart(next_year, next_month) +
         " and EXTRACT(HOUR FROM loginTime)>5 GROUP BY "
         "HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
         "CAST(EXTRACT(DAY FROM loginTime) AS INTEGER) ORDER BY  "
         "HR_Person.DeptID,HR_Login.personID";
}

std::string PostgresDialect::MonthLoginPage(int year, int month, int64_t rows,
                                            int64_t offset) const {
  const int next_year = month == 12 ? year + 1 : year;
  const int next_month = month == 12 ? 1 : month + 1;
  const std::string in_month =
      "loginTime >= " + MonthStart(year, month) + " AND loginTime < " +
      MonthStart(next_year, next_month) + " and EXTRACT(HOUR FROM loginTime)>5";
  char month_key[48];
  std::snprintf(month_key, sizeof month_key, "DATE '%04d-%02d-01'", year,
                month);
  return "SELECT  HR_Login.PersonID,p.personName,p.DeptID, "
         "CAST(EXTRACT(DAY FROM loginTime) AS INTEGER), "
         "to_char(min(loginTime),'YYYY-MM-DD HH24:MI'),count(*) FROM (" +
         LimitOffset(KeptMonthPeople(month_key), rows, offset) +
         ") p JOIN HR_login ON HR_Login.personID = p.PersonID AND " + in_month +
         " GROUP BY HR_Login.PersonID,p.personName,p.DeptID, "
         "CAST(EXTRACT(DAY FROM loginTime) AS INTEGER) ORDER BY "
         "p.DeptID,HR_Login.personID, "
         "CAST(EXTRACT(DAY FROM loginTime) AS INTEGER)";
}

std::string PostgresDialect::NewestLogins(std::string_view person,
                                          int most) const {
  return "SELECT * from hr_login where personID=" + std::string(person) +
         " order by loginTime desc LIMIT " + std::to_string(most);
}

std::string PostgresDialect::TopMenu(std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,MenuTip,MenuEnglish,"
         "MenuEnglishTip From SYS_Menu LEFT JOIN SYS_Function ON "
         "SYS_Menu.FunID=SYS_Function.FunID  where  menuParentID is null and "
         "menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))order by menuOrder NULLS FIRST";
}

std::string PostgresDialect::LeftMenu(std::string_view parent,
                                      std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID,MenuTip,"
         "MenuEnglish,MenuEnglishTip  From SYS_Menu LEFT JOIN SYS_Function ON "
         "SYS_Menu.FunID=SYS_Function.FunID  where  menuParentID=" +
         std::string(parent) +
         "  and menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + ")) order by menuOrder NULLS FIRST";
}

std::string PostgresDialect::LeftSubMenu(std::string_view roles,
                                         std::string_view menu_id) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From SYS_Menu "
         "LEFT JOIN SYS_Function ON SYS_Menu.FunID=SYS_Function.FunID Where "
         "menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))  and menuParentID=" + std::string(menu_id) +
         " order by menuOrder NULLS FIRST";
}

std::string PostgresDialect::MenuLevel(int32_t parent) const {
  if (parent == 0) {
    return "Select * from SYS_Menu where MenuParentID IS NULL  order by "
           "menuorder NULLS FIRST";
  }
  return "Select * from SYS_Menu where MenuParentID=" + std::to_string(parent) +
         " order by menuorder NULLS FIRST";
}

std::string PostgresDialect::LeftSubMenus(std::string_view roles,
                                          std::string_view menu_ids) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From SYS_Menu "
         "LEFT JOIN SYS_Function ON SYS_Menu.FunID=SYS_Function.FunID Where "
         "menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))  and menuParentID in (" +
         std::string(menu_ids) + ") order by menuOrder NULLS FIRST,menuID";
}

// UNION keeps each menu once, which also ends the recursion where the
// parent links loop.
std::string PostgresDialect::MenuDescendants(int32_t parent) const {
  const std::string level = parent == 0
                                ? "MenuParentID IS NULL"
                                : "MenuParentID=" + std::to_string(parent);
  return "WITH RECURSIVE below(MenuID) AS (SELECT MenuID FROM SYS_Menu WHERE "
         "MenuParentID IN (SELECT MenuID FROM SYS_Menu WHERE " +
         level +
         ") UNION SELECT SYS_Menu.MenuID FROM SYS_Menu JOIN below ON "
         "SYS_Menu.MenuParentID=below.MenuID) SELECT * FROM SYS_Menu WHERE "
         "MenuID IN (SELECT MenuID FROM below) ORDER BY "
         "MenuParentID,menuorder NULLS FIRST,MenuID";
}

// The menu form's insert goes through a view that turns the quoted
// MenuOrder into the number it names (schema/postgres_schema.cc).
std::string PostgresDialect::MenuInsertHead() const {
  return "Insert into SYS_MenuEntry (";
}

std::string PostgresDialect::FunctionList() const {
  return "Select * from SYS_Function order by FunClass NULLS FIRST";
}

std::string PostgresDialect::RoleList() const {
  return "Select * from SYS_Role order by RoleClass NULLS FIRST";
}

std::string PostgresDialect::RolePageList() const {
  return "Select * from SYS_Role order by  RoleClass NULLS FIRST";
}

std::string PostgresDialect::RoleInsertHead() const {
  return "insert into SYS_Role(";
}

// LIKE refuses the accounts' case-blind collation; ILIKE under "C" folds
// the letters A to Z alone, as the reference database's comparison and
// SQLite's LIKE do.
std::string PostgresDialect::TextLike(std::string_view column,
                                      std::string_view pattern) const {
  return "(" + std::string(column) + " collate \"C\") ilike " +
         std::string(pattern) + " escape '!'";
}

std::string PostgresDialect::LastInsertedId(std::string_view table,
                                            std::string_view column) const {
  // The sequence's value as this session last drew it, which no other
  // session's insert changes. The column is named as the server keeps it:
  // in lower case.
  std::string name(column);
  for (char& c : name) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return "Select currval(pg_get_serial_sequence('" + std::string(table) +
         "','" + name + "'))";
}

std::string PostgresDialect::Limited(std::string_view ordered_query,
                                     int64_t rows, int64_t offset) const {
  return LimitOffset(ordered_query, rows, offset);
}

}  // namespace wrenhaven
