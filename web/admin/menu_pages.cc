// "/admin/menus": the menu tree a branch at a time, and the forms that add,
// change and delete menus.
//
//   GET  /admin/menus               the first-level menus
//   GET  /admin/menus?branch=N      the first-level menus with the branch of
//                                   N opened: the first-level menu above N
//                                   and everything below it (a menu that no
//                                   first-level menu reaches opens at the
//                                   end, with everything below it)
//   GET  /admin/menus/new?parent=N  the form for a menu under N (none:
//                                   a first-level menu); POST adds it
//   GET  /admin/menus/edit?id=N     the form filled from the menu; POST
//                                   rewrites it
//   GET  /admin/menus/delete?id=N   the confirmation; POST deletes it
#include <algorithm>
#include <utility>

#include "web/admin/branch.h"
#include "web/admin/form.h"
#include "web/admin/function_shelf.h"
#include "web/admin/gate.h"
#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "web/view.h"
#include "wrenhaven/function.h"
#include "wrenhaven/menu.h"

namespace wrenhaven::web {
namespace {

// SYS_Menu's columns, in the table's order.
enum MenuColumn {
  kMenuID,
  kFunID,
  kMenuParentID,
  kMenuName,
  kMenuTip,
  kMenuEnglish,
  kMenuEnglishTip,
  kMenuIcon,
  kMenuOrder,
  kMenuColumns
};

// The form items, in the order of the columns they fill (from FunID on).
constexpr const char* kItems[] = {"FunID",    "MenuParentID", "MenuName",
                                  "MenuTip",  "MenuEnglish",  "MenuEnglishTip",
                                  "MenuIcon", "MenuOrder"};

// The catalogue, kept on the host's shelf while the rights stamp holds;
// read afresh when `may_keep` is false.
FunctionShelf::Kept ReadFunctions(AdminVisit& visit, bool may_keep = true) {
  FunctionShelf* shelf = may_keep ? visit.functions() : nullptr;
  if (shelf != nullptr) {
    if (FunctionShelf::Kept kept = shelf->Find(visit.stamp())) return kept;
  }
  auto function = Create<Function>(visit.http());
  const VariantArray all = function->GetAllData();
  auto read = std::make_shared<FunctionCatalogue>();
  for (int32_t r = 1; r <= all.UBound(1); ++r) {
    std::string id = all(r, 0).ToText();
    read->by_id.emplace(id, read->listed.size());
    read->listed.push_back(
        {std::move(id), {all(r, 1).ToText(), all(r, 6).ToText()}});
  }
  if (shelf != nullptr) shelf->Keep(visit.stamp(), read);
  return read;
}

std::string Indent(int level) {
  std::string out;
  for (int i = 1; i < level; ++i) out += "\u2014 ";
  return out;
}

std::string Caption(const ShownMenu& m) {
  const std::string name = m.cells[kMenuName].ToText();
  return name.empty() ? m.cells[kMenuEnglish].ToText() : name;
}

// The address of the tree with the branch of `menu` open; the first level
// alone for "" or anything that is no menu's number.
std::string TreeAddress(const AdminVisit& visit, const std::string& menu,
                        const std::string& done) {
  const auto n = ParseId(std::string(TrimSpaces(menu)));
  std::string address = visit.page();
  if (n && *n > 0) address += "?branch=" + std::to_string(*n);
  return address + (address.find('?') == std::string::npos ? "?" : "&") +
         "done=" + done;
}

void ShowTree(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  const auto asked = BranchAsked(*menu, visit.Query("branch"));
  if (!asked) {
    visit.Message(404, visit.Text("menus"), visit.Text("no_such_branch"));
    return;
  }
  const int32_t branch = *asked;
  const BranchView tree = ReadBranch(*menu, branch);
  const FunctionShelf::Kept functions = ReadFunctions(visit);

  TemplateData data = visit.Data(visit.Text("menus"));
  SetNotice(visit, data);
  if (!tree.error.empty()) data.set("error", tree.error);
  // Built in place: an added or set item is a copy of all it holds.
  TemplateData rows = List();
  ReserveItems(rows, tree.rows.size());
  for (const ShownMenu& m : tree.rows) {
    const std::vector<Variant>& a = m.cells;  // SYS_Menu's columns
    TemplateData& row = AppendItem(rows);
    row.set("id", std::to_string(m.id));
    row.set("level", std::to_string(m.level));
    row.set("name", a[kMenuName].ToText());
    row.set("english", a[kMenuEnglish].ToText());
    row.set("tip", a[kMenuTip].ToText());
    row.set("icon", IconName(a[kMenuIcon]));
    row.set("icon_file", a[kMenuIcon].ToText());
    row.set("order", a[kMenuOrder].ToText());
    const std::string fun = a[kFunID].ToText();
    if (!fun.empty()) {
      const FunctionInfo* f = functions->Find(fun);
      TemplateData function;
      function.set("id", fun);
      function.set("name", f == nullptr ? "#" + fun : f->name);
      function.set("url", f == nullptr ? "" : f->url);
      row["function"] = std::move(function);
    }
    if (m.top || m.open) {
      TemplateData link;
      link.set("href", m.open
                           ? visit.page()
                           : visit.page() + "?branch=" + std::to_string(m.id));
      link.set("label", visit.Text(m.open ? "close_branch" : "open_branch"));
      row["branch"] = std::move(link);
    }
  }
  data["rows"] = std::move(rows);
  data.set("has_rows", TemplateData(!tree.rows.empty()));
  visit.Show("admin/menus", data);
}

// Menu `id` and the rows below it in `view` (depth first: the deeper rows
// right after it); `id` alone when the view does not show it.
std::vector<int32_t> BelowInView(const BranchView& view, int32_t id) {
  std::vector<int32_t> out = {id};
  for (size_t i = 0; i < view.rows.size(); ++i) {
    if (view.rows[i].id != id) continue;
    for (size_t j = i + 1;
         j < view.rows.size() && view.rows[j].level > view.rows[i].level; ++j) {
      out.push_back(view.rows[j].id);
    }
    break;
  }
  return out;
}

// The form's fields, filled with `values` (in the order of kItems).
std::vector<FormField> MenuFields(AdminVisit& visit, const BranchView& tree,
                                  const std::vector<std::string>& values,
                                  const std::vector<int32_t>& not_parents) {
  std::vector<FormOption> functions = {{"", visit.Text("no_function")}};
  const FunctionShelf::Kept catalogue = ReadFunctions(visit);
  for (const auto& [id, info] : catalogue->listed) {
    functions.push_back({id, info.name + "  (" + info.url + ")"});
  }
  std::vector<FormOption> parents = {{"", visit.Text("first_level")}};
  for (const ShownMenu& m : tree.rows) {
    if (std::find(not_parents.begin(), not_parents.end(), m.id) !=
        not_parents.end()) {
      continue;
    }
    parents.push_back({std::to_string(m.id), Indent(m.level) + Caption(m)});
  }
  std::vector<FormField> fields = {
      {"MenuName", visit.Text("menu_name"), values[2], {}, false},
      {"MenuTip", visit.Text("menu_tip"), values[3], {}, true},
      {"MenuEnglish", visit.Text("menu_english"), values[4], {}, false},
      {"MenuEnglishTip", visit.Text("menu_english_tip"), values[5], {}, true},
      {"MenuIcon", visit.Text("menu_icon"), values[6], {}, false},
      {"MenuOrder", visit.Text("menu_order"), values[7], {}, false},
      {"FunID", visit.Text("menu_function"), values[0], functions, false},
      {"MenuParentID", visit.Text("menu_parent"), values[1], parents, false},
  };
  return fields;
}

std::vector<std::string> TypedValues(const AdminVisit& visit) {
  std::vector<std::string> values;
  for (const char* item : kItems) values.push_back(visit.Field(item));
  return values;
}

// The form offers as parents the first-level menus and the branch of the
// parent in the form (of the menu itself when it has none), never the
// menu's own subtree: a menu moves to another branch through that
// branch's first-level menu, and the form then offers that branch.
void ShowForm(AdminVisit& visit, Menu& menu, const std::string& id,
              const std::vector<std::string>& values,
              const std::string& error) {
  const bool editing = !id.empty();
  const int32_t n = editing ? ParseId(id).value_or(0) : 0;
  int32_t branch = 0;
  const auto parent = ParseId(std::string(TrimSpaces(values[1])));
  if (parent && *parent > 0 && !menu.GetData(*parent).undimensioned()) {
    branch = *parent;
  } else if (n > 0) {
    branch = n;
  }
  const BranchView tree = ReadBranch(menu, branch);
  TemplateData data =
      visit.Data(visit.Text(editing ? "edit_menu" : "add_menu"));
  std::vector<int32_t> not_parents;
  if (editing) {
    data.set("id", id);
    not_parents = BelowInView(tree, n);
  }
  data.set("fields", FormFields(MenuFields(visit, tree, values, not_parents)));
  data.set("action", visit.page() + (editing ? "/edit" : "/new"));
  data.set("back", visit.page());
  data.set("submit", visit.Text(editing ? "save" : "add"));
  if (!error.empty() || !tree.error.empty()) {
    data.set("error", error.empty() ? tree.error : error);
  }
  visit.Show("admin/form", data);
}

// True, with the refusal shown, when a menu that opens `before_fun` (the
// function it opened, "" for a new menu) or `after_fun` (the one it is to
// open, "" for a delete) leads to an administration page and the visitor
// does not hold the rights page: who may reach administration is the
// rights page's to decide.
bool RefusedDelegation(AdminVisit& visit, const std::string& before_fun,
                       const std::string& after_fun) {
  // Compared as numbers, read as loosely as the database reads them: it
  // stores " +07" as function 7.
  const auto number = [](std::string_view text) -> std::optional<int64_t> {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      negative = text[0] == '-';
      text.remove_prefix(1);
    }
    while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
      return std::nullopt;
    }
    const int64_t n = std::stoll(std::string(text));
    return negative ? -n : n;
  };
  const std::optional<int64_t> before = number(before_fun);
  const std::optional<int64_t> after = number(after_fun);
  bool touches = false;
  // A check of what a change may reach reads the catalogue as it is now.
  const FunctionShelf::Kept catalogue = ReadFunctions(visit, false);
  for (const auto& [id, info] : catalogue->listed) {
    const std::optional<int64_t> fun = number(id);
    if (fun && (fun == before || fun == after) &&
        LeadsToAdministration(info.url)) {
      touches = true;
    }
  }
  if (!touches || MayChangeAdministration(visit.http())) return false;
  visit.Message(403, visit.Text("denied"), visit.Text("needs_rights_page"));
  return true;
}

