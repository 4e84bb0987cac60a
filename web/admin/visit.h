// What every administration page works with: one visit of a page that the
// visitor may use (the rights and the form token were checked before the
// page runs), its request items, the classes it creates, and the drawing
// of the page with the common head and foot.
#ifndef WRENHAVEN_WEB_ADMIN_VISIT_H_
#define WRENHAVEN_WEB_ADMIN_VISIT_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/create.h"
#include "web/menu_cache.h"
#include "web/render.h"
#include "wrenhaven/audit.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_page.h"

namespace wrenhaven::web {

class FunctionShelf;

class AdminVisit {
 public:
  // `page` is the administration page ("/admin/menus"), `rest` what the
  // path has after it ("", "/edit").
  // `functions` keeps the function catalogue between visits of this
  // host's pages under `stamp`, the rights stamp read at the start of the
  // visit (none: read on every visit).
  AdminVisit(HttpPage& http, std::string page, std::string rest,
             std::string token, FunctionShelf* functions = nullptr,
             RightsStamp stamp = {});

  HttpPage& http() { return http_; }
  FunctionShelf* functions() { return functions_; }
  const RightsStamp& stamp() const { return stamp_; }
  bool english() const { return english_; }
  const std::string& page() const { return page_; }
  const std::string& rest() const { return rest_; }
  bool post() const { return post_; }

  // An item of the query string, "" when absent.
  std::string Query(std::string_view name) const;
  // An item of the posted form, "" when absent.
  std::string Field(std::string_view name) const;
  // Every value the form sent under `name`, in order.
  std::vector<std::string> Fields(std::string_view name) const;

  std::string Text(const char* key) const;
  // A text that leads into a name or number ("There is no menu 7",
  // "没有此菜单：7").
  std::string Labelled(const char* key, const std::string& what) const;

  // The data every page template gets: the texts ("t", "a"), the form
  // token, the language and the title.
  TemplateData Data(const std::string& title) const;
  // Writes the page: the head, the template `name` with `data`, the foot.
  void Show(std::string_view name, const TemplateData& data);
  // A page with a heading and one message, answered with `status`; with
  // `sign_in`, a link to the sign-in page.
  void Message(int status, const std::string& heading,
               const std::string& message, bool sign_in = false);
  // After a change: on to `address` (a path of this server).
  void Redirect(const std::string& address);

 private:
  HttpPage& http_;
  bool english_;
  std::string page_;
  std::string rest_;
  bool post_;
  std::string token_;
  FunctionShelf* functions_;
  RightsStamp stamp_;
};

// The pages. Each answers every path below its own address.
void MenusPage(AdminVisit& visit);
void FunctionsPage(AdminVisit& visit);
void RolesPage(AdminVisit& visit);
void LoginsPage(AdminVisit& visit);
void AttendancePage(AdminVisit& visit);
void RightsPage(AdminVisit& visit);
void SessionsPage(AdminVisit& visit);
void AuditPage(AdminVisit& visit);

// Makes a change through the page and writes its row of the audit trail
// in the same transaction (AuditTrail::Audited), naming the session's
// person and the client's address. Raises what the change raised.
void AuditedChange(AdminVisit& visit, AuditObject object, AuditAction action,
                   const Variant& id, const std::function<void()>& change);

// The personnel tables as the pages show them, read through the class
// Personnel.
struct PersonInfo {
  std::string id;
  std::string name;
  std::string account;
  std::string department;  // its name ("" when it has none)
};
// Department names by DeptID (as text).
std::map<std::string, std::string> DepartmentNames(AdminVisit& visit);
// Page `page` (from 1) of `per_page` people whose name or account
// contains `search` ("" for everybody), by PersonID, and how many there
// are in all. REQUIRES: `search` checked by PeopleSearchFits, `page` and
// `per_page` 1 or more, (page - 1) * per_page within int32_t.
struct PeoplePage {
  std::vector<PersonInfo> people;
  int64_t total = 0;
};
PeoplePage FindPeople(AdminVisit& visit, const std::string& search,
                      int32_t page, int32_t per_page);
// True when `search` may be sent to FindPeople: well-formed UTF-8 of at
// most kMaxPeopleSearchLength characters.
bool PeopleSearchFits(std::string_view search);
std::optional<PersonInfo> FindPerson(AdminVisit& visit, int32_t id);
// The person whose account is `account` (letter case aside). REQUIRES:
// `account` checked by PeopleSearchFits.
std::optional<PersonInfo> FindAccount(AdminVisit& visit,
                                      const std::string& account);

// Template data helpers.
TemplateData List();
// The page links of page `current` of `pages` (the first, the last, two
// either side, previous and next, "Page N / M"), each made by `link`.
TemplateData Pager(const AdminVisit& visit, int32_t current, int32_t pages,
                   const std::function<std::string(int32_t)>& link);

// Previous and next links around page `current` of a listing whose
// length is not counted ("Page N"): `more` says that a next page exists.
TemplateData Steps(const AdminVisit& visit, int32_t current, bool more,
                   const std::function<std::string(int32_t)>& link);

// `value` for a query string: letters, digits and "-_." as they are,
// every other byte percent-encoded.
std::string UrlEncoded(std::string_view value);

// A notice after a change ("done=added" gives the text "done_added").
void SetNotice(const AdminVisit& visit, TemplateData& data);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_VISIT_H_
