// "/admin/functions" and "/admin/roles": the two catalogues, listed page by
// page, with the forms that add, change and delete their entries.
//
//   GET  PAGE?size=10&page=2   one page of the list (at most 100 rows)
//   GET  PAGE/new              the empty form; POST adds
//   GET  PAGE/edit?id=N        the form filled from the entry; POST saves
//   GET  PAGE/delete?id=N      the confirmation; POST deletes
#include <algorithm>
#include <map>
#include <optional>

#include "web/admin/form.h"
#include "web/admin/gate.h"
#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "wrenhaven/function.h"
#include "wrenhaven/role.h"

namespace wrenhaven::web {
namespace {

enum class Shown { kText, kCode, kRole };

// A column after the identifier, in the table's order, which is also the
// order of the values AddData and UpdateData take.
struct Column {
  const char* item;
  const char* label;  // text key
  Shown shown;
  bool wide;
};

using Record = std::vector<Variant>;  // every column, identifier first

// What the pages need of a catalogue class.
class Catalogue {
 public:
  virtual ~Catalogue() = default;
  virtual const std::vector<Column>& columns() const = 0;
  // Text keys: the page's title, add, edit, delete, none such, what a
  // delete leaves.
  virtual const char* title() const = 0;
  virtual const char* add_title() const = 0;
  virtual const char* edit_title() const = 0;
  virtual const char* delete_title() const = 0;
  virtual const char* none_such() const = 0;
  virtual const char* delete_leaves() const = 0;
  // What the audit trail calls its entries.
  virtual AuditObject audited() const = 0;

  virtual std::vector<Record> All() = 0;
  // The rows of one page, row first (RowsByFields), undimensioned when the
  // catalogue is empty. Raises the library's error.
  virtual VariantArray Page(const Variant& size, const Variant& page) = 0;
  virtual std::optional<Record> Get(int32_t id) = 0;
  virtual void Add(const std::vector<Variant>& values) = 0;
  virtual void Update(const Variant& id, const std::vector<Variant>& v) = 0;
  virtual void Delete(const Variant& id) = 0;
  // True when adding, changing or deleting the entry `before` (nullptr for
  // a new one) into `after` (nullptr for a delete) touches what leads to an
  // administration page, which only the holders of the rights page may.
  virtual bool TouchesAdministration(const Record* before,
                                     const std::vector<std::string>* after) {
    (void)before;
    (void)after;
    return false;
  }
};

class Functions : public Catalogue {
 public:
  explicit Functions(AdminVisit& visit) : f_(Create<Function>(visit.http())) {}

  const std::vector<Column>& columns() const override {
    static const std::vector<Column> kColumns = {
        {"FunName", "fun_name", Shown::kText, false},
        {"FunMemo", "fun_memo", Shown::kText, true},
        {"FunType", "fun_type", Shown::kText, false},
        {"FunOrder", "fun_order", Shown::kText, false},
        {"FunClass", "fun_class", Shown::kText, false},
        {"FunUrl", "fun_url", Shown::kCode, true},
    };
    return kColumns;
  }
  const char* title() const override { return "functions"; }
  const char* add_title() const override { return "add_function"; }
  const char* edit_title() const override { return "edit_function"; }
  const char* delete_title() const override { return "delete_function"; }
  const char* none_such() const override { return "no_such_function"; }
  const char* delete_leaves() const override { return "delete_function_stays"; }
  AuditObject audited() const override { return AuditObject::kFunction; }

  std::vector<Record> All() override {
    // Row 0 holds the column names.
    const VariantArray all = f_->GetAllData();
    std::vector<Record> out;
    for (int32_t r = 1; r <= all.UBound(1); ++r) {
      Record record;
      for (int32_t c = 0; c <= all.UBound(2); ++c) record.push_back(all(r, c));
      out.push_back(std::move(record));
    }
    return out;
  }
  VariantArray Page(const Variant& size, const Variant& page) override {
    return f_->GetPageData(size, page);
  }
  std::optional<Record> Get(int32_t id) override {
    const VariantArray one = f_->GetData(id);
    if (one.undimensioned()) return std::nullopt;
    return Record(one.cells().begin(), one.cells().end());
  }
  void Add(const std::vector<Variant>& v) override {
    f_->AddData(v[0], v[1], v[2], v[3], v[4], v[5]);
  }
  void Update(const Variant& id, const std::vector<Variant>& v) override {
    f_->UpdateData(id, v[0], v[1], v[2], v[3], v[4], v[5]);
  }
  void Delete(const Variant& id) override { f_->DelData(id); }
  bool TouchesAdministration(const Record* before,
                             const std::vector<std::string>* after) override {
    constexpr size_t kUrl = 5;  // FunUrl, after the identifier in a Record
    return (before != nullptr && before->size() > kUrl + 1 &&
            LeadsToAdministration((*before)[kUrl + 1].ToText())) ||
           (after != nullptr && after->size() > kUrl &&
            LeadsToAdministration((*after)[kUrl]));
  }

