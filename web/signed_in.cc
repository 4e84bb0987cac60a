#include "web/signed_in.h"

#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "login/role_values.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

bool IsDigits(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         text.find_first_not_of("0123456789") == std::string::npos;
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

// Reads the person's roles into "Role" and "RoleID" as the sign-in puts
// them, and keeps `version` as the session's rights version.
void ReadRoles(Connection& conn, HttpSession& session,
               const std::string& person, int64_t version) {
  std::unique_ptr<Recordset> rs =
      conn.Open(RolesStatement(person), CursorType::kStatic);
  std::vector<Variant> names, ids;
  while (!rs->Eof()) {
    names.push_back(rs->Value("roleName"));
    ids.push_back(rs->Value("roleID"));
    rs->MoveNext();
  }
  rs->Close();
  session.Set("Role", JoinRoleValues(names));
  session.Set("RoleID", JoinRoleValues(ids));
  session.Set(kRightsVersionKey, Variant::String(std::to_string(version)));
}

}  // namespace

std::string SessionTimeText(SessionClock::time_point t) {
  const std::time_t seconds = SessionClock::to_time_t(t);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string RolesStatement(const std::string& person_id) {
  return "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
         "SYS_PersonRole,SYS_Role where SYS_PersonRole.RoleID="
         "SYS_Role.RoleID and PersonID=" +
         person_id + " order by SYS_PersonRole.RoleID";
}

void NoteSignIn(HttpPage& page) {
  HttpSession& session = page.session();
  const std::string person = session.Get("PersonID").ToText();
  if (!IsDigits(person)) {
    Raise(ErrorCode::kDatabase, "The signed-in person's number is no number");
  }
  Connection& conn = *page.connection();
  std::unique_ptr<Recordset> rs = conn.Open(
      "SELECT HR_Login.LoginID, HR_person.personAccount FROM HR_Login, "
      "HR_person WHERE HR_Login.LoginID = " +
          LastInsertedLogin(conn) +
          " AND HR_Login.LoginOK = 1 AND HR_Login.personID = " + person +
          " AND HR_person.PersonID = HR_Login.personID",
      CursorType::kForwardOnly);
  if (rs->Eof()) {
    rs->Close();
    Raise(ErrorCode::kDatabase,
          "The login record of the sign-in cannot be found");
  }
  SessionHolder holder;
  holder.person = person;
  const Variant id = rs->Value(0);
  holder.login_id = id.kind() == Kind::kDouble
                        ? static_cast<int64_t>(id.ToDouble())
                        : id.ToLong();
  holder.account = rs->Value(1).ToText();
  rs->Close();
  const HttpRequest& request = page.request();
  holder.address = request.ServerVariable("REMOTE_ADDR");
  holder.browser = request.ServerVariable("HTTP_USER_AGENT");
  // The roles again, after the version: a change after this reading
  // moves the version on, so the next page reads them once more.
  ReadRoles(conn, session, person, ReadRightsStamp(conn).database);
  page.SignedIn(std::move(holder));
}

std::optional<RightsStamp> FollowRights(HttpPage& page) {
  HttpSession& session = page.session();
  const std::string held = session.Get(kRightsVersionKey).ToText();
  const std::string person = session.Get("PersonID").ToText();
  if (held.empty() || person.empty()) return std::nullopt;
  Connection& conn = *page.connection();
  const RightsStamp stamp = ReadRightsStamp(conn);
  const std::string now = std::to_string(stamp.database);
  if (held == now) return stamp;
  if (!IsDigits(person)) {
    // Nothing can be read for it: the visitor signs in again.
    session.Set("PersonID", Variant::String(""));
    session.Abandon();
    return stamp;
  }
  ReadRoles(conn, session, person, stamp.database);
  return stamp;
}

}  // namespace wrenhaven::web
