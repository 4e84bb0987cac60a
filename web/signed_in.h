// What the office keeps with a signed-in visitor besides the values the
// sign-in puts in the session: the session is listed under its holder
// (person, account, login record, address, browser), and it carries the
// rights version (SYS_Version 'rights') its role values were read under.
//
// Roles change while people are signed in. Every signed-in page starts
// with FollowRights: when the database's rights version is no longer the
// session's, the role values ("Role", "RoleID") are read again, in the
// form the sign-in puts them, before the page looks at them; on every
// server, since the version is the database's.
#ifndef WRENHAVEN_WEB_SIGNED_IN_H_
#define WRENHAVEN_WEB_SIGNED_IN_H_

#include <cstdint>
#include <optional>
#include <string>

#include "web/menu_cache.h"
#include "wrenhaven/http_page.h"

namespace wrenhaven::web {

// The session key of the rights version, a whole number as text.
inline constexpr char kRightsVersionKey[] = "RightsVersion";

// Right after a successful sign-in on `page` (LoginMain filled the
// session): finds the login record the sign-in wrote (on the page's
// connection, the one the sign-in used), reads the rights version and
// then the roles once more (so that a change made while the sign-in ran
// shows as a newer version), and lists the session under its holder
// (HttpPage::SignedIn, which also moves it to a fresh identifier). Raises
// kDatabase when the record cannot be found.
void NoteSignIn(HttpPage& page);

// At the start of a signed-in page. A session without a rights version
// (none of the sign-in page's) is left as it is and nullopt returned,
// without a statement. Otherwise reads the rights stamp and returns it
// (its database part is the page's rights_version() when the session
// store read one with the session: no statement then); when its version
// differs from the session's, the role values are read
// again and the version kept. A session whose person is no number is
// ended instead (the page then sees nobody signed in). Raises the
// database's error.
std::optional<RightsStamp> FollowRights(HttpPage& page);

// A session time as the pages show it: "YYYY-MM-DD HH:MM:SS", local time.
std::string SessionTimeText(SessionClock::time_point t);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_SIGNED_IN_H_
