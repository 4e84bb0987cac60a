// The reference statement texts, exactly as pages and peers know them.
#include <string>

#include "wrenhaven/dialect.h"

namespace wrenhaven {

std::string TsqlDialect::LoginInsertHead() const { return "Insert  HR_Login("; }

std::string TsqlDialect::SignInWait(std::string_view condition, int attempts,
                                    int window_seconds) const {
  const std::string w = std::to_string(window_seconds);
  return "SELECT DATEDIFF(second, GETDATE(), DATEADD(second, " + w +
         ", loginTime)) FROM HR_Login WHERE LoginOK=0 AND " +
         std::string(condition) + " AND loginTime > DATEADD(second, -" + w +
         ", GETDATE()) ORDER BY loginTime DESC OFFSET " +
         std::to_string(attempts - 1) + " ROWS FETCH NEXT 1 ROWS ONLY";
}

std::string TsqlDialect::LoginCounts(std::string_view with,
                                     std::string_view series) {
  return std::string(with) +
         "SELECT slot.label, COUNT(CASE WHEN HR_Login.LoginOK=1 THEN 1 END), "
         "COUNT(CASE WHEN HR_Login.LoginOK=0 THEN 1 END) FROM " +
         std::string(series) +
         " AS slot LEFT JOIN HR_Login ON HR_Login.loginTime >= slot.starts "
         "AND HR_Login.loginTime < slot.ends GROUP BY slot.label ORDER BY "
         "slot.label";
}

std::string TsqlDialect::HourCounts(std::string_view with,
                                    std::string_view series) {
  return std::string(with) +
         "SELECT slot.label, CAST(COALESCE(SUM(h.OK), 0) AS BIGINT), "
         "CAST(COALESCE(SUM(h.Failed), 0) AS BIGINT) FROM " +
         std::string(series) +
         " AS slot LEFT JOIN HR_LoginHours h ON h.HourStart >= slot.starts "
         "AND h.HourStart < slot.ends GROUP BY slot.label ORDER BY "
         "slot.label";
}

// The days from midnight to midnight, the oldest first.
std::string TsqlDialect::LoginsPerDay(int days) const {
  const std::string back = std::to_string(days - 1);
  return LoginCounts(
      "WITH slots(label, starts, ends, n) AS (SELECT CONVERT(char(10), "
      "DATEADD(day, -" +
          back + ", GETDATE()), 120), CAST(CAST(DATEADD(day, -" + back +
          ", GETDATE()) AS date) AS datetime), DATEADD(day, 1, CAST(CAST("
          "DATEADD(day, -" +
          back + ", GETDATE()) AS date) AS datetime)), " + back +
          " UNION ALL SELECT CONVERT(char(10), ends, 120), ends, DATEADD(day, "
          "1, ends), n-1 FROM slots WHERE n>0) ",
      "slots");
}

std::string TsqlDialect::LoginsPerHour() const {
  return LoginCounts(
      "WITH slots(label, starts, ends) AS (SELECT 0, CAST(CAST(GETDATE() AS "
      "date) AS datetime), DATEADD(hour, 1, CAST(CAST(GETDATE() AS date) AS "
      "datetime)) UNION ALL SELECT label+1, ends, DATEADD(hour, 1, ends) FROM "
      "slots WHERE label<23) ",
      "slots");
}

std::string TsqlDialect::MonthLogin(int year, int month) const {
  return "SELECT  HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
         "day(loginTime), CONVERT(char(16), min(loginTime), 120),count(*) "
         "FROM HR_login, HR_person,HR_Dept WHERE HR_Login.personID = "
         "HR_person.personID and HR_person.DeptID=HR_Dept.DeptID AND "
         "YEAR(loginTime) =" +
         std::to_string(year) +
         " and month(loginTime)=" + std::to_string(month) +
         " and DATEPART(hh, loginTime)>5 GROUP BY "
         "HR_Login.PersonID,HR_person.personName,HR_Person.DeptID, "
         "day(loginTime) ORDER BY  HR_Person.DeptID,HR_Login.personID";
}

std::string TsqlDialect::MonthLoginPage(int year, int month, int64_t rows,
                                        int64_t offset) const {
  const std::string in_month =
      "YEAR(loginTime) =" + std::to_string(year) +
      " and month(loginTime)=" + std::to_string(month) +
      " and DATEPART(hh, loginTime)>5";
  return "SELECT  HR_Login.PersonID,p.personName,p.DeptID, day(loginTime), "
         "CONVERT(char(16), min(loginTime), 120),count(*) FROM (" +
         Limited(MonthPeople(in_month), rows, offset) +
         ") p JOIN HR_login ON HR_Login.personID = p.PersonID AND " + in_month +
         " GROUP BY HR_Login.PersonID,p.personName,p.DeptID, day(loginTime) "
         "ORDER BY p.DeptID,HR_Login.personID";
}

std::string MonthPeople(std::string_view in_month) {
  return "SELECT HR_person.PersonID,HR_person.personName,HR_person.DeptID "
         "FROM HR_person JOIN HR_Dept ON HR_person.DeptID=HR_Dept.DeptID "
         "WHERE EXISTS (SELECT 1 FROM HR_Login WHERE HR_Login.personID = "
         "HR_person.PersonID AND " +
         std::string(in_month) +
         ") ORDER BY HR_person.DeptID,HR_person.PersonID";
}

std::string TsqlDialect::NewestLogins(std::string_view person, int most) const {
  return "SELECT TOP " + std::to_string(most) +
         " * from hr_login where personID=" + std::string(person) +
         " order by loginTime desc ";
}

std::string TsqlDialect::TopMenu(std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,MenuTip,MenuEnglish,"
         "MenuEnglishTip From SYS_Menu,SYS_Function  where  "
         "SYS_Menu.FunID*=SYS_Function.FunID  and menuParentID is null and "
         "menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))order by menuOrder";
}

std::string TsqlDialect::LeftMenu(std::string_view parent,
                                  std::string_view roles) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID,MenuTip,"
         "MenuEnglish,MenuEnglishTip  From SYS_Menu,SYS_Function  where  "
         "SYS_Menu.FunID*=SYS_Function.FunID  and menuParentID=" +
         std::string(parent) +
         "  and menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + ")) order by menuOrder";
}

