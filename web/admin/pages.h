// The administration pages of the office web front, all below "/admin/":
//
//   /admin/menus       the menu tree: add, change, delete menus
//   /admin/functions   the function catalogue, page by page
//   /admin/roles       the role catalogue, page by page
//   /admin/logins      sign-ins per person, one person's history, a record
//   /admin/attendance  a month's first sign-ins per person and day, as a
//                      calendar and as CSV
//   /admin/rights      the menus of a role, the roles of a person
//   /admin/sessions    who is signed in now; ending sessions
//   /admin/audit       the changes made on these pages, newest first, and
//                      as CSV
//
// Every page first reads the visitor's roles again when they changed
// since the session's (web/signed_in.h). A visitor who is not signed in,
// or none of whose session roles is granted the page's function, gets 403
// and nothing is done. Changes are posted forms carrying the session's
// form token; without it, 403 and nothing is changed.
#ifndef WRENHAVEN_WEB_ADMIN_PAGES_H_
#define WRENHAVEN_WEB_ADMIN_PAGES_H_

#include "wrenhaven/http_host.h"

namespace wrenhaven::web {

// Adds the pages below "/admin/", each of kind PageKind::kAdmin.
void AddAdminPages(HttpHost& host);

// True when the visitor is signed in and one of the session's roles is
// granted one of the administration pages above. Raises the database's
// error.
bool HoldsAdministrationRight(HttpPage& page);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_PAGES_H_
