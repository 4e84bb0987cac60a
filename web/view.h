// What the office pages show, worked out from the library's results and
// the request: the menu entries as drawn, the language, safe links.
#ifndef WRENHAVEN_WEB_VIEW_H_
#define WRENHAVEN_WEB_VIEW_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/menu.h"
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

// The entries as drawn, in the order given: captions and tips in the
// chosen language (the other one where that is empty), the level as the
// menu gives it.
std::vector<MenuEntry> MenuEntries(const std::vector<MenuItem>& items,
                                   bool english);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_VIEW_H_