 private:
  std::shared_ptr<Function> f_;
};

class Roles : public Catalogue {
 public:
  explicit Roles(AdminVisit& visit) : r_(Create<Role>(visit.http())) {}

  const std::vector<Column>& columns() const override {
    static const std::vector<Column> kColumns = {
        {"RoleName", "role_name", Shown::kText, false},
        {"RoleParentID", "role_parent", Shown::kRole, false},
        {"roleLevel", "role_level", Shown::kText, false},
        {"roleClass", "role_class", Shown::kText, false},
        {"roleMemo", "role_memo", Shown::kText, true},
    };
    return kColumns;
  }
  const char* title() const override { return "roles"; }
  const char* add_title() const override { return "add_role"; }
  const char* edit_title() const override { return "edit_role"; }
  const char* delete_title() const override { return "delete_role"; }
  const char* none_such() const override { return "no_such_role"; }
  const char* delete_leaves() const override { return "delete_role_stays"; }
  AuditObject audited() const override { return AuditObject::kRole; }

  std::vector<Record> All() override {
    // Field first; the empty grid when there is no role.
    return Records(r_->GetAllData());
  }
  VariantArray Page(const Variant& size, const Variant& page) override {
    return r_->GetPageData(size, page);
  }
  std::optional<Record> Get(int32_t id) override {
    std::vector<Record> one = Records(r_->GetData(id));
    if (one.empty()) return std::nullopt;
    return one.front();
  }
  // SYS_Role holds the level, class and memo in that order, as AddData
  // takes them.
  void Add(const std::vector<Variant>& v) override {
    r_->AddData(v[0], v[1], v[2], v[3], v[4]);
  }
  void Update(const Variant& id, const std::vector<Variant>& v) override {
    r_->UpdateData(id, v[0], v[1], v[2], v[3], v[4]);
  }
  void Delete(const Variant& id) override { r_->DelData(id); }

