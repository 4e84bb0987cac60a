// "/admin/rights": which menus a role is granted, and which roles a person
// holds.
//
//   GET  /admin/rights?search=T&page=P
//                                    the roles, and one page of the people
//                                    whose name or account holds T (all
//                                    when none is given), kPeoplePerPage
//                                    to a page
//   GET  /admin/rights/role?id=N&branch=B
//                                    the first-level menus and the branch
//                                    of menu B (none: the first level
//                                    alone), a box per menu; POST makes the
//                                    ticked ones of those menus the role's
//                                    grants, in one go, and keeps every
//                                    grant of a menu not on the form
//   GET  /admin/rights/person?id=N   a box per role; POST makes the ticked
//                                    roles the person's, in one go
//
// A role's new grants show at its people's next page; a person's new
// roles at that person's next sign-in, since the session holds them.
#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "web/admin/branch.h"
#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/role.h"
#include "wrenhaven/role_right.h"

namespace wrenhaven::web {
namespace {

constexpr int32_t kPeoplePerPage = 50;

struct RoleInfo {
  std::string id;
  std::string name;
  std::string memo;
};

std::vector<RoleInfo> AllRoles(AdminVisit& visit) {
  auto role = Create<Role>(visit.http());
  // Field first (RoleID, RoleName, RoleParentID, RoleLevel, RoleClass,
  // RoleMemo); the empty grid when there is none.
  const VariantArray all = role->GetAllData();
  std::vector<RoleInfo> roles;
  if (all.UBound(1) == 0) return roles;
  for (int32_t r = 0; r <= all.UBound(2); ++r) {
    roles.push_back(
        {all(0, r).ToText(), all(1, r).ToText(), all(5, r).ToText()});
  }
  return roles;
}

std::optional<RoleInfo> FindRole(AdminVisit& visit, int32_t id) {
  auto role = Create<Role>(visit.http());
  const VariantArray one = role->GetData(id);
  if (one.UBound(1) == 0) return std::nullopt;
  return RoleInfo{one(0, 0).ToText(), one(1, 0).ToText(), one(5, 0).ToText()};
}

// The first row of a field-first result as numbers; none for the empty
// grid.
std::set<int32_t> FirstField(const VariantArray& fields_by_rows) {
  std::set<int32_t> ids;
  if (fields_by_rows.UBound(1) == 0) return ids;
  for (int32_t r = 0; r <= fields_by_rows.UBound(2); ++r) {
    ids.insert(fields_by_rows(0, r).ToLong());
  }
  return ids;
}

void NotFound(AdminVisit& visit, const char* what, const std::string& id) {
  visit.Message(404, visit.Text("rights"), visit.Labelled(what, id));
}

// The ticked boxes; nullopt when one of them is no identifier.
std::optional<std::vector<int32_t>> Ticked(const AdminVisit& visit,
                                           std::string_view name) {
  std::vector<int32_t> ids;
  for (const std::string& value : visit.Fields(name)) {
    const auto id = ParseId(value);
    if (!id) return std::nullopt;
    ids.push_back(*id);
  }
  return ids;
}

// The address of page `page` of the people found by `search`.
std::string PeopleLink(const AdminVisit& visit, const std::string& search,
                       int32_t page) {
  std::string link = visit.page() + "?page=" + std::to_string(page);
  if (!search.empty()) link += "&search=" + UrlEncoded(search);
  return link;
}

void ShowOverview(AdminVisit& visit) {
  const std::string search(TrimSpaces(visit.Query("search")));
  const std::string page_text = visit.Query("page");
  const auto page =
      page_text.empty() ? std::optional<int32_t>(1) : ParseId(page_text);
  // Refused before anything is read.
  if (!page || *page < 1 ||
      *page > std::numeric_limits<int32_t>::max() / kPeoplePerPage) {
    visit.Message(400, visit.Text("rights"), visit.Text("bad_paging"));
    return;
  }
  if (!PeopleSearchFits(search)) {
    visit.Message(400, visit.Text("rights"), visit.Text("bad_search"));
    return;
  }
  TemplateData data = visit.Data(visit.Text("rights"));
  // The lists are built in place: an added or set item is a copy of all
  // it holds.
  const std::vector<RoleInfo> all_roles = AllRoles(visit);
  TemplateData roles = List();
  ReserveItems(roles, all_roles.size());
  for (const RoleInfo& r : all_roles) {
    TemplateData& item = AppendItem(roles);
    item.set("id", r.id);
    item.set("name", r.name);
    item.set("memo", r.memo);
  }
  data["roles"] = std::move(roles);
  const PeoplePage found = FindPeople(visit, search, *page, kPeoplePerPage);
  TemplateData people = List();
  ReserveItems(people, found.people.size());
  for (const PersonInfo& p : found.people) {
    TemplateData& item = AppendItem(people);
    item.set("id", p.id);
    item.set("name", p.name);
    item.set("account", p.account);
    item.set("department", p.department);
  }
  data["people"] = std::move(people);
  data.set("has_people", TemplateData(!found.people.empty()));
  data.set("search", search);
  data.set("count", std::to_string(found.total));
  const auto pages = static_cast<int32_t>(std::max<int64_t>(
      1, (found.total + kPeoplePerPage - 1) / kPeoplePerPage));
  data.set("pager", Pager(visit, *page, pages, [&](int32_t n) {
             return PeopleLink(visit, search, n);
           }));
  visit.Show("admin/rights", data);
}

void RoleMenus(AdminVisit& visit) {
  const std::string id = visit.post() ? visit.Field("id") : visit.Query("id");
  const auto n = ParseId(id);
  const auto role = n ? FindRole(visit, *n) : std::nullopt;
  if (!role) {
    NotFound(visit, "no_such_role", id);
    return;
  }
  auto menu = Create<Menu>(visit.http());
  const auto asked = BranchAsked(
      *menu, visit.post() ? visit.Field("branch") : visit.Query("branch"));
  if (!asked) {
    visit.Message(404, visit.Text("rights"), visit.Text("no_such_branch"));
    return;
  }
  const int32_t branch = *asked;
  auto rights = Create<RoleRight>(visit.http());
  // Without the branch (a listing refused) nothing is saved: the form
  // would not show what the role holds.
  const BranchView tree = ReadBranch(*menu, branch);
  std::string error = tree.error;
  std::set<int32_t> shown;
  for (const ShownMenu& m : tree.rows) shown.insert(m.id);
  std::set<int32_t> granted = FirstField(rights->GetRoleMenus(*n));

  if (visit.post() && error.empty()) {
    const auto ticked = Ticked(visit, "menu");
    if (!ticked) {
      error = visit.Text("bad_choice");
    } else {
      // The form changes the grants of its own menus alone: a ticked box
      // of a menu it does not show is ignored, and the grants of menus
      // it does not show (other branches, menus below a deleted one) are
      // kept.
      std::set<int32_t> keep;
      for (const int32_t t : *ticked) {
        if (shown.count(t) > 0) keep.insert(t);
      }
      for (const int32_t g : granted) {
        if (shown.count(g) == 0) keep.insert(g);
      }
      try {
        AuditedChange(visit, AuditObject::kGrant, AuditAction::kUpdate,
                      Variant::Long(*n), [&] {
                        rights->UpdateRoleMenus(
                            *n, Variant::String(JoinIds(std::vector<int32_t>(
                                    keep.begin(), keep.end()))));
                      });
        visit.Redirect(visit.page() + "/role?id=" + id +
                       (branch > 0 ? "&branch=" + std::to_string(branch) : "") +
                       "&done=saved");
        return;
      } catch (const Error& e) {
        error = e.description();
      }
      granted = std::set<int32_t>(ticked->begin(), ticked->end());
    }
  }

  TemplateData data = visit.Data(visit.Labelled("menus_of", role->name));
  SetNotice(visit, data);
  if (!error.empty()) data.set("error", error);
  data.set("id", id);
  data.set("role", role->name);
  if (branch > 0) data.set("branch", std::to_string(branch));
  TemplateData items = List();
  ReserveItems(items, tree.rows.size());
  TemplateData branches = List();
  const std::string here = visit.page() + "/role?id=" + id;
  for (const ShownMenu& m : tree.rows) {
    // Menu columns: MenuName is the fourth, MenuEnglish the sixth.
    TemplateData& item = AppendItem(items);
    item.set("id", std::to_string(m.id));
    item.set("level", std::to_string(m.level));
    item.set("name", m.cells[3].ToText());
    item.set("english", m.cells[5].ToText());
    item.set("checked", TemplateData(granted.count(m.id) > 0));
    if (m.top || m.open) {
      TemplateData link;
      link.set("href",
               m.open ? here : here + "&branch=" + std::to_string(m.id));
      link.set("id", std::to_string(m.id));
      const std::string name = m.cells[3].ToText();
      link.set("name", name.empty() ? m.cells[5].ToText() : name);
      link.set("open", TemplateData(m.open));
      branches.push_back(link);
    }
  }
  data["menus"] = std::move(items);
  data.set("has_menus", TemplateData(!tree.rows.empty()));
  data["branches"] = std::move(branches);
  data.set("action", visit.page() + "/role");
  visit.Show("admin/rights_role", data);
}

void PersonRoles(AdminVisit& visit) {
  const std::string id = visit.post() ? visit.Field("id") : visit.Query("id");
  const auto n = ParseId(id);
  const auto person = n ? FindPerson(visit, *n) : std::nullopt;
  if (!person) {
    NotFound(visit, "no_such_person", id);
    return;
  }
  auto rights = Create<RoleRight>(visit.http());
  // RoleID, RoleName (Null for a role since deleted), PersonID.
  const VariantArray held = rights->GetPersonRoles(*n);
  std::set<int32_t> holds = FirstField(held);

  std::string error;
  if (visit.post()) {
    const auto ticked = Ticked(visit, "role");
    if (!ticked) {
      error = visit.Text("bad_choice");
    } else {
      try {
        AuditedChange(visit, AuditObject::kPersonRole, AuditAction::kUpdate,
                      Variant::Long(*n), [&] {
                        rights->UpdatePersonRoles(
                            *n, Variant::String(JoinIds(*ticked)));
                      });
        visit.Redirect(visit.page() + "/person?id=" + id + "&done=saved");
        return;
      } catch (const Error& e) {
        error = e.description();
      }
      holds = std::set<int32_t>(ticked->begin(), ticked->end());
    }
  }

  TemplateData data = visit.Data(visit.Labelled("roles_of", person->name));
  SetNotice(visit, data);
  if (!error.empty()) data.set("error", error);
  data.set("id", id);
  data.set("person", person->name);
  data.set("account", person->account);
  data.set("department", person->department);
  TemplateData items = List();
  std::set<int32_t> listed;
  for (const RoleInfo& r : AllRoles(visit)) {
    const int32_t role_id = Variant::String(r.id).ToLong();
    listed.insert(role_id);
    TemplateData item;
    item.set("id", r.id);
    item.set("name", r.name);
    item.set("memo", r.memo);
    item.set("checked", TemplateData(holds.count(role_id) > 0));
    items.push_back(item);
  }
  // Roles deleted from the catalogue that the person still holds: shown,
  // so that they can be taken away.
  for (const int32_t h : FirstField(held)) {
    if (listed.count(h) > 0) continue;
    TemplateData item;
    item.set("id", std::to_string(h));
    item.set("name", visit.Text("deleted_role") + " #" + std::to_string(h));
    item.set("memo", "");
    item.set("checked", TemplateData(holds.count(h) > 0));
    items.push_back(item);
  }
  data.set("roles", items);
  data.set("action", visit.page() + "/person");
  visit.Show("admin/rights_person", data);
}

}  // namespace

void RightsPage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (rest.empty() && !visit.post()) {
    ShowOverview(visit);
  } else if (rest == "/role") {
    RoleMenus(visit);
  } else if (rest == "/person") {
    PersonRoles(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace wrenhaven::web
