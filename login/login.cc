#include "wrenhaven/login.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "login/password.h"
#include "login/role_values.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sign_in.h"
#include "wrenhaven/signed_in.h"

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
          Method("GetNewestData", &Login::GetNewestData,
                 {ByRef("personID"), ByVal("most")}),
          Method("GetDayCounts", &Login::GetDayCounts),
          Method("GetHourCounts", &Login::GetHourCounts),
          Method("GetSummaryPage", &Login::GetSummaryPage,
                 {ByVal("first"), ByVal("most")}),
          Method("GetMonthLoginPage", &Login::GetMonthLoginPage,
                 {ByRef("dtDate"), ByVal("first"), ByVal("most")}),
          Method("GetPersonPage", &Login::GetPersonPage,
                 {ByRef("personID"), ByVal("first"), ByVal("most")}),
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
// How long a browser is remembered for an account after it signed in.
constexpr double kDeviceCookieDays = 180;
constexpr std::string_view kScriptOpen = "<script language='javascript'>\r\n";
constexpr std::string_view kFailureAlert =
    "   alert(\"登陆失败!\")</script>\r\n";
// A held-back attempt: the sign-in failed, try again in N minutes. The
// same for every account, known or not.
constexpr std::string_view kHeldBackAlertHead = "   alert(\"登陆失败! 请在";
constexpr std::string_view kHeldBackAlertTail = "分钟后再试。\")</script>\r\n";

constexpr std::string_view kSummary =
    "SELECT HR_Login.PersonID,personName, MAX(loginTime) AS "
    "lastTime,MAX(loginOutTime) as outTime, COUNT(*) AS Times FROM "
    "HR_Login,HR_person  where HR_Login.personID=HR_Person.personID and "
    "LoginOK=1 GROUP BY HR_Login.PersonID,personName ORDER BY MAX(loginTime) "
    "DESC";

// The same rows from the summary the triggers keep (HR_LoginSummary), in
// the same order, ties broken by the person, so that a page of them reads
// only its rows.
constexpr std::string_view kSummaryPage =
    "SELECT HR_LoginSummary.personID AS PersonID, personName, lastTime, "
    "outTime, Times FROM HR_LoginSummary JOIN HR_person ON "
    "HR_LoginSummary.personID = HR_person.personID ORDER BY lastTime DESC, "
    "HR_LoginSummary.personID";

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

// Sign-in text from the request: UTF-8 without NUL, at most `max_chars`
// characters. Checked before any statement; the message names the field,
// never its value.
void RequireSignInText(std::string_view text, std::string_view what,
                       size_t max_chars) {
  if (!IsValidUtf8(text)) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(what) + " is not UTF-8 text");
  }
  if (text.find('\0') != std::string_view::npos) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(what) + " must not contain a NUL character");
  }
  if (Utf8Length(text) > max_chars) {
    Raise(ErrorCode::kInvalidArgument, std::string(what) + " is longer than " +
                                           std::to_string(max_chars) +
                                           " characters");
  }
}

// The text a doubled value stands for: every "''" read back as "'".
std::string UndoubleQuotes(std::string_view text) {
  return ReplaceAll(text, "''", "'");
}

// The statement with the contents of its quoted literals left out, for
// messages: a sign-in statement holds the account and, in an update, a
// stored password.
std::string MaskLiterals(std::string_view statement) {
  std::string out;
  bool inside = false;
  for (size_t i = 0; i < statement.size(); ++i) {
    const char c = statement[i];
    if (!inside) {
      out += c;
      if (c == '\'') inside = true;
    } else if (c == '\'') {
      if (i + 1 < statement.size() && statement[i + 1] == '\'') {
        ++i;  // a doubled quote inside the literal
      } else {
        out += "...'";
        inside = false;
      }
    }
  }
  if (inside) out += "...";
  return out;
}

// Runs `body`; a failure leaves with the statement masked in its message.
template <class Body>
void Masked(const std::string& statement, Body&& body) {
  try {
    body();
  } catch (const Error& e) {
    std::string message = e.what();
    const std::string masked = MaskLiterals(statement);
    for (size_t at = message.find(statement); at != std::string::npos;
         at = message.find(statement, at + masked.size())) {
      message.replace(at, statement.size(), masked);
    }
    Raise(e.code(), std::move(message));
  }
}

