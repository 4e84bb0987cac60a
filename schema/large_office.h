// A large demo office, for measuring the system at the size of a big
// organisation: by default 100,000 people in 100 departments, 200 roles,
// 2,000 menus on three levels with their functions and grants, and
// 1,000,000 login records over the two years up to today.
//
// Person n (from 1) signs in as "p" and n in six digits ("p000042") with
// the demo office's password scheme (PersonValues). Person 1 holds the
// first 20 roles (or all, when there are fewer); every other person one
// or two. Every role sees every first- and second-level menu, and each
// third-level menu is granted to a tenth of the roles, so the first 10
// roles together see all menus. Menu n of the tree is first-level every
// 100th from 1, then 9 second-level menus under each, each followed by
// its 10 third-level menus. After the tree come the administration pages
// as the demo office has them (six functions, a first-level menu and an
// entry for each), granted to role 1 alone, so person 1 administers. The
// records are in time order; one in 25 is a failed attempt (no person, LoginOK
// 0).
#ifndef WRENHAVEN_SCHEMA_LARGE_OFFICE_H_
#define WRENHAVEN_SCHEMA_LARGE_OFFICE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "wrenhaven/connection.h"

namespace wrenhaven {

struct LargeOfficeSize {
  int32_t persons = 100000;
  // At most 32,760: menu numbers are 16-bit, and the administration menus
  // come after the tree.
  int32_t menus = 2000;
  int32_t roles = 200;
  int64_t logins = 1000000;
  int32_t days = 730;  // the records' span, ending today
};

// Called after each batch of rows with what is being written ("people",
// "menus", "login records", ...), the rows written so far of all and the
// rows in all.
using LoadProgress =
    std::function<void(std::string_view what, int64_t done, int64_t total)>;

// The values of person n's HR_person row, as they stand in an INSERT's
// VALUES list: (PersonID, personAccount, personPwd, PersonName, DeptID,
// PersonJobCode).
std::string PersonValues(int32_t n, int32_t departments);

// Fills empty tables with the large office in one transaction (nothing
// stays after a failure), many rows to each statement. Raises
// kInvalidArgument before anything is sent for a size outside 1 to the
// bounds above (at most 1,000,000 people and 100,000,000 records; days
// 1 to 36,500).
void LoadLargeOffice(Connection& conn, const LargeOfficeSize& size = {},
                     const LoadProgress& progress = nullptr);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SCHEMA_LARGE_OFFICE_H_