std::string TsqlDialect::LeftSubMenu(std::string_view roles,
                                     std::string_view menu_id) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From "
         "SYS_Menu,SYS_Function  Where SYS_Menu.FunID*=SYS_Function.FunID "
         "and menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))  and menuParentID=" + std::string(menu_id) +
         " order by menuOrder";
}

std::string TsqlDialect::MenuLevel(int32_t parent) const {
  if (parent == 0) {
    return "Select * from SYS_Menu where MenuParentID IS NULL  order by "
           "menuorder";
  }
  return "Select * from SYS_Menu where MenuParentID=" + std::to_string(parent) +
         " order by menuorder";
}

std::string TsqlDialect::LeftSubMenus(std::string_view roles,
                                      std::string_view menu_ids) const {
  return "Select menuID,menuName,menuIcon,FunUrl,menuParentID From "
         "SYS_Menu,SYS_Function  Where SYS_Menu.FunID*=SYS_Function.FunID "
         "and menuID in (select menuID from SYS_right where roleID in (" +
         std::string(roles) + "))  and menuParentID in (" +
         std::string(menu_ids) + ") order by menuOrder,menuID";
}

// The path column stops the recursion where the parent links loop, so the
// caller sees the loop in the rows instead of a statement without end.
std::string TsqlDialect::MenuDescendants(int32_t parent) const {
  const std::string level = parent == 0
                                ? "MenuParentID IS NULL"
                                : "MenuParentID=" + std::to_string(parent);
  return "With below (MenuID,Path) as (select MenuID,cast(','+cast(MenuID as "
         "varchar(11))+',' as varchar(max)) from SYS_Menu where MenuParentID "
         "in (select MenuID from SYS_Menu where " +
         level +
         ") union all select SYS_Menu.MenuID,cast(below.Path+cast("
         "SYS_Menu.MenuID as varchar(11))+',' as varchar(max)) from SYS_Menu "
         "inner join below on SYS_Menu.MenuParentID=below.MenuID where "
         "charindex(','+cast(SYS_Menu.MenuID as varchar(11))+',',below.Path)"
         "=0) Select * from SYS_Menu where MenuID in (select MenuID from "
         "below) order by MenuParentID,menuorder,MenuID option (maxrecursion "
         "0)";
}

std::string TsqlDialect::MenuInsertHead() const {
  return "Insert into SYS_Menu (";
}

std::string TsqlDialect::FunctionList() const {
  return "Select * from SYS_Function order by FunClass";
}

std::string TsqlDialect::RoleList() const {
  return "Select * from SYS_Role order by RoleClass";
}

std::string TsqlDialect::RolePageList() const {
  return "Select * from SYS_Role order by  RoleClass";
}

std::string TsqlDialect::RoleInsertHead() const { return "insert SYS_Role("; }

// The reference database compares text without regard to case.
std::string TsqlDialect::TextLike(std::string_view column,
                                  std::string_view pattern) const {
  return std::string(column) + " like " + std::string(pattern) + " escape '!'";
}

std::string TsqlDialect::LastInsertedId(std::string_view,
                                        std::string_view) const {
  return "Select @@IDENTITY";
}

std::string TsqlDialect::Limited(std::string_view ordered_query, int64_t rows,
                                 int64_t offset) const {
  return std::string(ordered_query) + " OFFSET " + std::to_string(offset) +
         " ROWS FETCH NEXT " + std::to_string(rows) + " ROWS ONLY";
}

std::string LimitOffset(std::string_view ordered_query, int64_t rows,
                        int64_t offset) {
  return std::string(ordered_query) + " LIMIT " + std::to_string(rows) +
         " OFFSET " + std::to_string(offset);
}

}  // namespace wrenhaven
