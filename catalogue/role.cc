#include "wrenhaven/role.h"

#include <array>
#include <string>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& Role::Info() {
  static const ClassInfo info{
      "Wrenhaven.Role",
      "_Role",
      {
          Method("SetConn", &Role::SetConn, {ByRef("pConn")}),
          Method("GetError", &Role::GetError),
          Method("AddData", &Role::AddData,
                 {ByVal("RoleName"), ByVal("RoleParentID"), ByVal("roleLevel"),
                  ByVal("roleClass"), ByVal("roleMemo")}),
          Method("DelData", &Role::DelData, {ByRef("ID")}),
          Method("UpdateData", &Role::UpdateData,
                 {ByVal("ID"), ByVal("RoleName"), ByVal("RoleParentID"),
                  ByVal("roleLevel"), ByVal("roleClass"), ByVal("roleMemo")}),
          Method("GetAllData", &Role::GetAllData),
          Method("GetPageData", &Role::GetPageData,
                 {ByVal("nPageSize"), ByVal("nPage")}),
          Method("GetData", &Role::GetData, {ByVal("ID")}),
      },
      [] { return std::make_shared<Role>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(Role::Info());

// The insert's values list: an empty RoleParentID stands between two
// commas. The insert has no where clause; its second pair only guards one.
constexpr std::array<NullMarker, 2> kInsertNulls{{
    {",,", ",null,"},
    {"= where", "= null where"},
}};

// The update's set list: an empty RoleParentID is followed by a comma; the
// value before the where clause is quoted.
constexpr std::array<NullMarker, 2> kUpdateNulls{{
    {"=,", "=null,"},
    {"= where", "= null where"},
}};

// The parent and the identifier of an update are taken as text on their
// own, before the statement is built: a Null fails there.
Variant AsText(const Variant& value, const char* name) {
  if (value.is_null()) {
    Raise(ErrorCode::kInvalidUseOfNull,
          std::string("Invalid use of Null: ") + name + " is Null");
  }
  return Variant::String(value.ToText());
}

}  // namespace

bool Role::AddData(const Variant& role_name, const Variant& role_parent_id,
                   const Variant& role_level, const Variant& role_class,
                   const Variant& role_memo) {
  return Guarded([&] {
    Connection& db = conn();
    Statement s;
    s.Text(db.dialect().RoleInsertHead())
        .Text("RoleName,RoleParentID,roleLevel,roleClass,roleMemo) values('")
        .Quoted(role_name)
        .Text("',")
        .Bare(role_parent_id, "RoleParentID")
        .Text(",'")
        .Quoted(role_level)
        .Text("','")
        .Quoted(role_class)
        .Text("','")
        .Quoted(role_memo)
        .Text("')");
    return RunCommand(db, s.Finish(kInsertNulls));
  });
}

bool Role::DelData(const Variant& id) {
  return Guarded([&] {
    Connection& db = conn();
    RequireId(id, "ID", "role to change or delete");
    Statement s;
    s.Text("Delete from SYS_Role where RoleID=").Bare(id, "ID");
    return RunCommand(db, s.Finish());
  });
}

bool Role::UpdateData(const Variant& id, const Variant& role_name,
                      const Variant& role_parent_id, const Variant& role_level,
                      const Variant& role_class, const Variant& role_memo) {
  return Guarded([&] {
    Connection& db = conn();
    const Variant parent = AsText(role_parent_id, "RoleParentID");
    const Variant target = AsText(id, "ID");
    RequireId(target, "ID", "role to change or delete");
    Statement s;
    s.Text("update SYS_Role set RoleName='")
        .Quoted(role_name)
        .Text("',RoleMemo='")
        .Quoted(role_memo)
        .Text("',RoleParentID=")
        .Bare(parent, "RoleParentID")
        .Text(",RoleLevel='")
        .Quoted(role_level)
        .Text("',RoleClass='")
        .Quoted(role_class)
        .Text("' where RoleID=")
        .Bare(target, "ID");
    return RunCommand(db, s.Finish(kUpdateNulls));
  });
}

VariantArray Role::GetAllData() {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db, db.dialect().RoleList(), CursorType::kStatic, ReadAllRows);
  });
}

VariantArray Role::GetPageData(const Variant& page_size, const Variant& page) {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db, db.dialect().RolePageList(), CursorType::kStatic,
                 [&](Recordset& rs) { return ReadPage(rs, page_size, page); });
  });
}

VariantArray Role::GetData(int32_t id) {
  return Guarded([&] {
    Connection& db = conn();
    const std::string text =
        "Select * From SYS_Role Where RoleID=" + std::to_string(id);
    return Query(db, text, CursorType::kStatic, ReadAllRows);
  });
}

}  // namespace wrenhaven
