// Wrenhaven.Menu: the navigation menus a visitor's roles may see, and the
// upkeep of the menu tree in SYS_Menu.
//
// The role-filtered menus read the visitor's role-ID list from the session
// value "RoleID" at every call, so they need OnStartPage (for the session)
// and SetConn; the tree upkeep needs SetConn only. Every failure raises an
// Error whose description GetError returns afterwards. Results are owned by
// the caller; nothing is kept between calls.
#ifndef WRENHAVEN_MENU_H_
#define WRENHAVEN_MENU_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// One entry of the main window's menus as the database holds it. Texts
// the database holds as Null are empty.
struct MenuItem {
  int32_t id = 0;
  int32_t parent_id = 0;  // 0 for a first-level menu
  int level = 1;          // 2 for an entry under a left-menu entry
  std::string name;
  std::string tip;
  std::string english;
  std::string english_tip;
  std::string icon;
  std::string url;  // the function's FunUrl; "" when it opens none

  bool operator==(const MenuItem&) const = default;
};

// Counts the changes of the menu tree made through the Menu objects of
// this process (AddData, UpdateData, DelData, whether they succeeded or
// not), so that what keeps menus in memory can drop them at once. Safe
// from any thread.
uint64_t MenuChangesInProcess();

// Slots 1 to 4 are SetConn, OnStartPage, OnEndPage and GetError of
// PageBoundClass (wrenhaven/class_base.h).
class Menu : public PageBoundClass {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 5. The visible first-level menus, (0 To N-1, 0 To 6): menuID,
  // menuName, menuIcon, FunUrl (Null without a function), MenuTip,
  // MenuEnglish, MenuEnglishTip, by menuOrder. UndimensionedArray when none
  // is visible or the visitor has no roles.
  VariantArray GetTopMenu();
  // Slot 6. The visible children of `menu_parent_id`, each followed by its
  // visible children, (0 To K, 0 To 8): menuID, menuName, menuIcon, FunUrl,
  // menuParentID, then MenuTip, MenuEnglish, MenuEnglishTip for the
  // children only (Empty in their children's rows); column 8 and row K are
  // Empty. (0 To 0, 0 To 8), all Empty, when there is no entry.
  VariantArray GetLeftMenu(int32_t menu_parent_id);

  // Not slots. The visible first-level menus as GetTopMenu lists them (its
  // statement, its order); none for a visitor without roles.
  std::vector<MenuItem> TopMenuItems();
  // The visible children of `menu_parent_id` (level 1), each followed by
  // its visible children (level 2), as GetLeftMenu lists them, in one
  // statement; siblings of equal MenuOrder by MenuID. None for a visitor
  // without roles.
  std::vector<MenuItem> LeftMenuItems(int32_t menu_parent_id);

  // Slot 7. Every menu below `parent_id` (0: the first level), depth first,
  // siblings by MenuOrder: row 0 the column names of SYS_Menu, then one row
  // per menu in the table's column order. Raises naming the menu when the
  // parent links below `parent_id` form a loop or reach a menu numbered 0.
  VariantArray GetAllData(int32_t parent_id);
  // Slot 12. The menus right below `parent_id` (0: the first level) by
  // MenuOrder, in GetAllData's shape (row 0 the column names) but without
  // what lies further down: one statement, whatever the size of the tree.
  // Raises as GetAllData does for a menu numbered 0 or its own parent.
  VariantArray GetChildren(int32_t parent_id);
  // Slot 8. One menu's row, (0 To F-1); UndimensionedArray when absent.
  VariantArray GetData(int32_t id);
  // Slot 9. Adds a menu; FunID and MenuParentID are numbers or empty (then
  // Null). Always true; the new MenuID is not returned.
  bool AddData(const Variant& fun_id, const Variant& menu_parent_id,
               const Variant& menu_name, const Variant& menu_tip,
               const Variant& menu_english, const Variant& menu_english_tip,
               const Variant& menu_icon, const Variant& menu_order);
  // Slot 10. Deletes one menu; its children and grants stay. REQUIRES: `id`
  // a number (raises before anything is sent otherwise).
  bool DelData(const Variant& id);
  // Slot 11. Rewrites every column of one menu; empty FunID, MenuParentID
  // and MenuOrder become Null. REQUIRES: `id` a number.
  bool UpdateData(const Variant& id, const Variant& fun_id,
                  const Variant& menu_parent_id, const Variant& menu_name,
                  const Variant& menu_tip, const Variant& menu_english,
                  const Variant& menu_english_tip, const Variant& menu_icon,
                  const Variant& menu_order);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_MENU_H_
