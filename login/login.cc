#include "wrenhaven/login.h"

#include <sodium.h>

#include <cmath>
#include <cstdint>
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

const ClassInfo& Login::Info() {
  static const ClassInfo info{
      "Wrenhaven.Login",
      "_Login",
      {
          Method("OnStartPage", &Login::OnStartPage, {ByRef("sc")}),
          Method("OnEndPage", &Login::OnEndPage),
          Method("SetConn", &Login::SetConn, {ByRef("pConn")}),
          Method("GetError", &Login::GetError),
          Method("UpdateLogin", &Login::UpdateLogin),
          Method("GetLoginAll", &Login::GetLoginAll),
          Method("GetAllData", &Login::GetAllData),
          Method("GetPersonData", &Login::GetPersonData, {ByRef("personID")}),
          Method("GetMonthLogin", &Login::GetMonthLogin, {ByRef("dtDate")}),
          Method("GetData", &Login::GetData, {ByVal("ID")}),
          Method("LoginMain", &Login::LoginMain),
      },
      [] { return std::make_shared<Login>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(Login::Info());

// The main window's address (the token follows it) and the scripts that
// answer a sign-in attempt. The alert says that the sign-in failed.
constexpr std::string_view kMainWindow = "MyOffice/?";
constexpr std::string_view kScriptOpen = "<script language='javascript'>\r\n";
constexpr std::string_view kFailureAlert =
    "   alert(\"登陆失败!\")</script>\r\n";

constexpr std::string_view kSummary =
    "SELECT HR_Login.PersonID,personName, MAX(loginTime) AS "
    "lastTime,MAX(loginOutTime) as outTime, COUNT(*) AS Times FROM "
    "HR_Login,HR_person  where HR_Login.personID=HR_Person.personID and "
    "LoginOK=1 GROUP BY HR_Login.PersonID,personName ORDER BY MAX(loginTime) "
    "DESC";

// The dates a page can pass: 1 January 100 to 31 December 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kLastDate = 2958466.0;  // exclusive: 1 January 10000

// Text joined between single quotes as it stands must not end its literal
// early (every quote doubled) nor cut the statement short (no NUL).
void RequireJoinable(std::string_view text, std::string_view what) {
  if (text.find('\0') != std::string_view::npos) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(what) + " must not contain a NUL character");
  }
  size_t run = 0;
  for (char c : text) {
    if (c == '\'') {
      ++run;
    } else {
      if (run % 2 != 0) break;
      run = 0;
    }
  }
  if (run % 2 != 0) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(what) + " has a single quote that is not doubled");
  }
}

// Client details are recorded with their single quotes removed.
std::string WithoutQuotes(std::string_view text) {
  return ReplaceAll(text, "'", "");
}

// The switch "oldwin": the word true in any letter case, or a whole number
// other than 0. Anything else, absent and empty included, reads as false.
bool ReadsTrue(std::string_view text) {
  if (EqualsIgnoreCase(text, "true")) return true;
  if (!IsWholeNumber(text)) return false;
  for (char c : text) {
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

// A fresh token for the main window's address: the whole part of a fraction
// in [0, 1) times 10^15, from the operating system's secure random source.
int64_t DrawToken() {
  if (sodium_init() < 0) {
    Raise(ErrorCode::kHost, "The secure random source is not available");
  }
  uint64_t bits = 0;
  randombytes_buf(&bits, sizeof bits);
  const double fraction = static_cast<double>(bits >> 11) * 0x1p-53;
  const auto token = static_cast<int64_t>(std::floor(fraction * 1e15));
  return token < 999999999999999 ? token : 999999999999999;
}

// The role lists of the session: the values themselves for a single role,
// Empty for none, otherwise their texts joined by commas, one entry per role
// so that the n-th name belongs to the n-th identifier.
Variant JoinRoleValues(const std::vector<Variant>& values) {
  if (values.empty()) return Variant();
  if (values.size() == 1) return values.front();
  std::string joined;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) joined += ',';
    joined += values[i].ToText();
  }
  return Variant::String(std::move(joined));
}

}  // namespace

bool Login::UpdateLogin() {
  return Guarded([] { return false; });
}

std::string Login::GetLoginAll() {
  return Guarded([] { return std::string(); });
}

VariantArray Login::GetAllData() {
  return Guarded([&] {
    return Query(conn(), kSummary, CursorType::kStatic, ReadTitledTable);
  });
}

VariantArray Login::GetPersonData(const Variant& person_id) {
  return Guarded([&] {
    RequireId(person_id, "personID", "person whose records are wanted");
    Statement s;
    s.Text("SELECT * from hr_login where personID=")
        .Bare(person_id, "personID")
        .Text(" order by loginTime desc ");
    return Query(conn(), s.Finish(), CursorType::kForwardOnly,
                 [](Recordset& rs) {
                   return rs.Eof() ? ReadNamesRow(rs) : rs.GetRows();
                 });
  });
}

Variant Login::GetMonthLogin(const Variant& date) {
  return Guarded([&] {
    const Date when = date.ToDate();
    if (!(when.serial >= kFirstDate && when.serial < kLastDate)) {
      Raise(ErrorCode::kOverflow, "Overflow: dtDate " + date.Debug() +
                                      " lies outside the years 100 to 9999");
    }
    int year, month, day, hour, minute, second;
    when.ToParts(&year, &month, &day, &hour, &minute, &second);
    Connection& db = conn();
    return Variant::Array(Query(db, db.dialect().MonthLogin(year, month),
                                CursorType::kForwardOnly, ReadAllRows));
  });
}