// True when menu `id` lies below menu `ancestor`, read from `ancestor`
// down; false also when the links below it loop (the listing is refused).
bool IsBelow(Menu& menu, int32_t id, int32_t ancestor) {
  try {
    for (const TreeRow& t : MenuTreeRows(menu.GetAllData(ancestor))) {
      if (t.id == id) return true;
    }
  } catch (const Error&) {
  }
  return false;
}

void NoSuchMenu(AdminVisit& visit, const std::string& id) {
  visit.Message(404, visit.Text("menus"), visit.Labelled("no_such_menu", id));
}

void NewMenu(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  if (!visit.post()) {
    std::vector<std::string> values(std::size(kItems));
    values[1] = visit.Query("parent");
    ShowForm(visit, *menu, "", values, "");
    return;
  }
  const std::vector<std::string> v = TypedValues(visit);
  if (RefusedDelegation(visit, "", v[0])) return;
  try {
    AuditedChange(visit, AuditObject::kMenu, AuditAction::kAdd, Variant(), [&] {
      menu->AddData(Variant::String(v[0]), Variant::String(v[1]),
                    Variant::String(v[2]), Variant::String(v[3]),
                    Variant::String(v[4]), Variant::String(v[5]),
                    Variant::String(v[6]), Variant::String(v[7]));
    });
  } catch (const Error& e) {
    ShowForm(visit, *menu, "", v, e.description());
    return;
  }
  visit.Redirect(TreeAddress(visit, v[1], "added"));
}

