#include "wrenhaven/menu.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& Menu::Info() {
  static const ClassInfo info{
      "Wrenhaven.Menu",
      "_Menu",
      {
          Method("SetConn", &Menu::SetConn, {ByRef("pConn")}),
          Method("OnStartPage", &Menu::OnStartPage, {ByRef("sc")}),
          Method("OnEndPage", &Menu::OnEndPage),
          Method("GetError", &Menu::GetError),
          Method("GetTopMenu", &Menu::GetTopMenu),
          Method("GetLeftMenu", &Menu::GetLeftMenu, {ByVal("MenuParentID")}),
          Method("GetAllData", &Menu::GetAllData, {ByVal("ParentID")}),
          Method("GetData", &Menu::GetData, {ByVal("ID")}),
          Method(
              "AddData", &Menu::AddData,
              {ByVal("FunID"), ByVal("MenuParentID"), ByVal("MenuName"),
               ByVal("MenuTip"), ByVal("MenuEnglish"), ByVal("MenuEnglishTip"),
               ByVal("MenuIcon"), ByVal("MenuOrder")}),
          Method("DelData", &Menu::DelData, {ByRef("ID")}),
          Method(
              "UpdateData", &Menu::UpdateData,
              {ByVal("ID"), ByVal("FunID"), ByVal("MenuParentID"),
               ByVal("MenuName"), ByVal("MenuTip"), ByVal("MenuEnglish"),
               ByVal("MenuEnglishTip"), ByVal("MenuIcon"), ByVal("MenuOrder")}),
          Method("GetChildren", &Menu::GetChildren, {ByVal("ParentID")}),
      },
      [] { return std::make_shared<Menu>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(Menu::Info());

// An empty FunID or MenuParentID in the insert's values list.
constexpr std::array<NullMarker, 3> kAddPairs = {{
    {",,", ",null,"},
    {"(,", "(null,"},
    {",)", ",NUll)"},
}};

// An empty FunID, MenuParentID or MenuOrder in the update's set list.
constexpr std::array<NullMarker, 2> kUpdatePairs = {{
    {"=,", "=null,"},
    {"= where", "= null where"},
}};

// The left menu's last column: a child's eight columns, then one that
// stays Empty.
constexpr int32_t kLeftLastColumn = 8;

using Row = std::vector<Variant>;

Row ReadRow(const Recordset& rs, int fields) {
  Row row;
  row.reserve(static_cast<size_t>(fields));
  for (int f = 0; f < fields; ++f) row.push_back(rs.Value(f));
  return row;
}

// The visitor's role-ID list as it goes into "roleID in (...)"; nullopt for
// a visitor without roles (Empty, Null or the empty text). Anything but a
// comma list of whole numbers is refused, so it never reaches a statement.
std::optional<std::string> VisitorRoles(const Session& session) {
  const Variant roles = session.Get("RoleID");
  if (roles.kind() == Kind::kObject || roles.kind() == Kind::kArray) {
    Raise(ErrorCode::kTypeMismatch,
          "The session's RoleID must be a comma list of role numbers, not " +
              roles.Debug());
  }
  std::string text = roles.ToText();
  if (text.empty()) return std::nullopt;
  if (!IsWholeNumberList(text)) {
    Raise(ErrorCode::kTypeMismatch,
          "The session's RoleID must be a comma list of role numbers, not " +
              roles.Debug());
  }
  return text;
}

// A menu identifier read from the database, as it goes into a statement.
std::string MenuIdText(const Variant& id) {
  std::string text = id.ToText();
  if (!IsWholeNumber(text)) {
    Raise(ErrorCode::kTypeMismatch,
          "A menu identifier must be a whole number, not " + id.Debug());
  }
  return text;
}

// The rows in the order read, no names row; UndimensionedArray when none.
VariantArray ReadRowsByFields(Recordset& rs) {
  if (rs.Eof()) return VariantArray::Undimensioned();
  const int32_t n = rs.RecordCount();
  const int fields = rs.FieldCount();
  VariantArray out = VariantArray::TwoDim(n - 1, fields - 1);
  for (int32_t r = 0; r < n && !rs.Eof(); ++r) {
    for (int f = 0; f < fields; ++f) out(r, f) = rs.Value(f);
    rs.MoveNext();
  }
  return out;
}

// The rows of a titled listing: `rows` holds the names row first.
VariantArray Titled(const std::vector<Row>& rows, int fields) {
  VariantArray out =
      VariantArray::TwoDim(static_cast<int32_t>(rows.size()) - 1, fields - 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int f = 0; f < fields; ++f) {
      out(static_cast<int32_t>(r), f) = rows[r][static_cast<size_t>(f)];
    }
  }
  return out;
}

// The walk of the tree below `parent` never comes back to a menu it is
// already below, nor to a menu numbered 0 (which stands for the first
// level): either would list the same menus again without end.
void CheckWalk(int32_t id, const std::vector<int32_t>& ancestors) {
  if (id == 0) {
    Raise(ErrorCode::kInvalidArgument,
          "The menu tree cannot be listed: menu 0 lies inside it, and 0 "
          "stands for the first level");
  }
  if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
    Raise(ErrorCode::kInvalidArgument, "The menu tree cannot be listed: menu " +
                                           std::to_string(id) +
                                           " is its own ancestor");
  }
}

