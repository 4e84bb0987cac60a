#include "wrenhaven/role_right.h"

#include <string>
#include <vector>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& RoleRight::Info() {
  static const ClassInfo info{
      "Wrenhaven.RoleRight",
      "_RoleRight",
      {
          Method("SetConn", &RoleRight::SetConn, {ByRef("pConn")}),
          Method("GetError", &RoleRight::GetError),
          Method("GetRoleMenus", &RoleRight::GetRoleMenus, {ByVal("RoleID")}),
          Method("AddRoleMenu", &RoleRight::AddRoleMenu,
                 {ByVal("RoleID"), ByVal("MenuID")}),
          Method("DelRoleMenu", &RoleRight::DelRoleMenu,
                 {ByVal("RoleID"), ByVal("MenuID")}),
          Method("UpdateRoleMenus", &RoleRight::UpdateRoleMenus,
                 {ByVal("RoleID"), ByVal("MenuIDs")}),
          Method("GetPersonRoles", &RoleRight::GetPersonRoles,
                 {ByVal("PersonID")}),
          Method("AddPersonRole", &RoleRight::AddPersonRole,
                 {ByVal("PersonID"), ByVal("RoleID")}),
          Method("DelPersonRole", &RoleRight::DelPersonRole,
                 {ByVal("PersonID"), ByVal("RoleID")}),
          Method("UpdatePersonRoles", &RoleRight::UpdatePersonRoles,
                 {ByVal("PersonID"), ByVal("RoleIDs")}),
          Method("MayUseFunction", &RoleRight::MayUseFunction,
                 {ByVal("RoleIDs"), ByVal("FunUrl")}),
      },
      [] { return std::make_shared<RoleRight>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(RoleRight::Info());

// The identifiers of a comma list ("" or Empty for none). Raises before
// anything is sent when the list is anything else.
std::vector<std::string> IdList(const Variant& list, const char* name) {
  std::string text;
  if (list.is_numeric()) {
    text = std::to_string(list.ToLong());
  } else if (list.kind() == Kind::kString || list.is_empty()) {
    text = std::string(TrimSpaces(list.ToText()));
  } else {
    Raise(ErrorCode::kTypeMismatch,
          std::string(name) + " must be a comma list of whole numbers");
  }
  std::vector<std::string> ids;
  if (text.empty()) return ids;
  if (!IsWholeNumberList(text)) {
    Raise(ErrorCode::kTypeMismatch, std::string(name) +
                                        " must be a comma list of whole "
                                        "numbers, not \"" +
                                        text + "\"");
  }
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(
        start, comma == std::string::npos ? std::string::npos : comma - start);
    // Each identifier must fit a 32-bit whole number.
    ids.push_back(std::to_string(Variant::String(item).ToLong()));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return ids;
}

std::string Grant(const std::string& role, const std::string& menu) {
  return "Insert into SYS_right (menuID,roleID) select " + menu + "," + role +
         " where not exists (select 1 from SYS_right where menuID=" + menu +
         " and roleID=" + role + ")";
}

std::string Assign(const std::string& person, const std::string& role) {
  return "Insert into SYS_PersonRole (PersonID,RoleID) select " + person + "," +
         role +
         " where not exists (select 1 from SYS_PersonRole where PersonID=" +
         person + " and RoleID=" + role + ")";
}

}  // namespace

VariantArray RoleRight::GetRoleMenus(int32_t role_id) {
  return Guarded([&] {
    return Query(conn(),
                 "Select menuID,roleID from SYS_right where roleID=" +
                     std::to_string(role_id) + " order by menuID",
                 CursorType::kForwardOnly, ReadAllRows);
  });
}

bool RoleRight::AddRoleMenu(int32_t role_id, int32_t menu_id) {
  return Guarded([&] {
    return RunCommand(conn(),
                      Grant(std::to_string(role_id), std::to_string(menu_id)));
  });
}

bool RoleRight::DelRoleMenu(int32_t role_id, int32_t menu_id) {
  return Guarded([&] {
    return RunCommand(conn(), "Delete from SYS_right where roleID=" +
                                  std::to_string(role_id) +
                                  " and menuID=" + std::to_string(menu_id));
  });
}

bool RoleRight::UpdateRoleMenus(int32_t role_id, const Variant& menu_ids) {
  return Guarded([&] {
    const std::vector<std::string> menus = IdList(menu_ids, "MenuIDs");
    const std::string role = std::to_string(role_id);
    Connection& db = conn();
    Transaction t(db);
    db.Execute("Delete from SYS_right where roleID=" + role);
    for (const std::string& menu : menus) db.Execute(Grant(role, menu));
    t.Commit();
    return true;
  });
}

VariantArray RoleRight::GetPersonRoles(int32_t person_id) {
  return Guarded([&] {
    return Query(conn(),
                 "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
                 "SYS_PersonRole left join SYS_Role on "
                 "SYS_PersonRole.RoleID=SYS_Role.RoleID where PersonID=" +
                     std::to_string(person_id) +
                     " order by SYS_PersonRole.RoleID",
                 CursorType::kForwardOnly, ReadAllRows);
  });
}

bool RoleRight::AddPersonRole(int32_t person_id, int32_t role_id) {
  return Guarded([&] {
    return RunCommand(
        conn(), Assign(std::to_string(person_id), std::to_string(role_id)));
  });
}

bool RoleRight::DelPersonRole(int32_t person_id, int32_t role_id) {
  return Guarded([&] {
    return RunCommand(conn(), "Delete from SYS_PersonRole where PersonID=" +
                                  std::to_string(person_id) +
                                  " and RoleID=" + std::to_string(role_id));
  });
}

bool RoleRight::UpdatePersonRoles(int32_t person_id, const Variant& role_ids) {
  return Guarded([&] {
    const std::vector<std::string> roles = IdList(role_ids, "RoleIDs");
    const std::string person = std::to_string(person_id);
    Connection& db = conn();
    Transaction t(db);
    db.Execute("Delete from SYS_PersonRole where PersonID=" + person);
    for (const std::string& role : roles) db.Execute(Assign(person, role));
    t.Commit();
    return true;
  });
}

bool RoleRight::MayUseFunction(const Variant& role_ids,
                               const Variant& fun_url) {
  return Guarded([&] {
    Connection& db = conn();
    const std::vector<std::string> roles = IdList(role_ids, "RoleIDs");
    if (roles.empty()) return false;
    // From the menus that open the page to their grants, so that the
    // work follows those few menus, not every grant of the roles (a
    // visitor of twenty roles holds thousands at office scale).
    Statement s;
    s.Text(
         "SELECT COUNT(*) FROM SYS_right WHERE SYS_right.menuID IN (SELECT "
         "SYS_Menu.MenuID FROM SYS_Menu, SYS_Function WHERE SYS_Menu.FunID = "
         "SYS_Function.FunID AND SYS_Function.FunUrl = '")
        .Quoted(fun_url)
        .Text("') AND SYS_right.roleID IN (");
    for (size_t i = 0; i < roles.size(); ++i) {
      s.Text(i == 0 ? "" : ",").Text(roles[i]);
    }
    s.Text(")");
    const VariantArray count =
        Query(db, s.Finish(), CursorType::kForwardOnly, ReadFirstRecord);
    return !count.undimensioned() && count(0).ToLong() > 0;
  });
}

}  // namespace wrenhaven
