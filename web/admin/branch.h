// The menu tree as the administration pages show it: the first-level menus,
// with at most one branch opened below its first-level menu. Each page
// reads only what it shows, whatever the size of the rest of the tree.
#ifndef WRENHAVEN_WEB_ADMIN_BRANCH_H_
#define WRENHAVEN_WEB_ADMIN_BRANCH_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wrenhaven/menu.h"
#include "wrenhaven/variant.h"

namespace wrenhaven::web {

struct ShownMenu {
  int32_t id = 0;
  int level = 1;               // 1 for a first-level menu
  std::vector<Variant> cells;  // SYS_Menu's columns, in the table's order
  bool top = false;            // one of the first-level menus
  bool open = false;           // the menu whose branch follows it
};

struct BranchView {
  std::vector<ShownMenu> rows;
  std::string error;  // why the branch could not be listed ("" when it was)
};

// The menu at the top of the branch of menu `id`: the first-level menu
// above it (`id` itself for a first-level menu) or, where a parent on the
// way up has since been deleted, the highest menu below it. nullopt when
// `id` is no menu, or the way up loops or climbs more than 64 levels.
std::optional<int32_t> TopOfBranch(Menu& menu, int32_t id);

// The first-level menus by MenuOrder and, for `branch` other than 0, its
// branch: the menu at its top followed by everything below that one, depth
// first. A branch that no first-level menu reaches (its top's parent gone)
// opens at the end; where the way up loops, `branch` is taken as the
// top. One statement for the first level, two for
// the branch (Menu.GetAllData) and one per level walked up. When the
// branch cannot be listed (a loop below it), the first level alone, and
// when the first level cannot (a menu numbered 0 in it), nothing; each
// with the reason.
BranchView ReadBranch(Menu& menu, int32_t branch);

// The branch a page asks for in `text` (its "branch" value): 0 for none,
// the menu's number for a menu there is, nullopt for anything else (text
// that is no number above 0, or a number no menu has).
std::optional<int32_t> BranchAsked(Menu& menu, const std::string& text);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_BRANCH_H_
