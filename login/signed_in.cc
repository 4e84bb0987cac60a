#include "wrenhaven/signed_in.h"

#include <memory>
#include <string>
#include <vector>

#include "frame/statement.h"
#include "login/role_values.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

void RequirePerson(const Variant& person_id) {
  if (!person_id.is_numeric() && !IsNumberText(person_id.ToText())) {
    Raise(ErrorCode::kInvalidArgument,
          "The signed-in person " + person_id.Debug() + " is no number");
  }
}

// The number the database gave the row this connection inserted last.
std::string LastInsertedLogin(const Connection& conn) {
  const std::string_view db = conn.dialect().name();
  if (db == "sqlite") return "last_insert_rowid()";
  if (db == "postgresql") {
    return "currval(pg_get_serial_sequence('hr_login', 'loginid'))";
  }
  Raise(ErrorCode::kInvalidArgument,
        "No login record can be found on the database " + std::string(db));
}

}  // namespace

SignInRecord FindSignInRecord(Connection& conn, const Variant& person_id) {
  RequirePerson(person_id);
  Statement find;
  find.Text(
          "SELECT HR_Login.LoginID, HR_person.personAccount FROM HR_Login, "
          "HR_person WHERE HR_Login.LoginID = ")
      .Text(LastInsertedLogin(conn))
      .Text(" AND HR_Login.LoginOK = 1 AND HR_Login.personID = ")
      .Bare(person_id, "PersonID")
      .Text(" AND HR_person.PersonID = HR_Login.personID");
  std::unique_ptr<Recordset> rs =
      conn.Open(find.Finish(), CursorType::kForwardOnly);
  if (rs->Eof()) {
    rs->Close();
    Raise(ErrorCode::kDatabase,
          "The login record of the sign-in cannot be found");
  }
  SignInRecord record;
  const Variant id = rs->Value(0);
  // Whole numbers past 32 bits come back as Double.
  record.login_id = id.kind() == Kind::kDouble
                        ? static_cast<int64_t>(id.ToDouble())
                        : id.ToLong();
  record.account = rs->Value(1).ToText();
  rs->Close();
  return record;
}

RoleValues ReadRoleValues(Connection& conn, const Variant& person_id) {
  RequirePerson(person_id);
  Statement roles;
  roles
      .Text(
          "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
          "SYS_PersonRole,SYS_Role where SYS_PersonRole.RoleID="
          "SYS_Role.RoleID and PersonID=")
      .Bare(person_id, "PersonID")
      .Text(" order by SYS_PersonRole.RoleID");
  std::unique_ptr<Recordset> rs =
      conn.Open(roles.Finish(), CursorType::kStatic);
  std::vector<Variant> names, ids;
  while (!rs->Eof()) {
    names.push_back(rs->Value("roleName"));
    ids.push_back(rs->Value("roleID"));
    rs->MoveNext();
  }
  rs->Close();
  return {JoinRoleValues(names), JoinRoleValues(ids)};
}

}  // namespace wrenhaven
