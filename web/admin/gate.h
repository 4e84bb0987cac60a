// Who may use an administration page or a feature page below /apps/, and
// the token that every form that changes something carries.
//
// Each such page is a function of SYS_Function (its FunUrl). A visitor may
// use it when one of the roles in the session's "RoleID" list is granted,
// in SYS_right, a menu entry that opens that function. The pages check
// nothing themselves: the gate in front of them does.
#ifndef WRENHAVEN_WEB_ADMIN_GATE_H_
#define WRENHAVEN_WEB_ADMIN_GATE_H_

#include <string>
#include <string_view>

#include "wrenhaven/http_page.h"
#include "wrenhaven/page.h"

namespace wrenhaven::web {

// The session key of the form token, and the form field that brings it
// back.
inline constexpr char kFormTokenKey[] = "FormToken";
inline constexpr char kFormTokenField[] = "token";

// True when one of `role_ids` (the session's "RoleID": a whole number or a
// comma list of them) is granted a menu entry that opens `page_url`
// (RoleRight.MayUseFunction on the page's connection). An empty list, or
// one that is not a list of whole numbers, is false without asking the
// database. Raises the database's error.
bool MayUseFunctionPage(HttpPage& page, const Variant& role_ids,
                        std::string_view page_url);

// True when `fun_url` names, or could be taken for, an administration page:
// "/admin" or anything below it, whatever its letter case and the blanks
// around it. Such functions, and the menus that open them, decide who
// administers the office.
bool LeadsToAdministration(std::string_view fun_url);

// True when the visitor may add, change or delete what leads to an
// administration page: one of the session's roles opens the rights page.
// Without this rule a role granted only the functions page could point a
// function that every role holds at "/admin/rights". Raises the database's
// error.
bool MayChangeAdministration(HttpPage& page);

// The session's form token: 64 hexadecimal digits drawn once per session.
std::string FormToken(Session& session);

// True when `sent` is the session's form token. A session without a token
// matches nothing.
bool FormTokenMatches(const Session& session, std::string_view sent);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_GATE_H_