 private:
  static std::vector<Record> Records(const VariantArray& fields_by_rows) {
    std::vector<Record> out;
    if (fields_by_rows.UBound(1) == 0) return out;  // the empty grid
    for (int32_t r = 0; r <= fields_by_rows.UBound(2); ++r) {
      Record record;
      for (int32_t c = 0; c <= fields_by_rows.UBound(1); ++c) {
        record.push_back(fields_by_rows(c, r));
      }
      out.push_back(std::move(record));
    }
    return out;
  }
  std::shared_ptr<Role> r_;
};

// Role names by identifier, for the columns that name a role.
std::map<std::string, std::string> RoleNames(AdminVisit& visit) {
  std::map<std::string, std::string> names;
  Roles roles(visit);
  for (const Record& r : roles.All()) names[r[0].ToText()] = r[1].ToText();
  return names;
}

std::string Shows(Shown shown, const Variant& value,
                  const std::map<std::string, std::string>& roles) {
  const std::string text = value.ToText();
  if (shown != Shown::kRole || text.empty()) return text;
  const auto it = roles.find(text);
  return it == roles.end() ? "#" + text : it->second;
}

std::string PageLink(const AdminVisit& visit, int32_t size, int32_t page) {
  return visit.page() + "?size=" + std::to_string(size) +
         "&page=" + std::to_string(page);
}

bool HasRoleColumn(const Catalogue& book) {
  for (const Column& c : book.columns()) {
    if (c.shown == Shown::kRole) return true;
  }
  return false;
}

// The most rows one page of a list shows: a larger size asked for shows
// this many.
constexpr int32_t kMostRowsPerPage = 100;

void ShowList(AdminVisit& visit, Catalogue& book) {
  std::string size_text =
      visit.Query("size").empty() ? "10" : visit.Query("size");
  if (const auto asked = ParseId(size_text);
      asked && *asked > kMostRowsPerPage) {
    size_text = std::to_string(kMostRowsPerPage);
  }
  const std::string page_text =
      visit.Query("page").empty() ? "1" : visit.Query("page");
  const std::vector<Record> all = book.All();
  const auto roles = HasRoleColumn(book) ? RoleNames(visit)
                                         : std::map<std::string, std::string>();

  TemplateData data = visit.Data(visit.Text(book.title()));
  SetNotice(visit, data);
  data.set("add_label", visit.Text(book.add_title()));

  TemplateData columns = List();
  columns.push_back(TemplateData(visit.Text("id")));
  for (const Column& c : book.columns()) {
    columns.push_back(TemplateData(visit.Text(c.label)));
  }
  data.set("columns", columns);

  TemplateData rows = List();
  try {
    const VariantArray page =
        book.Page(Variant::String(size_text), Variant::String(page_text));
    if (!page.undimensioned()) {
      for (int32_t r = 0; r <= page.UBound(1); ++r) {
        TemplateData row;
        row.set("id", page(r, 0).ToText());
        TemplateData cells = List();
        TemplateData id_cell;
        id_cell.set("text", page(r, 0).ToText());
        id_cell.set("code", TemplateData(false));
        cells.push_back(id_cell);
        for (size_t c = 0; c < book.columns().size(); ++c) {
          const Column& column = book.columns()[c];
          TemplateData cell;
          cell.set("text", Shows(column.shown,
                                 page(r, static_cast<int32_t>(c + 1)), roles));
          cell.set("code", TemplateData(column.shown == Shown::kCode));
          cells.push_back(cell);
        }
        row.set("cells", cells);
        rows.push_back(row);
      }
    }
  } catch (const Error& e) {
    data.set("error", e.description());
  }
  data.set("rows", rows);
  data.set("has_rows", TemplateData(!rows.is_empty_list()));
  data.set("count", std::to_string(all.size()));

  // The page-size choice and the page links, for a size and page that are
  // whole numbers.
  const auto size = ParseId(size_text);
  std::vector<int32_t> choices = {5, 10, 20, 50, 100};
  if (size && *size > 0 &&
      std::find(choices.begin(), choices.end(), *size) == choices.end()) {
    choices.insert(std::upper_bound(choices.begin(), choices.end(), *size),
                   *size);
  }
  TemplateData sizes = List();
  for (const int32_t s : choices) {
    TemplateData option;
    option.set("value", std::to_string(s));
    option.set("selected", TemplateData(size && *size == s));
    sizes.push_back(option);
  }
  data.set("sizes", sizes);
  const auto current = ParseId(page_text);
  if (size && *size > 0 && current && *current > 0) {
    const auto total = static_cast<int32_t>(all.size());
    const int32_t pages = total == 0 ? 1 : (total + *size - 1) / *size;
    const TemplateData pager = Pager(visit, *current, pages, [&](int32_t n) {
      return PageLink(visit, *size, n);
    });
    data.set("pager", pager);
  }
  visit.Show("admin/list", data);
}

std::vector<FormField> Fields(AdminVisit& visit, Catalogue& book,
                              const std::vector<std::string>& values,
                              const std::string& own_id) {
  std::vector<FormOption> roles;
  if (HasRoleColumn(book)) {
    roles.push_back({"", visit.Text("no_parent")});
    Roles all(visit);
    for (const Record& r : all.All()) {
      if (r[0].ToText() == own_id) continue;
      roles.push_back({r[0].ToText(), r[1].ToText()});
    }
  }
  std::vector<FormField> fields;
  for (size_t c = 0; c < book.columns().size(); ++c) {
    const Column& column = book.columns()[c];
    fields.push_back(
        {column.item, visit.Text(column.label), values[c],
         column.shown == Shown::kRole ? roles : std::vector<FormOption>(),
         column.wide});
  }
  return fields;
}

void ShowForm(AdminVisit& visit, Catalogue& book, const std::string& id,
              const std::vector<std::string>& values,
              const std::string& error) {
  const bool editing = !id.empty();
  TemplateData data =
      visit.Data(visit.Text(editing ? book.edit_title() : book.add_title()));
  if (editing) data.set("id", id);
  data.set("fields", FormFields(Fields(visit, book, values, id)));
  data.set("action", visit.page() + (editing ? "/edit" : "/new"));
  data.set("back", visit.page());
  data.set("submit", visit.Text(editing ? "save" : "add"));
  if (!error.empty()) data.set("error", error);
  visit.Show("admin/form", data);
}

std::vector<std::string> Typed(const AdminVisit& visit, Catalogue& book) {
  std::vector<std::string> values;
  for (const Column& c : book.columns()) values.push_back(visit.Field(c.item));
  return values;
}

std::vector<Variant> AsVariants(const std::vector<std::string>& values) {
  std::vector<Variant> out;
  for (const std::string& v : values) out.push_back(Variant::String(v));
  return out;
}

// True, with the refusal shown, when the change needs the rights page and
// the visitor does not hold it.
bool RefusedDelegation(AdminVisit& visit, Catalogue& book, const Record* before,
                       const std::vector<std::string>* after) {
  if (!book.TouchesAdministration(before, after) ||
      MayChangeAdministration(visit.http())) {
    return false;
  }
  visit.Message(403, visit.Text("denied"), visit.Text("needs_rights_page"));
  return true;
}

void NoneSuch(AdminVisit& visit, Catalogue& book, const std::string& id) {
  visit.Message(404, visit.Text(book.title()),
                visit.Labelled(book.none_such(), id));
}

void New(AdminVisit& visit, Catalogue& book) {
  if (!visit.post()) {
    ShowForm(visit, book, "", std::vector<std::string>(book.columns().size()),
             "");
    return;
  }
  const std::vector<std::string> typed = Typed(visit, book);
  if (RefusedDelegation(visit, book, nullptr, &typed)) return;
  try {
    AuditedChange(visit, book.audited(), AuditAction::kAdd, Variant(),
                  [&] { book.Add(AsVariants(typed)); });
  } catch (const Error& e) {
    ShowForm(visit, book, "", typed, e.description());
    return;
  }
  visit.Redirect(visit.page() + "?done=added");
}

void Edit(AdminVisit& visit, Catalogue& book) {
  const std::string id = visit.post() ? visit.Field("id") : visit.Query("id");
  const auto n = ParseId(id);
  const std::optional<Record> record = n ? book.Get(*n) : std::nullopt;
  if (!record) {
    NoneSuch(visit, book, id);
    return;
  }
  if (!visit.post()) {
    std::vector<std::string> values;
    for (size_t c = 1; c < record->size(); ++c) {
      values.push_back((*record)[c].ToText());
    }
    ShowForm(visit, book, id, values, "");
    return;
  }
  const std::vector<std::string> typed = Typed(visit, book);
  if (RefusedDelegation(visit, book, &*record, &typed)) return;
  try {
    AuditedChange(visit, book.audited(), AuditAction::kUpdate,
                  Variant::String(id),
                  [&] { book.Update(Variant::String(id), AsVariants(typed)); });
  } catch (const Error& e) {
    ShowForm(visit, book, id, typed, e.description());
    return;
  }
  visit.Redirect(visit.page() + "?done=saved");
}

void Delete(AdminVisit& visit, Catalogue& book) {
  const std::string id = visit.post() ? visit.Field("id") : visit.Query("id");
  const auto n = ParseId(id);
  const std::optional<Record> record = n ? book.Get(*n) : std::nullopt;
  if (!record) {
    NoneSuch(visit, book, id);
    return;
  }
  std::string error;
  if (visit.post()) {
    if (RefusedDelegation(visit, book, &*record, nullptr)) return;
    try {
      AuditedChange(visit, book.audited(), AuditAction::kDelete,
                    Variant::String(id),
                    [&] { book.Delete(Variant::String(id)); });
      visit.Redirect(visit.page() + "?done=deleted");
      return;
    } catch (const Error& e) {
      error = e.description();
    }
  }
  TemplateData data = visit.Data(visit.Text(book.delete_title()));
  data.set("what", (*record)[1].ToText());
  data.set("id", id);
  data.set("consequence", visit.Text(book.delete_leaves()));
  data.set("action", visit.page() + "/delete");
  data.set("back", visit.page());
  if (!error.empty()) data.set("error", error);
  visit.Show("admin/confirm", data);
}

void CataloguePage(AdminVisit& visit, Catalogue& book) {
  const std::string& rest = visit.rest();
  if (rest.empty() && !visit.post()) {
    ShowList(visit, book);
  } else if (rest == "/new") {
    New(visit, book);
  } else if (rest == "/edit") {
    Edit(visit, book);
  } else if (rest == "/delete") {
    Delete(visit, book);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace

void FunctionsPage(AdminVisit& visit) {
  Functions book(visit);
  CataloguePage(visit, book);
}

void RolesPage(AdminVisit& visit) {
  Roles book(visit);
  CataloguePage(visit, book);
}

}  // namespace wrenhaven::web
