// "/admin/rights": which menus a role is granted, and which roles a person
// holds.
//
//   GET  /admin/rights               the roles and the people
//   GET  /admin/rights/role?id=N     the menu tree, a box per menu; POST
//                                    makes the ticked menus the role's
//                                    grants, in one go
//   GET  /admin/rights/person?id=N   a box per role; POST makes the ticked
//                                    roles the person's, in one go
//
// A role's new grants show at its people's next page; a person's new
// roles at that person's next sign-in, since the session holds them.
#include <algorithm>
#include <set>

#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/role.h"
#include "wrenhaven/role_right.h"

namespace wrenhaven::web {
namespace {

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

void ShowOverview(AdminVisit& visit) {
  TemplateData data = visit.Data(visit.Text("rights"));
  TemplateData roles = List();
  for (const RoleInfo& r : AllRoles(visit)) {
    TemplateData item;
    item.set("id", r.id);
    item.set("name", r.name);
    item.set("memo", r.memo);
    roles.push_back(item);
  }
  data.set("roles", roles);
  TemplateData people = List();
  for (const PersonInfo& p : AllPeople(visit)) {
    TemplateData item;
    item.set("id", p.id);
    item.set("name", p.name);
    item.set("account", p.account);
    item.set("department", p.department);
    people.push_back(item);
  }
  data.set("people", people);
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
  auto rights = Create<RoleRight>(visit.http());
  // Without the tree (a listing refused) nothing is saved: the form would
  // not show what the role holds.
  std::string error;
  VariantArray tree;
  try {
    tree = menu->GetAllData(0);
  } catch (const Error& e) {
    error = e.description();
  }
  const std::vector<TreeRow> rows = MenuTreeRows(tree);
  std::set<int32_t> granted = FirstField(rights->GetRoleMenus(*n));

  if (visit.post() && error.empty()) {
    const auto ticked = Ticked(visit, "menu");
    if (!ticked) {
      error = visit.Text("bad_choice");
    } else {
      // Grants of menus the tree does not reach (below a deleted menu)
      // are not on the form; saving keeps them.
      std::vector<int32_t> keep = *ticked;
      for (const int32_t g : granted) {
        const bool shown =
            std::any_of(rows.begin(), rows.end(),
                        [g](const TreeRow& t) { return t.id == g; });
        if (!shown) keep.push_back(g);
      }
      std::sort(keep.begin(), keep.end());
      keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
      try {
        AuditedChange(visit, AuditObject::kGrant, AuditAction::kUpdate,
                      Variant::Long(*n), [&] {
                        rights->UpdateRoleMenus(*n,
                                                Variant::String(JoinIds(keep)));
                      });
        visit.Redirect(visit.page() + "/role?id=" + id + "&done=saved");
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
  TemplateData items = List();
  for (const TreeRow& t : rows) {
    TemplateData item;
    item.set("id", std::to_string(t.id));
    item.set("level", std::to_string(t.level));
    item.set("name", tree(t.row, 3).ToText());
    item.set("english", tree(t.row, 5).ToText());
    item.set("checked", TemplateData(granted.count(t.id) > 0));
    items.push_back(item);
  }
  data.set("menus", items);
  data.set("has_menus", TemplateData(!rows.empty()));
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
