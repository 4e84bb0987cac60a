#include "web/signed_in.h"

#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/signed_in.h"

namespace wrenhaven::web {
namespace {

bool IsDigits(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// Reads the person's roles into "Role" and "RoleID" as the sign-in puts
// them, and keeps `version` as the session's rights version.
void ReadRoles(Connection& conn, HttpSession& session,
               const std::string& person, int64_t version) {
  RoleValues roles = ReadRoleValues(conn, Variant::String(person));
  session.Set("Role", std::move(roles.names));
  session.Set("RoleID", std::move(roles.ids));
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

void NoteSignIn(HttpPage& page) {
  HttpSession& session = page.session();
  const std::string person = session.Get("PersonID").ToText();
  if (!IsDigits(person)) {
    Raise(ErrorCode::kDatabase, "The signed-in person's number is no number");
  }
  Connection& conn = *page.connection();
  const SignInRecord record = FindSignInRecord(conn, Variant::String(person));
  SessionHolder holder;
  holder.person = person;
  holder.login_id = record.login_id;
  holder.account = record.account;
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
  // The version read with the session, when the store read it, is as
  // fresh as one read now: both come after the request arrived, and
  // everything the page reads under it comes later still.
  RightsStamp stamp;
  if (const std::optional<int64_t> read = page.rights_version()) {
    stamp.process = MenuChangesInProcess();
    stamp.database = *read;
  } else {
    stamp = ReadRightsStamp(*page.connection());
  }
  const std::string now = std::to_string(stamp.database);
  if (held == now) return stamp;
  if (!IsDigits(person)) {
    // Nothing can be read for it: the visitor signs in again.
    session.Set("PersonID", Variant::String(""));
    session.Abandon();
    return stamp;
  }
  ReadRoles(*page.connection(), session, person, stamp.database);
  return stamp;
}

}  // namespace wrenhaven::web
