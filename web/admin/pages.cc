// The gate in front of the administration pages, and what the pages share.
#include "web/admin/pages.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "web/admin/form.h"
#include "web/admin/function_shelf.h"
#include "web/admin/gate.h"
#include "web/admin/texts.h"
#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "web/create.h"
#include "web/signed_in.h"
#include "web/texts.h"
#include "web/view.h"
#include "wrenhaven/personnel.h"

namespace wrenhaven::web {
namespace {

struct AdminEntry {
  std::string_view url;
  void (*show)(AdminVisit&);
};

constexpr AdminEntry kAdminPages[] = {
    {"/admin/menus", MenusPage},           {"/admin/functions", FunctionsPage},
    {"/admin/roles", RolesPage},           {"/admin/logins", LoginsPage},
    {"/admin/attendance", AttendancePage}, {"/admin/rights", RightsPage},
    {"/admin/sessions", SessionsPage},     {"/admin/audit", AuditPage},
};

// Every path below "/admin/" comes here first. Nothing of a page runs
// before the visitor is known to be signed in and allowed, and nothing of a
// posted form before its token is known to be the session's.
void AdminGate(HttpPage& http, FunctionShelf& functions) {
  const std::string& path = http.request().path();
  const std::string page = AdminPageOf(path);
  AdminVisit denied(http, page, "", "");
  // Rights read again first when they changed since the session's.
  const std::optional<RightsStamp> stamp = FollowRights(http);
  Session& session = http.session();
  if (session.Get("PersonID").ToText().empty()) {
    denied.Message(403, denied.Text("denied"), denied.Text("not_signed_in"),
                   /*sign_in=*/true);
    return;
  }
  const AdminEntry* entry = nullptr;
  for (const AdminEntry& e : kAdminPages) {
    if (e.url == page) entry = &e;
  }
  if (entry == nullptr) {
    denied.Message(404, denied.Text("not_found"), denied.Text("no_page"));
    return;
  }
  if (!MayUseFunctionPage(http, session.Get("RoleID"), entry->url)) {
    denied.Message(403, denied.Text("denied"), denied.Text("not_granted"));
    return;
  }
  const bool post = http.request().method() == "POST";
  if (post && !FormTokenMatches(session, http.request()
                                             .Lookup(Request::Collection::kForm,
                                                     kFormTokenField)
                                             .value_or(""))) {
    denied.Message(403, denied.Text("denied"), denied.Text("bad_token"));
    return;
  }
  // The stamp the rights were followed under stands for the whole visit.
  AdminVisit visit(http, page, path.substr(page.size()), FormToken(session),
                   stamp ? &functions : nullptr, stamp.value_or(RightsStamp{}));
  entry->show(visit);
}

}  // namespace

AdminVisit::AdminVisit(HttpPage& http, std::string page, std::string rest,
                       std::string token, FunctionShelf* functions,
                       RightsStamp stamp)
    : http_(http),
      english_(PrefersEnglish(
          http.request().ServerVariable("HTTP_ACCEPT_LANGUAGE"))),
      page_(std::move(page)),
      rest_(std::move(rest)),
      post_(http.request().method() == "POST"),
      token_(std::move(token)),
      functions_(functions),
      stamp_(stamp) {}

std::string AdminVisit::Query(std::string_view name) const {
  return http_.request()
      .Lookup(Request::Collection::kQueryString, name)
      .value_or("");
}

std::string AdminVisit::Field(std::string_view name) const {
  return http_.request().Lookup(Request::Collection::kForm, name).value_or("");
}

std::vector<std::string> AdminVisit::Fields(std::string_view name) const {
  std::vector<std::string> out;
  for (const HttpItem& item :
       http_.request().items(Request::Collection::kForm)) {
    if (item.name == name) out.push_back(item.value);
  }
  return out;
}

std::string AdminVisit::Text(const char* key) const {
  return AdminText(english_, key);
}

std::string AdminVisit::Labelled(const char* key,
                                 const std::string& what) const {
  // The Chinese texts end in a full-width colon, which takes no blank.
  return Text(key) + (english_ ? " " : "") + what;
}

TemplateData AdminVisit::Data(const std::string& title) const {
  TemplateData data;
  data.set("lang", english_ ? "en" : "zh");
  data.set("title", title);
  data.set("heading", title);
  data.set("t", Texts(english_));
  data.set("a", AdminTexts(english_));
  data.set("token", token_);
  data.set("page", page_);
  return data;
}

void AdminVisit::Show(std::string_view name, const TemplateData& data) {
  HttpResponse& response = http_.response();
  response.Write(Render("admin/head", data));
  response.Write(Render(name, data));
  response.Write(Render("admin/foot", data));
}

void AdminVisit::Message(int status, const std::string& heading,
                         const std::string& message, bool sign_in) {
  TemplateData data = Data(heading);
  data.set("message", message);
  data.set("sign_in", TemplateData(sign_in));
  http_.response().SetStatus(status);
  Show("admin/message", data);
}

void AdminVisit::Redirect(const std::string& address) {
  http_.response().Redirect(address);
}

void AuditedChange(AdminVisit& visit, AuditObject object, AuditAction action,
                   const Variant& id, const std::function<void()>& change) {
  const AuditActor actor{visit.http().session().Get("PersonID"),
                         visit.http().request().ServerVariable("REMOTE_ADDR")};
  Create<AuditTrail>(visit.http())->Audited(object, action, id, actor, change);
}

std::map<std::string, std::string> DepartmentNames(AdminVisit& visit) {
  // DeptID and DeptName, field first; the empty grid when there is none.
  const VariantArray all = Create<Personnel>(visit.http())->GetDepartments();
  std::map<std::string, std::string> names;
  if (all.UBound(1) == 0) return names;
  for (int32_t r = 0; r <= all.UBound(2); ++r) {
    names[all(0, r).ToText()] = all(1, r).ToText();
  }
  return names;
}

namespace {

// Personnel's columns of a person: PersonID, PersonName, personAccount,
// DeptID, DeptName.
PersonInfo ToPerson(const Variant& id, const Variant& name,
                    const Variant& account, const Variant& department) {
  return {id.ToText(), name.ToText(), account.ToText(), department.ToText()};
}

}  // namespace

PeoplePage FindPeople(AdminVisit& visit, const std::string& search,
                      int32_t page, int32_t per_page) {
  auto personnel = Create<Personnel>(visit.http());
  const Variant text = Variant::String(search);
  // Field first; the empty grid past the last person.
  const VariantArray rows =
      personnel->GetPeoplePage(text, (page - 1) * per_page, per_page);
  PeoplePage out;
  out.total = personnel->CountPeople(text).ToLong();
  if (rows.UBound(1) == 0) return out;
  for (int32_t r = 0; r <= rows.UBound(2); ++r) {
    out.people.push_back(
        ToPerson(rows(0, r), rows(1, r), rows(2, r), rows(4, r)));
  }
  return out;
}

bool PeopleSearchFits(std::string_view search) {
  return IsValidUtf8(search) && Utf8Length(search) <= kMaxPeopleSearchLength;
}

std::optional<PersonInfo> FindPerson(AdminVisit& visit, int32_t id) {
  const VariantArray one = Create<Personnel>(visit.http())->GetPerson(id);
  if (one.undimensioned()) return std::nullopt;
  return ToPerson(one(0), one(1), one(2), one(4));
}

std::optional<PersonInfo> FindAccount(AdminVisit& visit,
                                      const std::string& account) {
  const VariantArray one = Create<Personnel>(visit.http())
                               ->GetPersonByAccount(Variant::String(account));
  if (one.undimensioned()) return std::nullopt;
  return ToPerson(one(0), one(1), one(2), one(4));
}

TemplateData FormFields(const std::vector<FormField>& fields) {
  TemplateData list = List();
  for (const FormField& f : fields) {
    TemplateData item;
    item.set("name", f.name);
    item.set("label", f.label);
    item.set("value", f.value);
    item.set("wide", TemplateData(f.wide));
    item.set("select", TemplateData(!f.options.empty()));
    TemplateData options = List();
    bool found = false;
    for (const FormOption& o : f.options) {
      TemplateData option;
      option.set("value", o.value);
      option.set("label", o.label);
      option.set("selected", TemplateData(o.value == f.value));
      found = found || o.value == f.value;
      options.push_back(option);
    }
    if (!f.options.empty() && !found) {
      TemplateData option;
      option.set("value", f.value);
      option.set("label", f.value);
      option.set("selected", TemplateData(true));
      options.push_back(option);
    }
    item.set("options", options);
    list.push_back(item);
  }
  return list;
}

TemplateData List() { return TemplateData(TemplateData::type::list); }

TemplateData Pager(const AdminVisit& visit, int32_t current, int32_t pages,
                   const std::function<std::string(int32_t)>& link) {
  TemplateData numbers = List();
  for (const int32_t n : PageNumbers(current, pages)) {
    TemplateData item;
    if (n == 0) {
      item.set("gap", TemplateData(true));
    } else {
      item.set("number", std::to_string(n));
      item.set("href", link(n));
      item.set("current", TemplateData(n == current));
    }
    numbers.push_back(item);
  }
  TemplateData pager;
  pager.set("numbers", numbers);
  if (current > 1) pager.set("prev", link(std::min(current, pages + 1) - 1));
  if (current < pages) pager.set("next", link(current + 1));
  pager.set("of", visit.Text("page") + " " + std::to_string(current) + " / " +
                      std::to_string(pages));
  return pager;
}

TemplateData Steps(const AdminVisit& visit, int32_t current, bool more,
                   const std::function<std::string(int32_t)>& link) {
  TemplateData pager;
  if (current > 1) pager.set("prev", link(current - 1));
  if (more) pager.set("next", link(current + 1));
  pager.set("of", visit.Text("page") + " " + std::to_string(current));
  return pager;
}

std::string UrlEncoded(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
        (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '.') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

void SetNotice(const AdminVisit& visit, TemplateData& data) {
  const std::string done = visit.Query("done");
  for (const char* known : {"added", "saved", "deleted"}) {
    if (done == known) {
      data.set("notice", visit.Text(("done_" + done).c_str()));
    }
  }
}

void AddAdminPages(HttpHost& host) {
  auto functions = std::make_shared<FunctionShelf>();
  host.AddPages(
      "/admin/", [functions](HttpPage& http) { AdminGate(http, *functions); },
      PageKind::kAdmin);
}

bool HoldsAdministrationRight(HttpPage& page) {
  const Session& session = page.session();
  if (session.Get("PersonID").ToText().empty()) return false;
  const Variant roles = session.Get("RoleID");
  for (const AdminEntry& e : kAdminPages) {
    if (MayUseFunctionPage(page, roles, e.url)) return true;
  }
  return false;
}

}  // namespace wrenhaven::web
