// Wrenhaven.RoleRight: who may see what. Grants menus to roles (SYS_right)
// and roles to people (SYS_PersonRole).
//
// Slots 1 and 2 hold the connection and report errors like every class.
// The methods after them read and change the two assignment tables (no
// other class writes them) and answer whether roles may use a function.
// Identifiers are whole numbers (32-bit); lists are comma lists of whole
// numbers such as "2,5,11" ("" for none). Bad input raises before any statement
// is sent. A change of a whole set runs in one transaction: all of it or none.
// The class checks no rights: the calling page decides who may use it.
//
// A person's new roles reach the session at their next sign-in; a role's
// new grants show at the next menu page.
#ifndef WRENHAVEN_ROLE_RIGHT_H_
#define WRENHAVEN_ROLE_RIGHT_H_

#include <memory>
#include <string>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// Slots 1 and 2 are SetConn and GetError of ClassBase
// (wrenhaven/class_base.h).
class RoleRight : public ClassBase {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 3. The menus granted to a role, field first: (0 To 1, 0 To N-1)
  // holding menuID and roleID, by menuID; EmptyGrid when none.
  VariantArray GetRoleMenus(int32_t role_id);
  // Slot 4. Grants a menu to a role; granting it again changes nothing.
  bool AddRoleMenu(int32_t role_id, int32_t menu_id);
  // Slot 5. Withdraws a grant; withdrawing a missing one changes nothing.
  bool DelRoleMenu(int32_t role_id, int32_t menu_id);
  // Slot 6. Makes `menu_ids` the role's whole grant set, in one transaction.
  bool UpdateRoleMenus(int32_t role_id, const Variant& menu_ids);

  // Slot 7. The roles of a person, field first: (0 To 2, 0 To N-1) holding
  // RoleID, RoleName (Null for a role since deleted) and PersonID, by
  // RoleID; EmptyGrid when none.
  VariantArray GetPersonRoles(int32_t person_id);
  // Slot 8. Gives a person a role; giving it again changes nothing.
  bool AddPersonRole(int32_t person_id, int32_t role_id);
  // Slot 9. Takes a role from a person.
  bool DelPersonRole(int32_t person_id, int32_t role_id);
  // Slot 10. Makes `role_ids` the person's whole set of roles, in one
  // transaction.
  bool UpdatePersonRoles(int32_t person_id, const Variant& role_ids);

  // Slot 11. True when one of `role_ids` is granted a menu entry that opens
  // the function at `fun_url` (compared exactly); false for an empty list,
  // without asking the database.
  bool MayUseFunction(const Variant& role_ids, const Variant& fun_url);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_ROLE_RIGHT_H_
