// The month calendar's people as SQLite and PostgreSQL find them: from the
// month's rows of HR_LoginMonth, which the schema's triggers keep, walked
// in its (Month, DeptID, personID) index. A person counts who has a
// personnel row in a department that exists, as in the whole month's
// statement.
#ifndef WRENHAVEN_DB_KEPT_MONTH_H_
#define WRENHAVEN_DB_KEPT_MONTH_H_

#include <string>
#include <string_view>

namespace wrenhaven {

// `month` is the month's key as the dialect writes it (a quoted constant,
// nothing from outside). Ordered by department, then person.
inline std::string KeptMonthPeople(std::string_view month) {
  return "SELECT HR_person.PersonID,HR_person.personName,HR_person.DeptID "
         "FROM HR_LoginMonth JOIN HR_person ON HR_person.PersonID = "
         "HR_LoginMonth.personID JOIN HR_Dept ON HR_person.DeptID = "
         "HR_Dept.DeptID WHERE HR_LoginMonth.Month = " +
         std::string(month) +
         " AND HR_LoginMonth.DeptID IS NOT NULL ORDER BY "
         "HR_LoginMonth.DeptID,HR_LoginMonth.personID";
}

}  // namespace wrenhaven

#endif  // WRENHAVEN_DB_KEPT_MONTH_H_