std::atomic<uint64_t> tree_changes{0};

// Counts a change of the tree when the command is over, whatever its end.
class CountsChange {
 public:
  CountsChange() = default;
  CountsChange(const CountsChange&) = delete;
  CountsChange& operator=(const CountsChange&) = delete;
  ~CountsChange() { tree_changes.fetch_add(1, std::memory_order_acq_rel); }
};

// A menu is visible when one of the visitor's roles is granted it.
void Visible(Statement& s, std::string_view menu, const std::string& roles) {
  s.Text("exists (select 1 from SYS_right r where r.menuID=")
      .Text(menu)
      .Text(".MenuID and r.roleID in (")
      .Text(roles)
      .Text("))");
}

// The left menu in one statement: the visible children of the parent
// (level 1), then the visible children of those (level 2) beside their
// parent, ordered by the level-1 menu (order, Null first, then MenuID),
// the level, and the level-2 menu the same way. The columns after the
// eighth only order the rows.
std::string LeftMenuStatement(int32_t parent, const std::string& roles) {
  const Variant parent_id = Variant::Long(parent);
  Statement s;
  s.Text(
       "Select m.MenuID as ItemID,m.MenuName as ItemName,m.MenuIcon as "
       "ItemIcon,f.FunUrl as ItemUrl,m.MenuParentID as ItemParent,m.MenuTip "
       "as ItemTip,m.MenuEnglish as ItemEnglish,m.MenuEnglishTip as "
       "ItemEnglishTip,1 as ItemLevel,case when m.MenuOrder is null then 0 "
       "else 1 end as GroupOrdered,m.MenuOrder as GroupOrder,m.MenuID as "
       "GroupID,0 as ItemOrdered,0 as ItemOrder From SYS_Menu m left join "
       "SYS_Function f on m.FunID=f.FunID where m.MenuParentID=")
      .Bare(parent_id, "MenuParentID")
      .Text(" and ");
  Visible(s, "m", roles);
  s.Text(
       " union all Select c.MenuID,c.MenuName,c.MenuIcon,f.FunUrl,"
       "c.MenuParentID,c.MenuTip,c.MenuEnglish,c.MenuEnglishTip,2,case when "
       "m.MenuOrder is null then 0 else 1 end,m.MenuOrder,m.MenuID,case when "
       "c.MenuOrder is null then 0 else 1 end,c.MenuOrder From SYS_Menu m "
       "inner join SYS_Menu c on c.MenuParentID=m.MenuID left join "
       "SYS_Function f on c.FunID=f.FunID where m.MenuParentID=")
      .Bare(parent_id, "MenuParentID")
      .Text(" and ");
  Visible(s, "m", roles);
  s.Text(" and ");
  Visible(s, "c", roles);
  s.Text(
      " order by GroupOrdered,GroupOrder,GroupID,ItemLevel,ItemOrdered,"
      "ItemOrder,ItemID");
  return s.Finish();
}