VariantArray Login::GetData(int32_t id) {
  return Guarded([&] {
    const std::string statement =
        "Select * From HR_Login Where LoginID=" + std::to_string(id);
    return Query(conn(), statement, CursorType::kStatic, [](Recordset& rs) {
      return rs.Eof() ? VariantArray::OneDim(0) : ReadFirstRecord(rs);
    });
  });
}

void Login::LoginMain() {
  Guarded([&] {
    if (request().ServerVariable("REQUEST_METHOD") != "POST") {
      session().Abandon();
      return;
    }
    const std::string name = GetRequestValue("LoginName");
    const std::string password = GetRequestValue("LoginPwd");

    // The remembered name fills the sign-in form next time, so it is the
    // name as typed (blanks cut); doubled, it would no longer sign in.
    Response& answer = response();
    answer.SetCookieExpires("pname", Date{Date::Now().serial + 30});
    answer.SetCookie("pname", TrimSpaces(request().Item("LoginName")));

    if (!CheckLogin(name, password)) {
      answer.Write(std::string(kScriptOpen) + std::string(kFailureAlert));
      return;
    }

    const int64_t token = DrawToken();
    session().Set("rnd", Variant::Double(static_cast<double>(token)));
    const std::string address =
        std::string(kMainWindow) + std::to_string(token);
    answer.SetCookie("name", name);

    if (ReadsTrue(GetRequestValue("oldwin"))) {
      answer.Redirect(address);
      return;
    }
    answer.Write(std::string(kScriptOpen) + "var tesselWin=window.open('" +
                 address +
                 "','tessel','toolbars=no,statusbar=1');\r\n"
                 "tesselWin.moveTo(0,0);\r\n"
                 "tesselWin.resizeTo(screen.width,screen.height-30);\r\n"
                 "tesselWin.focus();\r\n"
                 "</script>\r\n");
    answer.End();
  });
}

std::string Login::GetRequestValue(std::string_view name) const {
  return std::string(TrimSpaces(DoubleQuotes(request().Item(name))));
}

bool Login::CheckLogin(const std::string& account,
                       const std::string& password) {
  Connection& db = conn();
  const Request& req = request();
  Session& visitor = session();

  // Everything joined into a statement is checked before the first one
  // leaves, so bad input never reaches the database half way.
  const std::string screen =
      std::string(TrimSpaces(WithoutQuotes(req.Item("Screen"))));
  const std::string address = req.ServerVariable("REMOTE_ADDR");
  const std::string browser =
      WithoutQuotes(req.ServerVariable("HTTP_USER_AGENT"));
  RequireJoinable(account, "The account name");
  RequireJoinable(password, "The password");
  RequireJoinable(screen, "The screen description");
  RequireJoinable(browser, "The browser description");
  if (address.find('\0') != std::string::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "The client address must not contain a NUL character");
  }

  Statement person;
  person.Text("Select * from HR_person where personAccount='")
      .Text(account)
      .Text("' and personPwd='")
      .Text(password)
      .Text("'");
  std::unique_ptr<Recordset> rs = db.Open(person.Finish(), CursorType::kStatic);

  const bool ok = rs->RecordCount() == 1;
  Variant person_id;
  if (ok) {
    person_id = rs->Value("PersonID");
    visitor.Set("PersonID", person_id);
    visitor.Set("PersonName", rs->Value("PersonName"));
    visitor.Set("DeptID", rs->Value("DeptID"));
    visitor.Set("jobid", rs->Value("PersonJobCode"));
    rs->Close();

    if (!person_id.is_numeric() && !IsNumberText(person_id.ToText())) {
      Raise(ErrorCode::kDatabase, "The matched person's PersonID " +
                                      person_id.Debug() + " is no number");
    }
    Statement roles;
    roles
        .Text(
            "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
            "SYS_PersonRole,SYS_Role where SYS_PersonRole.RoleID="
            "SYS_Role.RoleID and PersonID=")
        .Bare(person_id, "PersonID")
        .Text(" order by SYS_PersonRole.RoleID");
    rs = db.Open(roles.Finish(), CursorType::kStatic);
    std::vector<Variant> names;
    std::vector<Variant> ids;
    while (!rs->Eof()) {
      names.push_back(rs->Value("roleName"));
      ids.push_back(rs->Value("roleID"));
      rs->MoveNext();
    }
    visitor.Set("Role", JoinRoleValues(names));
    visitor.Set("RoleID", JoinRoleValues(ids));
    rs->Close();
  } else {
    visitor.Set("PersonID", Variant::String(""));
    rs->Close();
  }

  Statement insert;
  insert.Text(db.dialect().LoginInsertHead())
      .Text(
          "personID,LoginAccount,LoginPwd,LoginOK,LoginIP,LoginMemo,"
          "LoginScreen) values(");
  if (ok) {
    insert.Bare(person_id, "PersonID");
  } else {
    insert.Text("NULL");
  }
  insert.Text(",'")
      .Text(account)
      .Text("','")
      // The typed password is never recorded: a mistyped one is usually a
      // near miss of the real one, and administrators read these records.
      .Text("******")
      .Text("',")
      .Text(ok ? "1" : "0")
      .Text(",'")
      .Quoted(Variant::String(address))
      .Text("','")
      .Text(browser)
      .Text("','")
      .Text(screen)
      .Text("')");
  db.Execute(insert.Finish());
  return ok;
}

}  // namespace wrenhaven