// One person with the account, as read for the password check.
struct Candidate {
  Variant person_id;
  Variant person_name;
  Variant dept_id;
  Variant job_code;
  std::string stored;
};

// The device cookie: up to kRememberedAccounts signatures, newest first,
// of the accounts this browser signed in to, as hex separated by ".".
constexpr size_t kRememberedAccounts = 5;
constexpr size_t kSignatureBytes = 16;

std::string AccountSignature(std::string_view account) {
  const std::string key = password::DeviceKey();
  unsigned char mac[crypto_auth_BYTES];
  crypto_auth(mac, reinterpret_cast<const unsigned char*>(account.data()),
              account.size(),
              reinterpret_cast<const unsigned char*>(key.data()));
  char hex[kSignatureBytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, mac, kSignatureBytes);
  return hex;
}

std::vector<std::string> SplitSignatures(std::string_view cookie) {
  std::vector<std::string> out;
  while (!cookie.empty() && out.size() < kRememberedAccounts) {
    const size_t dot = cookie.find('.');
    const std::string_view part = cookie.substr(0, dot);
    if (part.size() == kSignatureBytes * 2) out.emplace_back(part);
    if (dot == std::string_view::npos) break;
    cookie.remove_prefix(dot + 1);
  }
  return out;
}

bool DeviceKnowsAccount(std::string_view cookie, std::string_view account) {
  if (cookie.size() > kRememberedAccounts * (kSignatureBytes * 2 + 1)) {
    return false;
  }
  const std::string mine = AccountSignature(account);
  bool known = false;
  for (const std::string& s : SplitSignatures(cookie)) {
    known |= sodium_memcmp(s.data(), mine.data(), mine.size()) == 0;
  }
  return known;
}

std::string RememberAccount(std::string_view cookie, std::string_view account) {
  const std::string mine = AccountSignature(account);
  std::string out = mine;
  size_t kept = 1;
  for (const std::string& s : SplitSignatures(cookie)) {
    if (s == mine || kept == kRememberedAccounts) continue;
    out += '.' + s;
    ++kept;
  }
  return out;
}

