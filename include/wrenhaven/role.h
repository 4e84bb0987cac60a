// Wrenhaven.Role: the role catalogue, one row of SYS_Role per role (name,
// parent role, level, class and memo). Roles are what people are given and
// what menu rights are granted to; administration pages list, read, add,
// change and delete them through it.
//
// The instance borrows the page's connection (SetConn) and holds nothing
// else. Every method but SetConn and GetError needs a connection first.
// Failures raise Error and are recorded for GetError; commands never
// return false. Text values have their single quotes doubled; a bare value
// (RoleParentID, ID) must be a number or empty, and anything else raises
// before a statement is sent. An empty RoleParentID makes a role without
// parent.
#ifndef WRENHAVEN_ROLE_H_
#define WRENHAVEN_ROLE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// Slots 1 and 2 are SetConn and GetError of ClassBase
// (wrenhaven/class_base.h).
class Role : public ClassBase {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 3. Inserts a role; the database assigns its RoleID.
  bool AddData(const Variant& role_name, const Variant& role_parent_id,
               const Variant& role_level, const Variant& role_class,
               const Variant& role_memo);
  // Slot 4. Deletes the role `id` (none matching is no failure). The
  // people's roles, menu rights and child roles that refer to it stay.
  // REQUIRES: `id` is a number; an empty one raises before anything is
  // sent.
  bool DelData(const Variant& id);
  // Slot 5. Rewrites every column of the role `id` (none matching is no
  // failure). A Null RoleParentID or ID raises "Invalid use of Null" and
  // changes nothing. REQUIRES: `id` is a number.
  bool UpdateData(const Variant& id, const Variant& role_name,
                  const Variant& role_parent_id, const Variant& role_level,
                  const Variant& role_class, const Variant& role_memo);

  // Slot 6. Every role in RoleClass order, field first: cell (f, r) is
  // column f of the r-th role, (0 To F-1, 0 To N-1); no names row. The
  // empty grid (0 To 0, 0 To 0) when there is none.
  VariantArray GetAllData();
  // Slot 7. Page `page` (from 1) of `page_size` roles in RoleClass order,
  // row first: (0 To K-1, 0 To F-1); an undimensioned array when there is
  // no role at all. A page size below 1, or a page below 1 or past the
  // last one, raises.
  VariantArray GetPageData(const Variant& page_size, const Variant& page);
  // Slot 8. The role `id`, field first: (0 To F-1, 0 To 0); the empty grid
  // when no role has it.
  VariantArray GetData(int32_t id);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_ROLE_H_