void EditMenu(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  if (!visit.post()) {
    const std::string id = visit.Query("id");
    const auto n = ParseId(id);
    const VariantArray record = n ? menu->GetData(*n) : VariantArray();
    if (record.undimensioned()) {
      NoSuchMenu(visit, id);
      return;
    }
    std::vector<std::string> values;
    for (int c = kFunID; c < kMenuColumns; ++c) {
      values.push_back(record(c).ToText());
    }
    ShowForm(visit, *menu, id, values, "");
    return;
  }
  const std::string id = visit.Field("id");
  const auto n = ParseId(id);
  if (!n) {
    NoSuchMenu(visit, id);
    return;
  }
  const std::vector<std::string> v = TypedValues(visit);
  // A menu placed below itself would hang its whole branch in a loop that
  // no first-level menu reaches.
  if (const auto parent = ParseId(v[1])) {
    if (*parent == *n || IsBelow(*menu, *parent, *n)) {
      ShowForm(visit, *menu, id, v, visit.Text("parent_loop"));
      return;
    }
  }
  const VariantArray before = menu->GetData(*n);
  if (before.undimensioned()) {
    NoSuchMenu(visit, id);
    return;
  }
  if (RefusedDelegation(visit, before(kFunID).ToText(), v[0])) return;
  try {
    AuditedChange(visit, AuditObject::kMenu, AuditAction::kUpdate,
                  Variant::String(id), [&] {
                    menu->UpdateData(
                        Variant::String(id), Variant::String(v[0]),
                        Variant::String(v[1]), Variant::String(v[2]),
                        Variant::String(v[3]), Variant::String(v[4]),
                        Variant::String(v[5]), Variant::String(v[6]),
                        Variant::String(v[7]));
                  });
  } catch (const Error& e) {
    ShowForm(visit, *menu, id, v, e.description());
    return;
  }
  visit.Redirect(TreeAddress(visit, id, "saved"));
}