// Replaces a plain or weaker stored password by a hash of the current
// cost. The sign-in has been answered and recorded already: a failure is
// logged, never shown, and the person signs in with the old value again.
// The stored value must still be the one verified, so a password changed
// meanwhile is not overwritten.
void Rehash(Connection& db, const Candidate& who, const std::string& typed,
            const PasswordCost& cost) {
  try {
    Statement update;
    update.Text("Update HR_person set personPwd='")
        .Quoted(Variant::String(password::HashOnVerifier(typed, cost)))
        .Text("' where PersonID=")
        .Bare(who.person_id, "PersonID")
        .Text(" and personPwd='")
        .Quoted(Variant::String(who.stored))
        .Text("'");
    const std::string statement = update.Finish();
    Masked(statement, [&] { db.Execute(statement); });
  } catch (const Error& e) {
    spdlog::warn("The password of person {} was not rehashed: {}",
                 who.person_id.ToText(), e.what());
    ClearError();  // the sign-in itself succeeded
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

}  // namespace

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

namespace {

static_assert(Login::kCountedDays >= 1 && Login::kCountedDays <= 100,
              "the dialects count 1 to 100 days");

// A chart's counts, field first: the label and the two counts of each
// period. The page draws one bar per row, so a result of another shape is
// the database's fault and said so.
VariantArray ReadCounts(Connection& db, const std::string& statement,
                        int periods, std::string_view what) {
  VariantArray counts =
      Query(db, statement, CursorType::kForwardOnly, ReadAllRows);
  const bool shaped = counts.dimensions() == 2 && counts.UBound(1) == 2;
  const int32_t rows = shaped ? counts.UBound(2) + 1 : 0;
  if (rows != periods) {
    Raise(ErrorCode::kDatabase, "The sign-ins per " + std::string(what) +
                                    " came back as " + std::to_string(rows) +
                                    " rows of three values, not " +
                                    std::to_string(periods));
  }
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 1; c <= 2; ++c) {
      const Variant& n = counts(c, r);
      if (!n.is_numeric() || n.ToDouble() < 0 ||
          n.ToDouble() != std::floor(n.ToDouble())) {
        Raise(ErrorCode::kDatabase, "The sign-ins per " + std::string(what) +
                                        " hold " + n.Debug() +
                                        " where a count belongs");
      }
    }
  }
  return counts;
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

VariantArray Login::GetNewestData(const Variant& person_id, int32_t most) {
  return Guarded([&] {
    RequireId(person_id, "personID", "person whose records are wanted");
    if (most < 1 || most > kMostNewestRecords) {
      Raise(ErrorCode::kInvalidArgument,
            "The number of records wanted must be 1 to " +
                std::to_string(kMostNewestRecords) + ", not " +
                std::to_string(most));
    }
    Statement person;
    person.Bare(person_id, "personID");
    Connection& db = conn();
    return Query(db, db.dialect().NewestLogins(person.Finish(), most),
                 CursorType::kForwardOnly, [](Recordset& rs) {
                   return rs.Eof() ? ReadNamesRow(rs) : rs.GetRows();
                 });
  });
}

namespace {

// The year and month of a date a page passed; raises for one outside the
// years 100 to 9999.
std::pair<int, int> MonthOf(const Variant& date) {
  const Date when = date.ToDate();
  if (!(when.serial >= kFirstDate && when.serial < kLastDate)) {
    Raise(ErrorCode::kOverflow, "Overflow: dtDate " + date.Debug() +
                                    " lies outside the years 100 to 9999");
  }
  int year, month, day, hour, minute, second;
  when.ToParts(&year, &month, &day, &hour, &minute, &second);
  return {year, month};
}

void RequirePage(int32_t first, int32_t most, int32_t limit) {
  if (first < 0) {
    Raise(
        ErrorCode::kInvalidArgument,
        "The first row wanted must be 0 or more, not " + std::to_string(first));
  }
  if (most < 1 || most > limit) {
    Raise(ErrorCode::kInvalidArgument,
          "The number of rows wanted must be 1 to " + std::to_string(limit) +
              ", not " + std::to_string(most));
  }
}

}  // namespace

Variant Login::GetMonthLogin(const Variant& date) {
  return Guarded([&] {
    const auto [year, month] = MonthOf(date);
    Connection& db = conn();
    return Variant::Array(Query(db, db.dialect().MonthLogin(year, month),
                                CursorType::kForwardOnly, ReadAllRows));
  });
}

VariantArray Login::GetSummaryPage(int32_t first, int32_t most) {
  return Guarded([&] {
    RequirePage(first, most, kMostPageRows);
    Connection& db = conn();
    return Query(db, db.dialect().Limited(kSummaryPage, most, first),
                 CursorType::kStatic, ReadTitledTable);
  });
}

VariantArray Login::GetPersonPage(const Variant& person_id, int32_t first,
                                  int32_t most) {
  return Guarded([&] {
    RequireId(person_id, "personID", "person whose records are wanted");
    RequirePage(first, most, kMostPageRows);
    // The newest first; records of the same second by their number, the
    // newest first too, so that pages neither repeat nor skip one.
    Statement s;
    s.Text("SELECT * from hr_login where personID=")
        .Bare(person_id, "personID")
        .Text(" order by loginTime desc, LoginID desc");
    Connection& db = conn();
    return Query(db, db.dialect().Limited(s.Finish(), most, first),
                 CursorType::kForwardOnly, [](Recordset& rs) {
                   return rs.Eof() ? ReadNamesRow(rs) : rs.GetRows();
                 });
  });
}

Variant Login::GetMonthLoginPage(const Variant& date, int32_t first,
                                 int32_t most) {
  return Guarded([&] {
    RequirePage(first, most, kMostPagePeople);
    const auto [year, month] = MonthOf(date);
    Connection& db = conn();
    return Variant::Array(
        Query(db, db.dialect().MonthLoginPage(year, month, most, first),
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

VariantArray Login::GetDayCounts() {
  return Guarded([&] {
    Connection& db = conn();
    return ReadCounts(db, db.dialect().LoginsPerDay(kCountedDays), kCountedDays,
                      "day");
  });
}

VariantArray Login::GetHourCounts() {
  return Guarded([&] {
    Connection& db = conn();
    return ReadCounts(db, db.dialect().LoginsPerHour(), 24, "hour");
  });
}

void Login::LoginMain() {
  Guarded([&] {
    held_back_seconds_ = 0;
    refused_foreign_ = false;
    device_cookie_.clear();
    if (request().ServerVariable("REQUEST_METHOD") != "POST") {
      session().Abandon();
      return;
    }
    if (ComesFromAnotherSite()) {
      refused_foreign_ = true;
      return;
    }
    const std::string typed_name = request().Item("LoginName");
    RequireSignInText(typed_name, "The account name", kMaxAccountLength);
    RequireSignInText(request().Item("LoginPwd"), "The password",
                      kMaxPasswordLength);
    const std::string name = GetRequestValue("LoginName");
    const std::string password = GetRequestValue("LoginPwd");

    const bool ok = CheckLogin(name, password);

    // The remembered name fills the sign-in form next time, so it is the
    // name as typed (blanks cut); doubled, it would no longer sign in.
    // Cookies are set only once the attempt is recorded.
    Response& answer = response();
    answer.SetCookieExpires("pname", Date{Date::Now().serial + 30});
    answer.SetCookie("pname", TrimSpaces(typed_name));

    if (!ok) {
      std::string alert(kScriptOpen);
      if (held_back_seconds_ > 0) {
        const int minutes = (held_back_seconds_ + 59) / 60;
        alert += std::string(kHeldBackAlertHead) + std::to_string(minutes) +
                 std::string(kHeldBackAlertTail);
      } else {
        alert += kFailureAlert;
      }
      answer.Write(alert);
      return;
    }

    const int64_t token = DrawToken();
    session().Set("rnd", Variant::Double(static_cast<double>(token)));
    const std::string address =
        std::string(kMainWindow) + std::to_string(token);
    answer.SetCookie("name", name);
    // This browser is remembered for the account (see held_back_seconds).
    answer.SetCookieExpires(kDeviceCookie,
                            Date{Date::Now().serial + kDeviceCookieDays});
    answer.SetCookie(kDeviceCookie, device_cookie_);

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

bool Login::ComesFromAnotherSite() const {
  const Request& req = request();
  const std::string fetch_site = req.ServerVariable("HTTP_SEC_FETCH_SITE");
  if (!fetch_site.empty()) {
    return !EqualsIgnoreCase(fetch_site, "same-origin") &&
           !EqualsIgnoreCase(fetch_site, "none");
  }
  const std::string origin = req.ServerVariable("HTTP_ORIGIN");
  if (origin.empty()) return false;  // scripts and older browsers
  const size_t scheme_end = origin.find("://");
  if (scheme_end == std::string::npos) return true;  // "null" among others
  const std::string host = req.ServerVariable("HTTP_HOST");
  return host.empty() ||
         !EqualsIgnoreCase(std::string_view(origin).substr(scheme_end + 3),
                           host);
}

int Login::HeldBack(const std::string& account, const std::string& address) {
  const SignInLimits limits = CurrentSignInPolicy().limits;
  Connection& db = conn();
  const std::optional<std::string> device =
      request().Lookup(Request::Collection::kCookies, kDeviceCookie);
  const bool known_browser =
      device && DeviceKnowsAccount(*device, UndoubleQuotes(account));

  // Each limit with the records it counts: the address as the host
  // reports it, the account as recorded (its quotes doubled here).
  Statement pair, from_address, anywhere;
  pair.Text("LoginAccount='")
      .Text(account)
      .Text("' AND LoginIP='")
      .Quoted(Variant::String(address))
      .Text("'");
  from_address.Text("LoginIP='").Quoted(Variant::String(address)).Text("'");
  anywhere.Text("LoginAccount='").Text(account).Text("'");
  // A browser that signed in to the account before has shown it is no
  // stranger's: no limit holds it back for that account.
  if (known_browser) return 0;
  const std::pair<const SignInLimit*, const Statement*> checks[] = {
      {&limits.account_from_address, &pair},
      {&limits.address, &from_address},
      {&limits.account, &anywhere},
  };
  int wait = 0;
  for (const auto& [limit, condition] : checks) {
    if (limit->attempts <= 0) continue;
    const std::string statement =
        db.dialect().SignInWait(condition->Finish(), limit->attempts,
                                static_cast<int>(limit->window.count()));
    Masked(statement, [&] {
      std::unique_ptr<Recordset> rs =
          db.Open(statement, CursorType::kForwardOnly);
      if (!rs->Eof()) {
        const int64_t seconds = rs->Value(0).ToLong();
        wait = std::max<int64_t>(wait,
                                 std::clamp<int64_t>(seconds, 1, 86400 * 31));
      }
      rs->Close();
    });
  }
  return wait;
}

bool Login::CheckLogin(const std::string& account,
                       const std::string& password) {
  Connection& db = conn();
  const Request& req = request();
  Session& visitor = session();
  const PasswordCost cost = CurrentSignInPolicy().cost;

  // Everything joined into a statement is checked before the first one
  // leaves, so bad input never reaches the database half way. The client
  // descriptions are kept to their limits.
  const std::string screen(
      CutUtf8(TrimSpaces(WithoutQuotes(req.Item("Screen"))), kMaxScreenLength));
  const std::string address = req.ServerVariable("REMOTE_ADDR");
  const std::string browser(CutUtf8(
      WithoutQuotes(req.ServerVariable("HTTP_USER_AGENT")), kMaxBrowserLength));
  RequireJoinable(account, "The account name");
  RequireJoinable(password, "The password");
  RequireSignInText(account, "The account name", kMaxAccountLength * 2);
  RequireSignInText(password, "The password", kMaxPasswordLength * 2);
  RequireSignInText(screen, "The screen description", kMaxScreenLength);
  RequireSignInText(browser, "The browser description", kMaxBrowserLength);
  RequireSignInText(address, "The client address", 256);
  const std::string typed = UndoubleQuotes(password);

  held_back_seconds_ = HeldBack(account, address);

  // The account's people; the password is verified here, not by the
  // database, and exactly one verified person is a match.
  std::vector<Candidate> matches;
  if (held_back_seconds_ == 0) {
    Statement person;
    person.Text("Select * from HR_person where personAccount='")
        .Text(account)
        .Text("'");
    const std::string statement = person.Finish();
    std::vector<Candidate> candidates;
    Masked(statement, [&] {
      std::unique_ptr<Recordset> rs = db.Open(statement, CursorType::kStatic);
      while (!rs->Eof()) {
        candidates.push_back({rs->Value("PersonID"), rs->Value("PersonName"),
                              rs->Value("DeptID"), rs->Value("PersonJobCode"),
                              rs->Value("personPwd").ToText()});
        rs->MoveNext();
      }
      rs->Close();
    });
    if (candidates.empty()) {
      password::Verify(password::DummyHash(cost), typed);
    }
    for (Candidate& c : candidates) {
      if (password::Verify(c.stored, typed)) matches.push_back(std::move(c));
    }
  }
  const bool ok = matches.size() == 1;

  Variant names, ids;
  if (ok) {
    const Variant& person_id = matches.front().person_id;
    if (!person_id.is_numeric() && !IsNumberText(person_id.ToText())) {
      Raise(ErrorCode::kDatabase, "The matched person's PersonID " +
                                      person_id.Debug() + " is no number");
    }
    RoleValues roles = ReadRoleValues(db, person_id);
    names = std::move(roles.names);
    ids = std::move(roles.ids);
  }

  Statement insert;
  insert.Text(db.dialect().LoginInsertHead())
      .Text(
          "personID,LoginAccount,LoginPwd,LoginOK,LoginIP,LoginMemo,"
          "LoginScreen) values(");
  if (ok) {
    insert.Bare(matches.front().person_id, "PersonID");
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
  const std::string record = insert.Finish();
  Masked(record, [&] { db.Execute(record); });

  // The record is written: only now does the session learn who this is.
  if (!ok) {
    visitor.Set("PersonID", Variant::String(""));
    return false;
  }
  const Candidate& who = matches.front();
  visitor.Set("PersonID", who.person_id);
  visitor.Set("PersonName", who.person_name);
  visitor.Set("DeptID", who.dept_id);
  visitor.Set("jobid", who.job_code);
  visitor.Set("Role", names);
  visitor.Set("RoleID", ids);
  device_cookie_ = RememberAccount(
      req.Lookup(Request::Collection::kCookies, kDeviceCookie).value_or(""),
      UndoubleQuotes(account));

  if (password::NeedsRehash(who.stored, cost)) {
    Rehash(db, who, typed, cost);
  }
  return true;
}

}  // namespace wrenhaven
