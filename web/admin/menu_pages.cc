// "/admin/menus": the whole menu tree, and the forms that add, change and
// delete menus.
//
//   GET  /admin/menus               the tree
//   GET  /admin/menus/new?parent=N  the form for a menu under N (none:
//                                   a first-level menu); POST adds it
//   GET  /admin/menus/edit?id=N     the form filled from the menu; POST
//                                   rewrites it
//   GET  /admin/menus/delete?id=N   the confirmation; POST deletes it
#include <algorithm>
#include <map>

#include "web/admin/form.h"
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

struct Tree {
  VariantArray rows;  // Menu.GetAllData(0)
  std::vector<TreeRow> order;
  // Why the listing was refused (a menu numbered 0 inside the tree): the
  // pages then go on without the tree, so that the menu at fault can
  // still be changed or deleted by its number.
  std::string error;
};

Tree ReadTree(Menu& menu) {
  Tree tree;
  try {
    tree.rows = menu.GetAllData(0);
    tree.order = MenuTreeRows(tree.rows);
  } catch (const Error& e) {
    tree.error = e.description();
  }
  return tree;
}

struct FunctionInfo {
  std::string name;
  std::string url;
};

// The catalogue by FunID, in its listing order.
std::vector<std::pair<std::string, FunctionInfo>> ReadFunctions(
    AdminVisit& visit) {
  auto function = Create<Function>(visit.http());
  const VariantArray all = function->GetAllData();
  std::vector<std::pair<std::string, FunctionInfo>> out;
  for (int32_t r = 1; r <= all.UBound(1); ++r) {
    out.push_back(
        {all(r, 0).ToText(), {all(r, 1).ToText(), all(r, 6).ToText()}});
  }
  return out;
}

std::string Indent(int level) {
  std::string out;
  for (int i = 1; i < level; ++i) out += "\u2014 ";
  return out;
}

std::string Caption(const VariantArray& rows, int32_t r) {
  const std::string name = rows(r, kMenuName).ToText();
  return name.empty() ? rows(r, kMenuEnglish).ToText() : name;
}

void ShowTree(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  const Tree tree = ReadTree(*menu);
  std::map<std::string, FunctionInfo> functions;
  for (auto& [id, info] : ReadFunctions(visit)) functions[id] = info;

  TemplateData data = visit.Data(visit.Text("menus"));
  SetNotice(visit, data);
  if (!tree.error.empty()) data.set("error", tree.error);
  TemplateData rows = List();
  for (const TreeRow& t : tree.order) {
    const VariantArray& a = tree.rows;
    TemplateData row;
    row.set("id", std::to_string(t.id));
    row.set("level", std::to_string(t.level));
    row.set("name", a(t.row, kMenuName).ToText());
    row.set("english", a(t.row, kMenuEnglish).ToText());
    row.set("tip", a(t.row, kMenuTip).ToText());
    row.set("icon", IconName(a(t.row, kMenuIcon)));
    row.set("icon_file", a(t.row, kMenuIcon).ToText());
    row.set("order", a(t.row, kMenuOrder).ToText());
    const std::string fun = a(t.row, kFunID).ToText();
    if (!fun.empty()) {
      const auto f = functions.find(fun);
      TemplateData function;
      function.set("id", fun);
      function.set("name", f == functions.end() ? "#" + fun : f->second.name);
      function.set("url", f == functions.end() ? "" : f->second.url);
      row.set("function", function);
    }
    rows.push_back(row);
  }
  data.set("rows", rows);
  data.set("has_rows", TemplateData(!tree.order.empty()));
  visit.Show("admin/menus", data);
}

// The form's fields, filled with `values` (in the order of kItems).
std::vector<FormField> MenuFields(AdminVisit& visit, const Tree& tree,
                                  const std::vector<std::string>& values,
                                  const std::vector<int32_t>& not_parents) {
  std::vector<FormOption> functions = {{"", visit.Text("no_function")}};
  for (auto& [id, info] : ReadFunctions(visit)) {
    functions.push_back({id, info.name + "  (" + info.url + ")"});
  }
  std::vector<FormOption> parents = {{"", visit.Text("first_level")}};
  for (const TreeRow& t : tree.order) {
    if (std::find(not_parents.begin(), not_parents.end(), t.id) !=
        not_parents.end()) {
      continue;
    }
    parents.push_back(
        {std::to_string(t.id), Indent(t.level) + Caption(tree.rows, t.row)});
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

void ShowForm(AdminVisit& visit, const Tree& tree, const std::string& id,
              const std::vector<std::string>& values,
              const std::string& error) {
  const bool editing = !id.empty();
  TemplateData data =
      visit.Data(visit.Text(editing ? "edit_menu" : "add_menu"));
  std::vector<int32_t> not_parents;
  if (editing) {
    data.set("id", id);
    if (const auto n = ParseId(id)) not_parents = SubtreeOf(tree.order, *n);
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
  for (const auto& [id, info] : ReadFunctions(visit)) {
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

void NoSuchMenu(AdminVisit& visit, const std::string& id) {
  visit.Message(404, visit.Text("menus"), visit.Labelled("no_such_menu", id));
}

void NewMenu(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  const Tree tree = ReadTree(*menu);
  if (!visit.post()) {
    std::vector<std::string> values(std::size(kItems));
    values[1] = visit.Query("parent");
    ShowForm(visit, tree, "", values, "");
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
    ShowForm(visit, tree, "", v, e.description());
    return;
  }
  visit.Redirect(visit.page() + "?done=added");
}

void EditMenu(AdminVisit& visit) {
  auto menu = Create<Menu>(visit.http());
  const Tree tree = ReadTree(*menu);
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
    ShowForm(visit, tree, id, values, "");
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
    const std::vector<int32_t> below = SubtreeOf(tree.order, *n);
    if (*parent == *n ||
        std::find(below.begin(), below.end(), *parent) != below.end()) {
      ShowForm(visit, tree, id, v, visit.Text("parent_loop"));
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
    ShowForm(visit, tree, id, v, e.description());
    return;
  }
  visit.Redirect(visit.page() + "?done=saved");
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
      visit.Redirect(visit.page() + "?done=deleted");
      return;
    } catch (const Error& e) {
      error = e.description();
    }
  }
  const Tree tree = ReadTree(*menu);
  TemplateData data = visit.Data(visit.Text("delete_menu"));
  std::string name = record(kMenuName).ToText();
  if (name.empty()) name = record(kMenuEnglish).ToText();
  data.set("what", name);
  data.set("id", id);
  const size_t below = SubtreeOf(tree.order, *n).size();
  data.set("consequence",
           visit.Text("delete_menu_stays") +
               (below > 1 ? " " + visit.Text("sub_menus") + ": " +
                                std::to_string(below - 1) + "."
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
