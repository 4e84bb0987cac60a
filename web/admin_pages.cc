// The gate in front of the administration pages, and what the pages share.
#include "web/admin_pages.h"

#include <utility>

#include "web/admin_form.h"
#include "web/admin_gate.h"
#include "web/admin_page.h"
#include "web/admin_texts.h"
#include "web/admin_view.h"
#include "web/texts.h"
#include "web/view.h"

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
};

// Every path below "/admin/" comes here first. Nothing of a page runs
// before the visitor is known to be signed in and allowed, and nothing of a
// posted form before its token is known to be the session's.
void AdminGate(HttpPage& http) {
  const std::string& path = http.request().path();
  const std::string page = AdminPageOf(path);
  AdminVisit denied(http, page, "", "");
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
  if (!MayUseAdminPage(*http.connection(), session.Get("RoleID"), entry->url)) {
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
  AdminVisit visit(http, page, path.substr(page.size()), FormToken(session));
  entry->show(visit);
}

}  // namespace

AdminVisit::AdminVisit(HttpPage& http, std::string page, std::string rest,
                       std::string token)
    : http_(http),
      english_(PrefersEnglish(
          http.request().ServerVariable("HTTP_ACCEPT_LANGUAGE"))),
      page_(std::move(page)),
      rest_(std::move(rest)),
      post_(http.request().method() == "POST"),
      token_(std::move(token)) {}

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
  response.Write(Render("admin_head", data));
  response.Write(Render(name, data));
  response.Write(Render("admin_foot", data));
}

void AdminVisit::Message(int status, const std::string& heading,
                         const std::string& message, bool sign_in) {
  TemplateData data = Data(heading);
  data.set("message", message);
  data.set("sign_in", TemplateData(sign_in));
  http_.response().SetStatus(status);
  Show("admin_message", data);
}

void AdminVisit::Redirect(const std::string& address) {
  http_.response().Redirect(address);
}

std::map<std::string, std::string> DepartmentNames(Connection& conn) {
  std::map<std::string, std::string> names;
  auto rs = conn.Open("SELECT DeptID, DeptName FROM HR_Dept",
                      CursorType::kForwardOnly);
  for (; !rs->Eof(); rs->MoveNext()) {
    names[rs->Value(0).ToText()] = rs->Value(1).ToText();
  }
  rs->Close();
  return names;
}

namespace {

std::vector<PersonInfo> People(Connection& conn, const std::string& where) {
  const auto departments = DepartmentNames(conn);
  std::vector<PersonInfo> people;
  auto rs = conn.Open(
      "SELECT PersonID, PersonName, personAccount, DeptID FROM HR_person" +
          where + " ORDER BY PersonID",
      CursorType::kForwardOnly);
  for (; !rs->Eof(); rs->MoveNext()) {
    const auto dept = departments.find(rs->Value(3).ToText());
    people.push_back({rs->Value(0).ToText(), rs->Value(1).ToText(),
                      rs->Value(2).ToText(),
                      dept == departments.end() ? "" : dept->second});
  }
  rs->Close();
  return people;
}

}  // namespace

std::vector<PersonInfo> AllPeople(Connection& conn) { return People(conn, ""); }

std::optional<PersonInfo> FindPerson(Connection& conn, int32_t id) {
  std::vector<PersonInfo> one =
      People(conn, " WHERE PersonID=" + std::to_string(id));
  if (one.empty()) return std::nullopt;
  return one.front();
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

void SetNotice(const AdminVisit& visit, TemplateData& data) {
  const std::string done = visit.Query("done");
  for (const char* known : {"added", "saved", "deleted"}) {
    if (done == known) {
      data.set("notice", visit.Text(("done_" + done).c_str()));
    }
  }
}

void AddAdminPages(HttpHost& host) { host.AddPages("/admin/", AdminGate); }

}  // namespace wrenhaven::web