// A whole number read from the database; 0 for Null.
int32_t IdOf(const Variant& v) {
  if (v.is_null() || v.is_empty()) return 0;
  return v.ToLong();
}

// The first eight columns of a menu row: menuID, menuName, menuIcon,
// FunUrl, then (tip_at = 4) MenuTip, MenuEnglish, MenuEnglishTip, or
// (tip_at = 5) menuParentID first.
MenuItem ReadItem(const Recordset& rs, int tip_at) {
  MenuItem item;
  item.id = IdOf(rs.Value(0));
  item.name = rs.Value(1).ToText();
  item.icon = rs.Value(2).ToText();
  item.url = rs.Value(3).ToText();
  if (tip_at == 5) item.parent_id = IdOf(rs.Value(4));
  item.tip = rs.Value(tip_at).ToText();
  item.english = rs.Value(tip_at + 1).ToText();
  item.english_tip = rs.Value(tip_at + 2).ToText();
  return item;
}

}  // namespace

uint64_t MenuChangesInProcess() {
  return tree_changes.load(std::memory_order_acquire);
}

// The typed menus open their statements static although they read each
// row once: a connection may keep a finished static statement for the
// next page that sends the same text (the SQLite one does), and these
// texts come again with every main window.
std::vector<MenuItem> Menu::TopMenuItems() {
  return Guarded([&] {
    const std::optional<std::string> roles = VisitorRoles(session());
    Connection& db = conn();
    std::vector<MenuItem> items;
    if (!roles) return items;
    std::unique_ptr<Recordset> rs =
        db.Open(db.dialect().TopMenu(*roles), CursorType::kStatic);
    while (!rs->Eof()) {
      items.push_back(ReadItem(*rs, 4));
      rs->MoveNext();
    }
    rs->Close();
    return items;
  });
}

std::vector<MenuItem> Menu::LeftMenuItems(int32_t menu_parent_id) {
  return Guarded([&] {
    const std::optional<std::string> roles = VisitorRoles(session());
    Connection& db = conn();
    std::vector<MenuItem> items;
    if (!roles) return items;
    std::unique_ptr<Recordset> rs =
        db.Open(LeftMenuStatement(menu_parent_id, *roles), CursorType::kStatic);
    const int level_field = 8;
    while (!rs->Eof()) {
      MenuItem item = ReadItem(*rs, 5);
      item.level = rs->Value(level_field).ToLong() == 2 ? 2 : 1;
      items.push_back(std::move(item));
      rs->MoveNext();
    }
    rs->Close();
    return items;
  });
}

VariantArray Menu::GetTopMenu() {
  return Guarded([&] {
    const std::optional<std::string> roles = VisitorRoles(session());
    Connection& db = conn();
    if (!roles) return VariantArray::Undimensioned();
    return Query(db, db.dialect().TopMenu(*roles), CursorType::kStatic,
                 ReadRowsByFields);
  });
}

