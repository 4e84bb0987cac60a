// The office system's web front: the sign-in page, the main window and the
// pages its menus open, served by an HttpHost.
//
//   "/"            the sign-in page (a plain visit signs the visitor out)
//   "/MyOffice/"   the main window: top menu, left menu, content area
//   "/MyOffice/home" the content area's first page
//   "/MyOffice/sessions/end" (POST) ends the visitor's own other sessions
//   "/apps/NAME"   the function pages (placeholders)
//   "/admin/..."   the administration pages (web/admin/pages.h)
//
// Everything but the sign-in page is for signed-in visitors only; others
// are sent back to "/". Each of those pages first reads the visitor's
// roles again when they changed since the session's (web/signed_in.h). Each
// AddOfficePages has its own cache of the main window's menus
// (web/menu_cache.h), shared by the host's worker threads.
//
// AddOfficePages also adds to the host's metrics the sign-in posts by
// outcome and the menu cache's hits and misses, lets administrators read
// the operators' endpoints from anywhere (HttpHost::SetMonitorGate), and
// gives the templates the host's static addresses (SetStaticAddresses of
// web/render.h).
#ifndef WRENHAVEN_WEB_OFFICE_PAGES_H_
#define WRENHAVEN_WEB_OFFICE_PAGES_H_

#include <string>

#include "wrenhaven/http_host.h"

namespace wrenhaven::web {

void AddOfficePages(HttpHost& host);

// The static folder (styles, scripts, icons) that belongs with the
// program at `executable`: share/wrenhaven/static beside an installed one,
// else web/static of the source tree it was built from. "" when neither
// exists.
std::string DefaultStaticDir(const std::string& executable);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_OFFICE_PAGES_H_
