#include <algorithm>
#include <array>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/audit.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& AuditTrail::Info() {
  static const ClassInfo info{
      "Wrenhaven.AuditTrail",
      "_AuditTrail",
      {
          Method("SetConn", &AuditTrail::SetConn, {ByRef("pConn")}),
          Method("GetError", &AuditTrail::GetError),
          Method("GetPage", &AuditTrail::GetPage,
                 {ByVal("PersonID"), ByVal("Kind"), ByVal("From"), ByVal("To"),
                  ByVal("nPage"), ByVal("nPageSize")}),
          Method(
              "GetCount", &AuditTrail::GetCount,
              {ByVal("PersonID"), ByVal("Kind"), ByVal("From"), ByVal("To")}),
      },
      [] { return std::make_shared<AuditTrail>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(AuditTrail::Info());

using Json = nlohmann::ordered_json;

// A table whose rows the trail keeps whole: its columns in the table's
// order, the identifier first.
struct RowTable {
  std::string_view table;
  std::vector<std::string_view> columns;
};

const RowTable& RowTableOf(AuditObject object) {
  static const RowTable kMenu{
      "SYS_Menu",
      {"MenuID", "FunID", "MenuParentID", "MenuName", "MenuTip", "MenuEnglish",
       "MenuEnglishTip", "MenuIcon", "MenuOrder"}};
  static const RowTable kFunction{"SYS_Function",
                                  {"FunID", "FunName", "FunMemo", "FunType",
                                   "FunOrder", "FunClass", "FunUrl"}};
  static const RowTable kRole{"SYS_Role",
                              {"RoleID", "RoleName", "RoleParentID",
                               "RoleLevel", "RoleClass", "RoleMemo"}};
  switch (object) {
    case AuditObject::kMenu:
      return kMenu;
    case AuditObject::kFunction:
      return kFunction;
    default:
      return kRole;
  }
}

constexpr std::array<std::string_view, 5> kObjectNames = {
    "menu", "function", "role", "grant", "person_role"};
constexpr std::array<std::string_view, 3> kActionNames = {"add", "update",
                                                          "delete"};

Json ToJsonValue(const Variant& v) {
  switch (v.kind()) {
    case Kind::kInteger:
    case Kind::kLong:
      return Json(static_cast<int64_t>(v.ToLong()));
    case Kind::kDouble:
      return Json(v.double_value());
    case Kind::kBoolean:
      return Json(v.boolean());
    case Kind::kDate:
      return Json(v.date().ToIso());
    case Kind::kString:
      return Json(v.string());
    default:
      return Json(nullptr);
  }
}

std::string Dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The values of one row of a kept table as a JSON object, "null" when the
// row does not exist.
std::string RowSnapshot(Connection& db, const RowTable& t, int64_t id) {
  Statement s;
  s.Text("Select ");
  for (size_t i = 0; i < t.columns.size(); ++i) {
    s.Text(i == 0 ? "" : ",").Text(t.columns[i]);
  }
  s.Text(" from ")
      .Text(t.table)
      .Text(" where ")
      .Text(t.columns.front())
      .Text("=")
      .Text(std::to_string(id));
  const VariantArray row =
      Query(db, s.Finish(), CursorType::kForwardOnly, ReadFirstRecord);
  if (row.undimensioned()) return "null";
  Json out = Json::object();
  for (size_t i = 0; i < t.columns.size(); ++i) {
    out[std::string(t.columns[i])] = ToJsonValue(row(static_cast<int32_t>(i)));
  }
  return Dump(out);
}

// A set of assignments as a JSON object: {"roleID":2,"menuIDs":[1,5]}.
std::string SetSnapshot(Connection& db, std::string_view owner_column,
                        std::string_view owner_name, std::string_view member,
                        std::string_view list_name, std::string_view table,
                        int64_t id) {
  Statement s;
  s.Text("Select ")
      .Text(member)
      .Text(" from ")
      .Text(table)
      .Text(" where ")
      .Text(owner_column)
      .Text("=")
      .Text(std::to_string(id))
      .Text(" order by ")
      .Text(member);
  Json members = Json::array();
  std::unique_ptr<Recordset> rs = db.Open(s.Finish(), CursorType::kForwardOnly);
  while (!rs->Eof()) {
    members.push_back(ToJsonValue(rs->Value(0)));
    rs->MoveNext();
  }
  rs->Close();
  Json out = Json::object();
  out[std::string(owner_name)] = id;
  out[std::string(list_name)] = std::move(members);
  return Dump(out);
}

std::string Snapshot(Connection& db, AuditObject object, int64_t id) {
  switch (object) {
    case AuditObject::kGrant:
      return SetSnapshot(db, "roleID", "roleID", "menuID", "menuIDs",
                         "SYS_right", id);
    case AuditObject::kPersonRole:
      return SetSnapshot(db, "PersonID", "PersonID", "RoleID", "RoleIDs",
                         "SYS_PersonRole", id);
    default:
      return RowSnapshot(db, RowTableOf(object), id);
  }
}

// The identifier the change's insert gave its new row.
int64_t NewRowId(Connection& db, AuditObject object) {
  const RowTable& t = RowTableOf(object);
  const VariantArray row =
      Query(db, db.dialect().LastInsertedId(t.table, t.columns.front()),
            CursorType::kForwardOnly, ReadFirstRecord);
  if (row.undimensioned() || !IsWholeNumber(row(0).ToText())) {
    Raise(ErrorCode::kDatabase,
          "The database did not tell the identifier of the new row of " +
              std::string(t.table));
  }
  return std::stoll(row(0).ToText());
}

// A whole number of at most 10 digits, 0 to 2147483647.
std::optional<int64_t> WholeId(const Variant& v) {
  if (v.kind() == Kind::kInteger || v.kind() == Kind::kLong) {
    return v.ToLong() >= 0 ? std::optional<int64_t>(v.ToLong()) : std::nullopt;
  }
  if (v.kind() != Kind::kString) return std::nullopt;
  const auto id = ParseId(TrimSpaces(v.string()));
  if (!id) return std::nullopt;
  return *id;
}

// The kinds that match a filter's kind, or the reason it matches none.
std::vector<std::string> KindsOf(std::string_view kind) {
  std::vector<std::string> kinds;
  for (size_t o = 0; o < kObjectNames.size() && kind.size() <= 32; ++o) {
    for (const std::string_view action : kActionNames) {
      const std::string full =
          std::string(kObjectNames[o]) + "." + std::string(action);
      if (kind == kObjectNames[o] || kind == full) kinds.push_back(full);
    }
  }
  if (kinds.empty()) {
    Raise(ErrorCode::kInvalidArgument,
          "The kind to filter by is none the audit trail records (menu, "
          "function, role, grant or person_role, alone or with .add, "
          ".update or .delete)");
  }
  return kinds;
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" as the first (or, for `end`, the
// last) second it covers.
std::string TimeBound(std::string_view text, bool end, const char* which) {
  Date date;
  if (text.size() > 19 || !Date::ParseIso(text, &date)) {
    Raise(ErrorCode::kInvalidArgument,
          std::string("The ") + which +
              " time must be a date (YYYY-MM-DD) or a time (YYYY-MM-DD "
              "HH:MM:SS)");
  }
  std::string iso = date.ToIso();
  if (text.size() == 10 && end) iso = iso.substr(0, 10) + " 23:59:59";
  return iso;
}

// The filters as the condition of a statement (" where ..." or ""),
// checked whole before any of it is used.
std::string Condition(const AuditFilter& f) {
  std::vector<std::string> parts;
  const std::string_view person = TrimSpaces(f.person);
  if (!person.empty()) {
    const auto id = ParseId(person);
    if (!id) {
      Raise(ErrorCode::kInvalidArgument,
            "The person to filter by must be a PersonID (a whole number)");
    }
    parts.push_back("PersonID=" + std::to_string(*id));
  }
  const std::string_view kind = TrimSpaces(f.kind);
  if (!kind.empty()) {
    std::string in = "AuditKind in (";
    const std::vector<std::string> kinds = KindsOf(kind);
    for (size_t i = 0; i < kinds.size(); ++i) {
      in += (i == 0 ? "'" : ",'") + kinds[i] + "'";
    }
    parts.push_back(in + ")");
  }
  std::string from;
  std::string to;
  if (!TrimSpaces(f.from).empty()) {
    from = TimeBound(TrimSpaces(f.from), false, "first");
    parts.push_back("AuditTime>='" + from + "'");
  }
  if (!TrimSpaces(f.to).empty()) {
    to = TimeBound(TrimSpaces(f.to), true, "last");
    parts.push_back("AuditTime<='" + to + "'");
  }
  if (!from.empty() && !to.empty() && from > to) {
    Raise(ErrorCode::kInvalidArgument,
          "The first time of the range comes after its last");
  }
  std::string where;
  for (size_t i = 0; i < parts.size(); ++i) {
    where += (i == 0 ? " where " : " and ") + parts[i];
  }
  return where;
}

AuditFilter FilterOf(const Variant& person, const Variant& kind,
                     const Variant& from, const Variant& to) {
  for (const Variant* v : {&person, &kind, &from, &to}) {
    if (v->kind() == Kind::kString && v->string().size() > 64) {
      Raise(ErrorCode::kInvalidArgument,
            "A filter of the audit trail is longer than 64 characters");
    }
  }
  return {person.ToText(), kind.ToText(), from.ToText(), to.ToText()};
}

// Rows front to back, row first; undimensioned for none.
VariantArray ReadRows(Recordset& rs) {
  std::vector<std::vector<Variant>> rows;
  const int f = rs.FieldCount();
  while (!rs.Eof()) {
    std::vector<Variant> row(static_cast<size_t>(f));
    for (int i = 0; i < f; ++i) row[static_cast<size_t>(i)] = rs.Value(i);
    rows.push_back(std::move(row));
    rs.MoveNext();
  }
  if (rows.empty()) return VariantArray::Undimensioned();
  VariantArray out =
      VariantArray::TwoDim(static_cast<int32_t>(rows.size()) - 1, f - 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int i = 0; i < f; ++i) {
      out(static_cast<int32_t>(r), i) =
          std::move(rows[r][static_cast<size_t>(i)]);
    }
  }
  return out;
}

constexpr std::string_view kColumns =
    "AuditID,AuditTime,PersonID,PersonAccount,ClientIP,AuditKind,AuditTarget,"
    "BeforeValue,AfterValue";

}  // namespace

std::string AuditKind(AuditObject object, AuditAction action) {
  return std::string(kObjectNames[static_cast<size_t>(object)]) + "." +
         std::string(kActionNames[static_cast<size_t>(action)]);
}

std::optional<AuditedMethod> FindAuditedMethod(std::string_view progid,
                                               std::string_view method) {
  struct Entry {
    std::string_view progid;
    std::string_view method;
    AuditedMethod audited;
  };
  using O = AuditObject;
  using A = AuditAction;
  static constexpr Entry kMethods[] = {
      {"Wrenhaven.Menu", "AddData", {O::kMenu, A::kAdd, -1}},
      {"Wrenhaven.Menu", "UpdateData", {O::kMenu, A::kUpdate, 0}},
      {"Wrenhaven.Menu", "DelData", {O::kMenu, A::kDelete, 0}},
      {"Wrenhaven.Function", "AddData", {O::kFunction, A::kAdd, -1}},
      {"Wrenhaven.Function", "UpdateData", {O::kFunction, A::kUpdate, 0}},
      {"Wrenhaven.Function", "DelData", {O::kFunction, A::kDelete, 0}},
      {"Wrenhaven.Role", "AddData", {O::kRole, A::kAdd, -1}},
      {"Wrenhaven.Role", "UpdateData", {O::kRole, A::kUpdate, 0}},
      {"Wrenhaven.Role", "DelData", {O::kRole, A::kDelete, 0}},
      {"Wrenhaven.RoleRight", "AddRoleMenu", {O::kGrant, A::kAdd, 0}},
      {"Wrenhaven.RoleRight", "DelRoleMenu", {O::kGrant, A::kDelete, 0}},
      {"Wrenhaven.RoleRight", "UpdateRoleMenus", {O::kGrant, A::kUpdate, 0}},
      {"Wrenhaven.RoleRight", "AddPersonRole", {O::kPersonRole, A::kAdd, 0}},
      {"Wrenhaven.RoleRight", "DelPersonRole", {O::kPersonRole, A::kDelete, 0}},
      {"Wrenhaven.RoleRight",
       "UpdatePersonRoles",
       {O::kPersonRole, A::kUpdate, 0}},
  };
  for (const Entry& e : kMethods) {
    if (EqualsIgnoreCase(e.progid, progid) &&
        EqualsIgnoreCase(e.method, method)) {
      return e.audited;
    }
  }
  return std::nullopt;
}

VariantArray AuditTrail::Rows(const AuditFilter& filter, int64_t offset,
                              int32_t rows) {
  return Guarded([&] {
    const std::string where = Condition(filter);
    if (rows < 1 || rows > kAuditMaxPageSize || offset < 0) {
      Raise(ErrorCode::kInvalidArgument,
            "The audit trail reads 1 to " + std::to_string(kAuditMaxPageSize) +
                " rows at a time from a place 0 or later");
    }
    Connection& db = conn();
    Statement s;
    s.Text("Select ")
        .Text(kColumns)
        .Text(" from SYS_Audit")
        .Text(where)
        .Text(" order by AuditID desc");
    return Query(db, db.dialect().Limited(s.Finish(), rows, offset),
                 CursorType::kForwardOnly, ReadRows);
  });
}

int64_t AuditTrail::Count(const AuditFilter& filter) {
  return Guarded([&] {
    const std::string where = Condition(filter);
    const VariantArray n =
        Query(conn(), "Select count(*) from SYS_Audit" + where,
              CursorType::kForwardOnly, ReadFirstRecord);
    return static_cast<int64_t>(n.undimensioned() ? 0 : n(0).ToDouble());
  });
}

VariantArray AuditTrail::GetPage(const Variant& person, const Variant& kind,
                                 const Variant& from, const Variant& to,
                                 const Variant& page,
                                 const Variant& page_size) {
  return Guarded([&] {
    const AuditFilter filter = FilterOf(person, kind, from, to);
    const std::string page_text(TrimSpaces(page.ToText()));
    const std::string size_text(TrimSpaces(page_size.ToText()));
    const auto number =
        page_text.empty() ? std::optional<int32_t>(1) : ParseId(page_text);
    const auto size = size_text.empty()
                          ? std::optional<int32_t>(kAuditDefaultPageSize)
                          : ParseId(size_text);
    if (!number || *number < 1 || *number > 1000000) {
      Raise(ErrorCode::kInvalidArgument,
            "The page must be a whole number from 1 to 1000000");
    }
    if (!size || *size < 1) {
      Raise(ErrorCode::kInvalidArgument,
            "The page size must be a whole number, 1 or more");
    }
    const int32_t rows = std::min(*size, kAuditMaxPageSize);
    return Rows(filter, static_cast<int64_t>(*number - 1) * rows, rows);
  });
}

Variant AuditTrail::GetCount(const Variant& person, const Variant& kind,
                             const Variant& from, const Variant& to) {
  return Guarded([&] {
    const int64_t n = Count(FilterOf(person, kind, from, to));
    return n > INT32_MAX ? Variant::Double(static_cast<double>(n))
                         : Variant::Long(static_cast<int32_t>(n));
  });
}

void AuditTrail::Audited(AuditObject object, AuditAction action,
                         const Variant& id, const AuditActor& actor,
                         const std::function<void()>& change) {
  Guarded([&] {
    Connection& db = conn();
    // Who, checked and written out before anything is sent.
    Statement row;
    row.Text(
        "insert into SYS_Audit(PersonID,PersonAccount,ClientIP,AuditKind,"
        "AuditTarget,BeforeValue,AfterValue) values(");
    const auto person = WholeId(actor.person_id);
    if (person) {
      const std::string p = std::to_string(*person);
      row.Text(p)
          .Text(
              ",coalesce((Select personAccount from HR_person where "
              "PersonID=")
          .Text(p)
          .Text("),'')");
    } else if (actor.person_id.is_empty() || actor.person_id.is_null() ||
               actor.person_id.ToText().empty()) {
      row.Text("NULL,''");
    } else {
      Raise(ErrorCode::kInvalidArgument,
            "The person who makes a change must be named by a PersonID");
    }
    const std::string address = IsValidUtf8(actor.address)
                                    ? std::string(CutUtf8(actor.address, 64))
                                    : std::string();
    row.Text(",'")
        .Quoted(Variant::String(address))
        .Text("','")
        .Text(AuditKind(object, action))
        .Text("','");

    // An added menu, function or role learns its identifier from the
    // database; every other change names it.
    const bool new_row = action == AuditAction::kAdd &&
                         object != AuditObject::kGrant &&
                         object != AuditObject::kPersonRole;
    std::optional<int64_t> target;
    if (!new_row) target = WholeId(id);
    Transaction t(db);
    const std::string before =
        target ? Snapshot(db, object, *target) : std::string("null");
    change();
    if (new_row) target = NewRowId(db, object);
    const std::string after =
        target ? Snapshot(db, object, *target) : std::string("null");
    const std::string shown = target
                                  ? std::to_string(*target)
                                  : std::string(CutForMessage(id.ToText(), 64));
    row.Quoted(Variant::String(IsValidUtf8(shown) ? shown : std::string()))
        .Text("',");
    for (const std::string* value : {&before, &after}) {
      if (*value == "null") {
        row.Text("NULL");
      } else {
        row.Text("'").Quoted(Variant::String(*value)).Text("'");
      }
      row.Text(value == &before ? "," : ")");
    }
    db.Execute(row.Finish());
    t.Commit();
  });
}

}  // namespace wrenhaven