VariantArray Menu::GetLeftMenu(int32_t menu_parent_id) {
  return Guarded([&] {
    const std::optional<std::string> roles = VisitorRoles(session());
    Connection& db = conn();
    if (!roles) return VariantArray::TwoDim(0, kLeftLastColumn);
    const Dialect& dialect = db.dialect();

    // The visible children of the parent...
    std::vector<Row> children;
    int fields = 0;
    int id_field = 0;
    {
      std::unique_ptr<Recordset> rs =
          db.Open(dialect.LeftMenu(std::to_string(menu_parent_id), *roles),
                  CursorType::kStatic);
      fields = rs->FieldCount();
      if (!rs->Eof()) id_field = rs->FieldIndex("MenuID");
      while (!rs->Eof()) {
        children.push_back(ReadRow(*rs, fields));
        rs->MoveNext();
      }
      rs->Close();
    }

    // ...and the visible children of all of them in one statement, by
    // parent in the order read.
    std::map<std::string, std::vector<Row>> below;
    if (!children.empty()) {
      std::string ids;
      for (const Row& child : children) {
        if (!ids.empty()) ids += ",";
        ids += MenuIdText(child[static_cast<size_t>(id_field)]);
      }
      std::unique_ptr<Recordset> rs =
          db.Open(dialect.LeftSubMenus(*roles, ids), CursorType::kStatic);
      const int sub_fields = std::min(rs->FieldCount(), fields);
      const int parent_field = rs->FieldIndex("MenuParentID");
      while (!rs->Eof()) {
        below[rs->Value(parent_field).ToText()].push_back(
            ReadRow(*rs, sub_fields));
        rs->MoveNext();
      }
      rs->Close();
    }

    std::vector<const Row*> entries;
    for (const Row& child : children) {
      entries.push_back(&child);
      auto subs = below.find(child[static_cast<size_t>(id_field)].ToText());
      if (subs == below.end()) continue;
      for (const Row& sub : subs->second) entries.push_back(&sub);
    }

    // One more row and one more column than the entries fill, both Empty.
    VariantArray out =
        VariantArray::TwoDim(static_cast<int32_t>(entries.size()), fields);
    for (size_t r = 0; r < entries.size(); ++r) {
      const Row& entry = *entries[r];
      for (size_t f = 0; f < entry.size(); ++f) {
        out(static_cast<int32_t>(r), static_cast<int32_t>(f)) = entry[f];
      }
    }
    return out;
  });
}

VariantArray Menu::GetAllData(int32_t parent_id) {
  return Guarded([&] {
    Connection& db = conn();
    const Dialect& dialect = db.dialect();

    // The names and the first level below the parent...
    Row names;
    std::vector<Row> level;
    int fields = 0;
    {
      std::unique_ptr<Recordset> rs =
          db.Open(dialect.MenuLevel(parent_id), CursorType::kStatic);
      fields = rs->FieldCount();
      for (int f = 0; f < fields; ++f) {
        names.push_back(Variant::String(rs->FieldName(f)));
      }
      while (!rs->Eof()) {
        level.push_back(ReadRow(*rs, fields));
        rs->MoveNext();
      }
      rs->Close();
    }
    std::vector<Row> rows;
    rows.push_back(std::move(names));
    if (level.empty()) return Titled(rows, fields);
    for (const Row& row : level) CheckWalk(row.front().ToLong(), {parent_id});

    // ...then every menu further down in one statement, by parent in the
    // order read.
    std::map<int32_t, std::vector<Row>> children;
    {
      std::unique_ptr<Recordset> rs =
          db.Open(dialect.MenuDescendants(parent_id), CursorType::kStatic);
      if (rs->FieldCount() != fields) {
        Raise(ErrorCode::kDatabase,
              "The menu tree below the first level came back with " +
                  std::to_string(rs->FieldCount()) + " columns instead of " +
                  std::to_string(fields));
      }
      const int parent_field = rs->FieldIndex("MenuParentID");
      while (!rs->Eof()) {
        Row row = ReadRow(*rs, fields);
        children[row[static_cast<size_t>(parent_field)].ToLong()].push_back(
            std::move(row));
        rs->MoveNext();
      }
      rs->Close();
    }

    // Depth first: each menu, then everything below it. ancestors[i] is
    // the menu whose children pending[i] walks.
    struct Siblings {
      const std::vector<Row>* rows;
      size_t next;
    };
    std::vector<Siblings> pending = {{&level, 0}};
    std::vector<int32_t> ancestors = {parent_id};
    while (!pending.empty()) {
      Siblings& current = pending.back();
      if (current.next == current.rows->size()) {
        pending.pop_back();
        ancestors.pop_back();
        continue;
      }
      const Row& row = (*current.rows)[current.next++];
      const int32_t id = row.front().ToLong();
      CheckWalk(id, ancestors);
      rows.push_back(row);
      auto below = children.find(id);
      if (below != children.end()) {
        pending.push_back({&below->second, 0});
        ancestors.push_back(id);
      }
    }
    return Titled(rows, fields);
  });
}

