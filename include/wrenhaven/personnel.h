// Wrenhaven.Personnel: the personnel tables as the pages read them, the
// people of HR_person (never their passwords) and the departments of
// HR_Dept. The main window names the visitor's department with it, and the
// administration pages list and look up people and departments.
//
// It reads only: the personnel tables are kept by the office's own
// personnel system. The instance borrows the page's connection (SetConn)
// and holds nothing else; every method but SetConn and GetError needs the
// connection first. Failures raise Error and are recorded for GetError.
// Identifiers are whole numbers; anything else raises before a statement is
// sent.
#ifndef WRENHAVEN_PERSONNEL_H_
#define WRENHAVEN_PERSONNEL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// The longest search text GetPeoplePage and CountPeople take, in
// characters, and the most people one page holds.
inline constexpr size_t kMaxPeopleSearchLength = 64;
inline constexpr int32_t kMaxPeoplePageSize = 200;

// Slots 1 and 2 are SetConn and GetError of ClassBase
// (wrenhaven/class_base.h).
class Personnel : public ClassBase {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 3. Every department by DeptID, field first: (0 To 1, 0 To N-1)
  // holding DeptID and DeptName; EmptyGrid when there is none.
  VariantArray GetDepartments();
  // Slot 4. The name of the department `dept_id`; "" when no department has
  // it, and (without asking the database) for an Empty, Null or empty
  // `dept_id`, which is a person without a department. REQUIRES: a number
  // otherwise.
  std::string GetDeptName(const Variant& dept_id);

  // Slot 5. Every person by PersonID, field first: (0 To 4, 0 To N-1)
  // holding PersonID, PersonName, personAccount, DeptID and the
  // department's DeptName (Null when the person's department has no row);
  // EmptyGrid when there is none.
  VariantArray GetPeople();
  // Slot 6. The person `person_id` with the same five columns: (0 To 4);
  // UndimensionedArray when nobody has it.
  VariantArray GetPerson(int32_t person_id);

  // Slot 7. One page of the people whose name or account contains
  // `search` (letters A to Z in either case; Empty, Null or "" for
  // everybody), by PersonID: at most `count` (1 to kMaxPeoplePageSize) of
  // them after the first `offset` (0 or more), with GetPeople's columns and
  // shape; EmptyGrid past the last. A search that is not well-formed UTF-8
  // of at most kMaxPeopleSearchLength characters, or a count or offset out
  // of range, raises kInvalidArgument before any statement is sent.
  VariantArray GetPeoplePage(const Variant& search, int32_t offset,
                             int32_t count);
  // Slot 8. How many people GetPeoplePage finds for `search` (a Long); the
  // same checks.
  Variant CountPeople(const Variant& search);
  // Slot 9. The person whose account is `account`, letter case aside,
  // with GetPerson's columns and shape; UndimensionedArray when nobody has
  // it. An account that is not well-formed UTF-8 of at most
  // kMaxPeopleSearchLength characters raises kInvalidArgument before any
  // statement is sent.
  VariantArray GetPersonByAccount(const Variant& account);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_PERSONNEL_H_
