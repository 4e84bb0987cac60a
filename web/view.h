// What the office pages show, worked out from the library's results and
// the request: the menu entries as drawn, the language, safe links.
#ifndef WRENHAVEN_WEB_VIEW_H_
#define WRENHAVEN_WEB_VIEW_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven::web {

// True when the browser ranks English above Chinese (Accept-Language,
// quality values honoured; a language the system does not have counts for
// neither). Without any preference the system's own captions are shown.
bool PrefersEnglish(std::string_view accept_language);

// The icon symbol for a menu's icon file ("mail.gif" gives "mail"); "dot"
// for an icon the static folder has no symbol for.
std::string IconName(const Variant& icon);

// The address as a link target, or "" when it must not become one: only
// paths on this server ("/apps/mail", "report.asp?x=1") and http(s)
// addresses pass; "javascript:", "//elsewhere" and control characters do
// not.
std::string SafeHref(const Variant& address);

struct MenuEntry {
  std::string id;       // menuID as text
  std::string caption;  // in the chosen language, the other one when empty
  std::string tip;
  std::string icon;  // see IconName
  std::string href;  // see SafeHref; "" for an entry without a page
  int level = 1;     // 2 for the entries under a left-menu entry
};

// GetTopMenu's rows, (0 To N-1, 0 To 6); none for the undimensioned result.
std::vector<MenuEntry> TopEntries(const VariantArray& top, bool english);

// One menu's row of SYS_Menu (Menu.GetData), for entries whose tip and
// English texts the left menu does not carry.
using MenuDetails = std::function<VariantArray(int32_t menu_id)>;

// GetLeftMenu's rows for `parent`, (0 To K, 0 To 8), without the empty
// last row. Rows whose parent is `parent` are level 1, the others (their
// sub-entries) level 2, whose tip and English caption come from
// `details`.
std::vector<MenuEntry> LeftEntries(const VariantArray& left, int32_t parent,
                                   bool english, const MenuDetails& details);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_VIEW_H_