VariantArray Menu::GetChildren(int32_t parent_id) {
  return Guarded([&] {
    Connection& db = conn();
    VariantArray level = Query(db, db.dialect().MenuLevel(parent_id),
                               CursorType::kStatic, ReadTitledTable);
    for (int32_t r = 1; r <= level.UBound(1); ++r) {
      CheckWalk(level(r, 0).ToLong(), {parent_id});
    }
    return level;
  });
}

VariantArray Menu::GetData(int32_t id) {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db,
                 "Select * From SYS_Menu Where MenuID=" + std::to_string(id),
                 CursorType::kStatic, ReadFirstRecord);
  });
}

bool Menu::AddData(const Variant& fun_id, const Variant& menu_parent_id,
                   const Variant& menu_name, const Variant& menu_tip,
                   const Variant& menu_english, const Variant& menu_english_tip,
                   const Variant& menu_icon, const Variant& menu_order) {
  return Guarded([&] {
    const CountsChange counted;
    Connection& db = conn();
    Statement s;
    s.Text(db.dialect().MenuInsertHead())
        .Text(
            "FunID,MenuParentID,MenuName,MenuTip,MenuEnglish,MenuEnglishTip,"
            "MenuIcon,MenuOrder) values(")
        .Bare(fun_id, "FunID")
        .Text(",")
        .Bare(menu_parent_id, "MenuParentID")
        .Text(",'")
        .Quoted(menu_name)
        .Text("','")
        .Quoted(menu_tip)
        .Text("','")
        .Quoted(menu_english)
        .Text("','")
        .Quoted(menu_english_tip)
        .Text("','")
        .Quoted(menu_icon)
        .Text("','")
        .Quoted(menu_order)
        .Text("')");
    return RunCommand(db, s.Finish(kAddPairs));
  });
}

bool Menu::DelData(const Variant& id) {
  return Guarded([&] {
    const CountsChange counted;
    Connection& db = conn();
    RequireId(id, "ID", "menu to change or delete");
    Statement s;
    s.Text("Delete from SYS_Menu where MenuID=").Bare(id, "ID");
    return RunCommand(db, s.Finish());
  });
}

bool Menu::UpdateData(const Variant& id, const Variant& fun_id,
                      const Variant& menu_parent_id, const Variant& menu_name,
                      const Variant& menu_tip, const Variant& menu_english,
                      const Variant& menu_english_tip, const Variant& menu_icon,
                      const Variant& menu_order) {
  return Guarded([&] {
    const CountsChange counted;
    Connection& db = conn();
    RequireId(id, "ID", "menu to change or delete");
    Statement s;
    s.Text("update SYS_Menu set FunID=")
        .Bare(fun_id, "FunID")
        .Text(",MenuParentID=")
        .Bare(menu_parent_id, "MenuParentID")
        .Text(",MenuName='")
        .Quoted(menu_name)
        .Text("',MenuTip='")
        .Quoted(menu_tip)
        .Text("',MenuEnglish='")
        .Quoted(menu_english)
        .Text("',MenuEnglishTip='")
        .Quoted(menu_english_tip)
        .Text("',MenuIcon='")
        .Quoted(menu_icon)
        .Text("',MenuOrder=")
        .Bare(menu_order, "MenuOrder")
        .Text(" where MenuID=")
        .Bare(id, "ID");
    return RunCommand(db, s.Finish(kUpdatePairs));
  });
}

}  // namespace wrenhaven