void DeleteMenu(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  const std::string id = visit.post() ? visit.Field("id") : visit.Query("id");
  const auto n = ParseId(id);
  const VariantArray record = n ? menu->GetData(*n) : VariantArray();
  if (record.undimensioned()) {
    NoSuchMenu(visit, id);
    return;
  }
  std::string error;
  if (visit.post()) {
    if (RefusedDelegation(visit, record(kFunID).ToText(), "")) return;
    try {
      AuditedChange(visit, AuditObject::kMenu, AuditAction::kDelete,
                    Variant::String(id),
                    [&] { menu->DelData(Variant::String(id)); });
      visit.Redirect(
          TreeAddress(visit, record(kMenuParentID).ToText(), "deleted"));
      return;
    } catch (const Error& e) {
      error = e.description();
    }
  }
  TemplateData data = visit.Data(visit.Text("delete_menu"));
  std::string name = record(kMenuName).ToText();
  if (name.empty()) name = record(kMenuEnglish).ToText();
  data.set("what", name);
  data.set("id", id);
  // Everything below the menu, read from the menu down; none when the
  // links below it loop (the listing is refused).
  size_t below = 0;
  try {
    below = MenuTreeRows(menu->GetAllData(*n)).size();
  } catch (const Error&) {
  }
  data.set("consequence",
           visit.Text("delete_menu_stays") +
               (below > 0 ? " " + visit.Text("sub_menus") + ": " +
                                std::to_string(below) + "."
                          : std::string()));
  data.set("action", visit.page() + "/delete");
  data.set("back", visit.page());
  if (!error.empty()) data.set("error", error);
  visit.Show("admin/confirm", data);
}

}  // namespace

void MenusPage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (rest.empty() && !visit.post()) {
    ShowTree(visit);
  } else if (rest == "/new") {
    NewMenu(visit);
  } else if (rest == "/edit") {
    EditMenu(visit);
  } else if (rest == "/delete") {
    DeleteMenu(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace wrenhaven::web
