// The sign-in page: what LoginMain sends to the database, writes into the
// session and answers on the page.
#include "wrenhaven/sign_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "login/password.h"
#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

using Collection = Request::Collection;

constexpr char kWorkedInsert[] =
    "Insert  HR_Login(personID,LoginAccount,LoginPwd,LoginOK,LoginIP,"
    "LoginMemo,LoginScreen) values(7,'ann','******',1,'10.0.0.8','Mozilla/4.0 "
    "(compatible)','1024*768')";

constexpr char kFailureScript[] =
    "<script language='javascript'>\r\n   alert(\"登陆失败!\")</script>\r\n";

// A sign-in form post from 10.0.0.8.
std::shared_ptr<MemoryContext> Post(const std::string& name,
                                    const std::string& pwd) {
  auto ctx = std::make_shared<MemoryContext>();
  MemoryRequest& req = *ctx->request_obj;
  req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
  req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
  req.Set(Collection::kServerVariables, "HTTP_USER_AGENT",
          "Mozilla/4.0 (compatible)");
  req.Set(Collection::kForm, "LoginName", name);
  req.Set(Collection::kForm, "LoginPwd", pwd);
  req.Set(Collection::kForm, "Screen", "1024*768");
  return ctx;
}

RecordingConnection::Result PersonRows(
    const std::vector<std::vector<Variant>>& rows) {
  return {{"PersonID", "personAccount", "personPwd", "PersonName", "DeptID",
           "PersonJobCode"},
          rows};
}

// The stored form of "secret" at the cost the tests run with.
const std::string& SecretHash() {
  static const std::string hash =
      HashPassword("secret", PasswordCost::ForTests());
  return hash;
}

std::vector<Variant> Ann(const std::string& stored = SecretHash()) {
  return {Variant::Long(7),        Variant::String("ann"),
          Variant::String(stored), Variant::String("Ann Carter"),
          Variant::Long(1),        Variant::String("GM")};
}

// The policy of these tests: the cheapest hash, and no limits unless a
// test sets them (their statements would come first otherwise).
void UsePolicy(SignInLimits limits = SignInLimits::Off()) {
  SignInPolicy policy = CurrentSignInPolicy();
  policy.cost = PasswordCost::ForTests();
  policy.limits = limits;
  SetSignInPolicy(policy);
}

RecordingConnection::Result RoleRows(
    const std::vector<std::pair<int32_t, std::string>>& roles) {
  RecordingConnection::Result r{{"RoleID", "RoleName", "PersonID"}, {}};
  for (const auto& [id, name] : roles) {
    r.rows.push_back(
        {Variant::Long(id), Variant::String(name), Variant::Long(7)});
  }
  return r;
}

struct SignIn {
  std::shared_ptr<MemoryContext> ctx;
  std::shared_ptr<RecordingConnection> conn =
      std::make_shared<RecordingConnection>();
  Login login;

  explicit SignIn(std::shared_ptr<MemoryContext> c) : ctx(std::move(c)) {
    UsePolicy();
    login.OnStartPage(ctx);
    login.SetConn(conn);
  }
  const MemoryResponse& response() const { return *ctx->response_obj; }
  const MemorySession& session() const { return *ctx->session_obj; }
};

std::vector<std::string> Keys(const MemorySession& s) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : s.values()) keys.push_back(k);
  return keys;
}

// ---- The credential check ------------------------------------------------

TEST(SignInTest, MatchSendsTheWorkedExampleAndFillsTheSession) {
  SignIn s(Post("ann", "secret"));
  s.conn->Queue(PersonRows({Ann()}));
  s.conn->Queue(RoleRows({{2, "Clerk"}, {5, "Manager"}}));
  s.login.LoginMain();

  ASSERT_EQ(s.conn->sent.size(), 3u);
  // The password is verified here, never sent.
  EXPECT_EQ(s.conn->sent[0],
            "Select * from HR_person where personAccount='ann'");
  EXPECT_EQ(s.conn->sent[1],
            "Select SYS_PersonRole.RoleID,RoleName,PersonID from "
            "SYS_PersonRole,SYS_Role where SYS_PersonRole.RoleID="
            "SYS_Role.RoleID and PersonID=7 order by SYS_PersonRole.RoleID");
  EXPECT_EQ(s.conn->sent[2], kWorkedInsert);
  EXPECT_EQ(s.conn->cursors, (std::vector<CursorType>{CursorType::kStatic,
                                                      CursorType::kStatic}));
  // The session is filled in contract order.
  EXPECT_EQ(Keys(s.session()),
            (std::vector<std::string>{"PersonID", "PersonName", "DeptID",
                                      "jobid", "Role", "RoleID", "rnd"}));
  const MemorySession& session = s.session();
  EXPECT_EQ(session.Get("PersonID"), Variant::Long(7));
  EXPECT_EQ(session.Get("PersonName"), Variant::String("Ann Carter"));
  EXPECT_EQ(session.Get("DeptID"), Variant::Long(1));
  EXPECT_EQ(session.Get("jobid"), Variant::String("GM"));
  EXPECT_EQ(session.Get("Role"), Variant::String("Clerk,Manager"));
  EXPECT_EQ(session.Get("RoleID"), Variant::String("2,5"));
}

TEST(SignInTest, RoleListsForOneRoleNoRoleAndAnUnnamedRole) {
  // One role: the values themselves, the identifier still a number. No
  // role: both written, as Empty. A role without a name keeps its place, so
  // the lists stay parallel.
  const struct {
    std::vector<std::pair<int, std::string>> roles;
    Variant role_id, role;
  } cases[] = {
      {{{11, "Clerk"}}, Variant::Long(11), Variant::String("Clerk")},
      {{}, Variant(), Variant()},
      {{{2, ""}, {5, "Manager"}, {9, "Clerk"}},
       Variant::String("2,5,9"),
       Variant::String(",Manager,Clerk")},
  };
  for (const auto& c : cases) {
    SignIn s(Post("ann", "secret"));
    s.conn->Queue(PersonRows({Ann()}));
    if (!c.roles.empty()) s.conn->Queue(RoleRows(c.roles));
    s.login.LoginMain();
    EXPECT_EQ(s.session().Get("RoleID"), c.role_id) << c.role_id.Debug();
    EXPECT_EQ(s.session().Get("Role"), c.role) << c.role_id.Debug();
    EXPECT_EQ(Keys(s.session()).size(), 7u);
  }
}

TEST(SignInTest, NoMatchOrTwoMatchesClearOnlyPersonIdAndRecordTheFailure) {
  for (size_t matches : {0u, 2u}) {
    SCOPED_TRACE(matches);
    SignIn s(Post("ann", "secret"));
    s.ctx->session_obj->Set("PersonName", Variant::String("Earlier"));
    s.ctx->session_obj->Set("RoleID", Variant::String("1,2"));
    std::vector<std::vector<Variant>> rows(matches, Ann());
    s.conn->Queue(PersonRows(rows));
    s.login.LoginMain();

    ASSERT_EQ(s.conn->sent.size(), 2u);  // no role query
    EXPECT_EQ(s.conn->sent[1],
              "Insert  HR_Login(personID,LoginAccount,LoginPwd,LoginOK,"
              "LoginIP,LoginMemo,LoginScreen) values(NULL,'ann','******',0,"
              "'10.0.0.8','Mozilla/4.0 (compatible)','1024*768')");
    EXPECT_EQ(s.session().Get("PersonID"), Variant::String(""));
    EXPECT_EQ(s.session().Get("PersonName"), Variant::String("Earlier"));
    EXPECT_EQ(s.session().Get("RoleID"), Variant::String("1,2"));
    EXPECT_EQ(s.session().Get("rnd"), Variant());
  }
}

// What the statements take from the request: the typed values with their
// quotes doubled and blanks cut, the client details with their quotes
// removed, and the remembered name as typed.
TEST(SignInTest, TheRequestsValuesAsTheStatementsAndCookieTakeThem) {
  const std::string insert =
      "Insert  HR_Login(personID,LoginAccount,LoginPwd,LoginOK,LoginIP,"
      "LoginMemo,LoginScreen) values(NULL,";
  const struct {
    const char* what;
    std::function<void(MemoryRequest&)> request;  // nullptr: none but POST
    std::string person, record, pname;
  } cases[] = {
      {"quotes and blanks",
       [](MemoryRequest& r) {
         r.Set(Collection::kForm, "LoginName", "  o'brien ");
         r.Set(Collection::kForm, "LoginPwd", " it's ");
         r.Set(Collection::kForm, "Screen", "  800'600 ");
         r.Set(Collection::kServerVariables, "HTTP_USER_AGENT", " Moz 'x' ");
       },
       "personAccount='o''brien'",
       "'o''brien','******',0,'10.0.0.8',' Moz x ','800600')", "o'brien"},
      {"nothing but the method", nullptr, "personAccount=''",
       "'','******',0,'','','')", ""},
      {"an address with a quote",
       [](MemoryRequest& r) {
         r.Set(Collection::kServerVariables, "REMOTE_ADDR", "1.2.3.4','x");
       },
       "personAccount='ann'",
       "'ann','******',0,'1.2.3.4'',''x','Mozilla/4.0 (compatible)',"
       "'1024*768')",
       "ann"},
      {"query-string items before form fields",
       [](MemoryRequest& r) {
         r.Set(Collection::kQueryString, "LoginName", "ben");
         r.Set(Collection::kQueryString, "LoginPwd", "b");
       },
       "personAccount='ben'",
       "'ben','******',0,'10.0.0.8','Mozilla/4.0 (compatible)','1024*768')",
       "ben"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto ctx = Post("ann", "secret");
    if (c.request) {
      c.request(*ctx->request_obj);
    } else {  // every item absent
      ctx = std::make_shared<MemoryContext>();
      ctx->request_obj->Set(Collection::kServerVariables, "REQUEST_METHOD",
                            "POST");
    }
    SignIn s(ctx);
    s.login.LoginMain();
    EXPECT_EQ(s.conn->sent, (std::vector<std::string>{
                                "Select * from HR_person where " + c.person,
                                insert + c.record}));
    EXPECT_EQ(s.response().cookie("pname")->value, c.pname);
  }
}

TEST(SignInTest, ANulCharacterIsRefusedBeforeAnyStatement) {
  for (const char* item : {"LoginName", "LoginPwd", "Screen"}) {
    SCOPED_TRACE(item);
    auto ctx = Post("ann", "x");
    ctx->request_obj->Set(Collection::kForm, item, std::string("a\0b", 3));
    SignIn s(ctx);
    EXPECT_THROW(s.login.LoginMain(), Error);
    EXPECT_TRUE(s.conn->sent.empty());
    EXPECT_NE(s.login.GetError().find("NUL"), std::string::npos);
  }
}

// ---- The page's answer ---------------------------------------------------

// A match writes the window script and ends the response, a failure the
// alert and lets the page go on; both remember the name for 30 days.
TEST(SignInTest, TheAnswerToAMatchAndToAFailure) {
  for (bool match : {true, false}) {
    SCOPED_TRACE(match);
    SignIn s(Post(" ann ", "secret"));
    if (match) s.conn->Queue(PersonRows({Ann()}));
    const double before = Date::Now().serial;
    s.login.LoginMain();

    const MemoryResponse& response = s.response();
    const MemoryResponse::Cookie* pname = response.cookie("pname");
    ASSERT_NE(pname, nullptr);
    EXPECT_EQ(pname->value, "ann");
    ASSERT_TRUE(pname->expires.has_value());
    EXPECT_GE(pname->expires->serial, before + 30 - 1.0 / 86400);
    EXPECT_LE(pname->expires->serial, Date::Now().serial + 30);
    EXPECT_EQ(response.ended(), match);
    EXPECT_FALSE(response.redirect().has_value());
    if (!match) {
      EXPECT_EQ(response.written(), kFailureScript);
      EXPECT_EQ(response.cookie("name"), nullptr);
      continue;
    }
    const Variant rnd = s.session().Get("rnd");
    ASSERT_EQ(rnd.kind(), Kind::kDouble);
    EXPECT_EQ(response.written(),
              "<script language='javascript'>\r\n"
              "var tesselWin=window.open('MyOffice/?" +
                  rnd.ToText() +
                  "','tessel','toolbars=no,statusbar=1');\r\n"
                  "tesselWin.moveTo(0,0);\r\n"
                  "tesselWin.resizeTo(screen.width,screen.height-30);\r\n"
                  "tesselWin.focus();\r\n"
                  "</script>\r\n");
    ASSERT_NE(response.cookie("name"), nullptr);
    EXPECT_EQ(response.cookie("name")->value, "ann");
    EXPECT_FALSE(response.cookie("name")->expires.has_value());
  }
}

TEST(SignInTest, OldwinRedirectsInsteadOfWritingTheScript) {
  const struct {
    const char* oldwin;
    bool redirects;
  } cases[] = {{"TRUE", true}, {" true ", true}, {"-1", true},    {"", false},
               {"0", false},   {"yes", false},   {"tru'e", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.oldwin);
    auto ctx = Post("ann", "secret");
    ctx->request_obj->Set(Collection::kForm, "oldwin", c.oldwin);
    SignIn s(ctx);
    s.conn->Queue(PersonRows({Ann()}));
    s.login.LoginMain();
    EXPECT_EQ(s.response().cookie("name")->value, "ann");
    if (!c.redirects) {
      EXPECT_FALSE(s.response().redirect().has_value());
      EXPECT_NE(s.response().written().find("window.open("), std::string::npos);
      continue;
    }
    ASSERT_TRUE(s.response().redirect().has_value());
    EXPECT_EQ(*s.response().redirect(),
              "MyOffice/?" + s.session().Get("rnd").ToText());
    EXPECT_EQ(s.response().written(), "");
  }
}

TEST(SignInTest, EachSuccessDrawsAFreshTokenInRangeWrittenAsDigits) {
  auto ctx = Post("ann", "secret");
  std::vector<std::string> tokens;
  for (int i = 0; i < 20; ++i) {
    SignIn s(ctx);
    s.conn->Queue(PersonRows({Ann()}));
    s.login.LoginMain();
    const Variant rnd = ctx->session_obj->Get("rnd");
    ASSERT_EQ(rnd.kind(), Kind::kDouble);
    EXPECT_GE(rnd.double_value(), 0);
    EXPECT_LT(rnd.double_value(), 1e15);
    EXPECT_EQ(rnd.double_value(),
              static_cast<double>(static_cast<int64_t>(rnd.double_value())));
    const std::string written = ctx->response_obj->written();
    const size_t at = written.find("MyOffice/?") + 10;
    const std::string token = written.substr(at, written.find('\'', at) - at);
    EXPECT_EQ(token, std::to_string(static_cast<int64_t>(rnd.double_value())));
    tokens.push_back(token);
    ctx->response_obj = std::make_shared<MemoryResponse>();
  }
  std::sort(tokens.begin(), tokens.end());
  EXPECT_EQ(std::unique(tokens.begin(), tokens.end()), tokens.end());
}

TEST(SignInTest, APlainVisitAbandonsTheSessionAndWritesNothing) {
  for (const char* method : {"GET", "post", "HEAD", ""}) {
    SCOPED_TRACE(method);
    auto ctx = Post("ann", "secret");
    ctx->request_obj->Set(Collection::kServerVariables, "REQUEST_METHOD",
                          method);
    Login login;  // no connection needed
    login.OnStartPage(ctx);
    login.LoginMain();
    EXPECT_TRUE(ctx->session_obj->abandoned());
    EXPECT_EQ(ctx->response_obj->written(), "");
    EXPECT_TRUE(ctx->response_obj->cookies().empty());
    EXPECT_FALSE(ctx->response_obj->ended());
  }
}

// ---- Failures --------------------------------------------------------------

TEST(SignInTest, WithoutOnStartPageTheRequestIsMissing) {
  Login login;
  login.SetConn(std::make_shared<RecordingConnection>());
  EXPECT_THROW(login.LoginMain(), Error);
  EXPECT_EQ(login.GetError(),
            "No request object: the page did not call OnStartPage");
}

TEST(SignInTest, APostWithoutConnectionFailsAndSetsNothing) {
  UsePolicy();
  auto ctx = Post("ann", "secret");
  Login login;
  login.OnStartPage(ctx);
  EXPECT_THROW(login.LoginMain(), Error);
  EXPECT_NE(login.GetError().find("No database connection"), std::string::npos);
  EXPECT_TRUE(ctx->response_obj->cookies().empty());
  EXPECT_TRUE(ctx->session_obj->values().empty());
}

// A sign-in is whole or did not happen: the record is written before the
// session learns anything, and a failure of any statement leaves neither
// identity nor cookie. The failure's message masks the statement's
// literals.
TEST(SignInTest, AFailingStatementLeavesNoIdentityNoCookieAndNoLiterals) {
  struct FailingConnection : RecordingConnection {
    size_t fail_at = 0;  // the index in `sent` that fails
    void Execute(std::string_view statement) override {
      RecordingConnection::Execute(statement);
      MaybeFail(statement);
    }
    std::unique_ptr<Recordset> Open(std::string_view statement,
                                    CursorType cursor) override {
      auto rs = RecordingConnection::Open(statement, cursor);
      MaybeFail(statement);
      return rs;
    }
    void MaybeFail(std::string_view statement) {
      if (sent.size() - 1 == fail_at) {
        Raise(ErrorCode::kDatabase,
              "disk full [statement: " + std::string(statement) + "]");
      }
    }
  };
  // 0: the person, 1: the roles, 2: the record.
  for (size_t fail_at : {0u, 1u, 2u}) {
    SCOPED_TRACE(fail_at);
    SignIn s(Post("ann", "secret"));
    s.ctx->session_obj->Set("PersonID", Variant::String(""));
    auto conn = std::make_shared<FailingConnection>();
    conn->fail_at = fail_at;
    conn->Queue(PersonRows({Ann()}));
    conn->Queue(RoleRows({{2, "Clerk"}}));
    s.login.SetConn(conn);
    EXPECT_THROW(s.login.LoginMain(), Error);
    EXPECT_EQ(Keys(s.session()), std::vector<std::string>{"PersonID"});
    EXPECT_EQ(s.session().Get("PersonID"), Variant::String(""));
    EXPECT_TRUE(s.response().cookies().empty());
    EXPECT_EQ(s.response().written(), "");
    const std::string error = s.login.GetError();
    EXPECT_NE(error.find("disk full"), std::string::npos);
    if (fail_at != 1) {  // the role statement holds no literal
      EXPECT_EQ(error.find("'ann'"), std::string::npos) << error;
      EXPECT_NE(error.find("'...'"), std::string::npos) << error;
    }
  }
}

// ---- Passwords -------------------------------------------------------------

// Every attempt costs one verification, whatever it finds: an unknown
// account is checked against a dummy hash.
TEST(SignInTest, EachKindOfAttemptCostsOneVerification) {
  const struct {
    const char* what;
    const char* password;
    std::vector<std::vector<Variant>> people;
    bool ok;
  } cases[] = {
      {"the right password", "secret", {Ann()}, true},
      {"a wrong password", "secreT", {Ann()}, false},
      {"an empty password", "", {Ann()}, false},
      {"an unknown account", "secret", {}, false},
      {"a wrong plain-text password", "secreT", {Ann("secret")}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SignIn s(Post("ann", c.password));
    s.conn->Queue(PersonRows(c.people));
    const uint64_t before = password::VerificationCount();
    s.login.LoginMain();
    EXPECT_EQ(password::VerificationCount() - before, 1u);
    EXPECT_EQ(s.response().ended(), c.ok);
  }
}

// A password stored before hashing still signs in, and is then replaced
// by its hash, guarded by the old value; what the sign-in answers and
// records does not change.
TEST(SignInTest, APlainTextPasswordSignsInAndIsReplacedByItsHash) {
  SignIn s(Post("o'brien", "it's"));
  s.conn->Queue(PersonRows({Ann("it's")}));
  s.login.LoginMain();
  ASSERT_TRUE(s.response().ended());
  ASSERT_EQ(s.conn->sent.size(), 4u);
  EXPECT_EQ(s.conn->sent[2],
            "Insert  HR_Login(personID,LoginAccount,LoginPwd,LoginOK,LoginIP,"
            "LoginMemo,LoginScreen) values(7,'o''brien','******',1,"
            "'10.0.0.8','Mozilla/4.0 (compatible)','1024*768')");
  const std::string& update = s.conn->sent[3];
  const std::string head = "Update HR_person set personPwd='$argon2id$";
  ASSERT_EQ(update.compare(0, head.size(), head), 0) << update;
  const std::string tail = "' where PersonID=7 and personPwd='it''s'";
  ASSERT_GT(update.size(), tail.size());
  EXPECT_EQ(update.substr(update.size() - tail.size()), tail);
  const std::string hash = update.substr(
      head.size() - 10, update.size() - tail.size() - (head.size() - 10));
  EXPECT_TRUE(password::Verify(hash, "it's"));
  EXPECT_FALSE(password::NeedsRehash(hash, PasswordCost::ForTests()));
}

TEST(SignInTest, AHashOfAnotherCostIsReplacedAndAFailedReplacementIsNoFailure) {
  struct FailingUpdate : RecordingConnection {
    void Execute(std::string_view statement) override {
      RecordingConnection::Execute(statement);
      if (statement.starts_with("Update")) {
        Raise(ErrorCode::kDatabase, "database is locked");
      }
    }
  };
  const std::string stronger = HashPassword("secret", {2, size_t{64} << 10});
  SignIn s(Post("ann", "secret"));
  auto conn = std::make_shared<FailingUpdate>();
  conn->Queue(PersonRows({Ann(stronger)}));
  s.login.SetConn(conn);
  s.login.LoginMain();
  EXPECT_TRUE(s.response().ended());
  EXPECT_EQ(s.session().Get("PersonID"), Variant::Long(7));
  ASSERT_EQ(conn->sent.size(), 4u);
  EXPECT_TRUE(conn->sent[3].starts_with("Update HR_person set personPwd="));
  EXPECT_EQ(s.login.GetError(), "");
}

// Verification runs on the verifier threads; when as many are waiting as
// the queue holds, the next is refused at once as unavailable instead of
// waiting (a page host answers 503).
TEST(SignInTest, AFullVerifierQueueRefusesAtOnce) {
  SignInPolicy policy = CurrentSignInPolicy();
  const SignInPolicy saved = policy;
  policy.verifier_threads = 1;
  policy.verifier_queue = 1;
  SetSignInPolicy(policy);
  const std::string slow = HashPassword("slow", {2, size_t{32} << 20});
  std::atomic<int> refused{0}, done{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 6; ++i) {
    callers.emplace_back([&] {
      try {
        EXPECT_FALSE(password::Verify(slow, "wrong"));
        ++done;
      } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::kUnavailable);
        ++refused;
      }
    });
  }
  for (std::thread& t : callers) t.join();
  SetSignInPolicy(saved);
  EXPECT_GE(refused.load(), 1);
  EXPECT_GE(done.load(), 1);
  EXPECT_EQ(refused + done, 6);
}

// Refused before any statement, with a message that names the field and
// never shows the value.
TEST(SignInTest, TextThatIsTooLongOrNotUtf8IsRefusedBeforeAnyStatement) {
  const struct {
    const char* item;
    std::string value;
    const char* message;
  } cases[] = {
      {"LoginName", std::string(65, 'a'), "The account name is longer than 64"},
      {"LoginName", "ann\xff", "The account name is not UTF-8"},
      {"LoginPwd", std::string(257, 'p'), "The password is longer than 256"},
      {"LoginPwd", "se\xc0\xafret", "The password is not UTF-8"},
      {"Screen", "1024\xe2\x82", "The screen description is not UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto ctx = Post("ann", "secret");
    ctx->request_obj->Set(Collection::kForm, c.item, c.value);
    SignIn s(ctx);
    EXPECT_THROW(s.login.LoginMain(), Error);
    EXPECT_TRUE(s.conn->sent.empty());
    EXPECT_NE(s.login.GetError().find(c.message), std::string::npos)
        << s.login.GetError();
    EXPECT_EQ(s.login.GetError().find(c.value), std::string::npos);
  }
  // Limits are characters, not bytes: 64 two-byte characters are fine,
  // and a long screen description is recorded cut to 64.
  auto ctx = Post("x", "secret");
  std::string wide;
  for (int i = 0; i < 64; ++i) wide += "\xc3\xa9";
  ctx->request_obj->Set(Collection::kForm, "LoginName", wide);
  ctx->request_obj->Set(Collection::kForm, "Screen", std::string(100, '9'));
  SignIn s(ctx);
  s.login.LoginMain();
  ASSERT_EQ(s.conn->sent.size(), 2u);
  EXPECT_NE(s.conn->sent[1].find("'" + std::string(64, '9') + "')"),
            std::string::npos);
}

// ---- Guessing held back ----------------------------------------------------

// The limits are asked in order (account from address, address, account),
// each a statement of the dialect; the first that answers a wait holds the
// attempt back: nothing is verified, the failure is recorded, and the
// page learns the wait.
TEST(SignInTest, AHeldBackAttemptVerifiesNothingAndIsRecordedAsAFailure) {
  SignInLimits limits;
  limits.account_from_address = {5, std::chrono::minutes(15)};
  limits.address = {50, std::chrono::minutes(15)};
  limits.account = {20, std::chrono::minutes(15)};
  const TsqlDialect tsql;
  const std::string pair =
      tsql.SignInWait("LoginAccount='o''b' AND LoginIP='10.0.0.8'", 5, 900);
  const std::string address = tsql.SignInWait("LoginIP='10.0.0.8'", 50, 900);
  const std::string account = tsql.SignInWait("LoginAccount='o''b'", 20, 900);

  SignIn s(Post("o'b", "secret"));
  UsePolicy(limits);
  s.conn->Queue({{"wait"}, {}});                      // pair: not reached
  s.conn->Queue({{"wait"}, {{Variant::Long(130)}}});  // address: reached
  s.conn->Queue({{"wait"}, {{Variant::Long(40)}}});   // account: sooner
  const uint64_t before = password::VerificationCount();
  s.login.LoginMain();

  EXPECT_EQ(password::VerificationCount(), before);
  EXPECT_EQ(s.login.held_back_seconds(), 130);
  EXPECT_EQ(s.conn->sent,
            (std::vector<std::string>{
                pair, address, account,
                "Insert  HR_Login(personID,LoginAccount,LoginPwd,LoginOK,"
                "LoginIP,LoginMemo,LoginScreen) values(NULL,'o''b','******',0,"
                "'10.0.0.8','Mozilla/4.0 (compatible)','1024*768')"}));
  EXPECT_EQ(s.session().Get("PersonID"), Variant::String(""));
  EXPECT_EQ(s.response().written(),
            "<script language='javascript'>\r\n"
            "   alert(\"登陆失败! 请在3分钟后再试。\")</script>\r\n");
  EXPECT_FALSE(s.response().ended());
}

// A browser that signed in to the account before carries a signed cookie
// that spares it the limits for that account; a forged one does not.
TEST(SignInTest, ABrowserThatSignedInBeforeIsSparedTheLimits) {
  const SignInLimits limits;  // all three on
  SignIn first(Post("ann", "secret"));
  UsePolicy(limits);
  for (int i = 0; i < 3; ++i) first.conn->Queue({{"wait"}, {}});
  first.conn->Queue(PersonRows({Ann()}));
  first.login.LoginMain();
  ASSERT_TRUE(first.response().ended());
  const std::string cookie = first.login.device_cookie();
  ASSERT_EQ(cookie.size(), 32u);

  const struct {
    const char* what;
    std::string cookie;
    size_t statements;  // the limits' three statements skipped or not
  } cases[] = {
      {"the cookie of this account", cookie, 2},
      {"a cookie of several accounts",
       "00112233445566778899aabbccddeeff." + cookie, 2},
      {"a forged cookie", std::string(32, 'a'), 5},
      {"no cookie", "", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto ctx = Post("ann", "wrong");
    if (!c.cookie.empty()) {
      ctx->request_obj->Set(Collection::kCookies,
                            std::string(Login::kDeviceCookie), c.cookie);
    }
    SignIn s(ctx);
    UsePolicy(limits);
    s.login.LoginMain();
    EXPECT_EQ(s.conn->sent.size(), c.statements);
  }
}

// A post that the browser says comes from another site is not looked at;
// scripts that send neither header still sign in.
TEST(SignInTest, APostFromAnotherSiteChecksAndWritesNothing) {
  const struct {
    const char* fetch_site;
    const char* origin;
    bool refused;
  } cases[] = {
      {"", "", false},
      {"same-origin", "", false},
      {"none", "", false},
      {"cross-site", "", true},
      {"same-site", "", true},
      {"", "http://office.example:8080", false},
      {"", "https://evil.example", true},
      {"", "null", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fetch_site) + " " + c.origin);
    auto ctx = Post("ann", "secret");
    MemoryRequest& r = *ctx->request_obj;
    r.Set(Collection::kServerVariables, "HTTP_HOST", "office.example:8080");
    if (*c.fetch_site) {
      r.Set(Collection::kServerVariables, "HTTP_SEC_FETCH_SITE", c.fetch_site);
    }
    if (*c.origin) r.Set(Collection::kServerVariables, "HTTP_ORIGIN", c.origin);
    SignIn s(ctx);
    s.conn->Queue(PersonRows({Ann()}));
    s.login.LoginMain();
    EXPECT_EQ(s.login.refused_foreign(), c.refused);
    EXPECT_EQ(s.conn->sent.empty(), c.refused);
    EXPECT_EQ(s.response().cookies().empty(), c.refused);
    EXPECT_EQ(s.response().ended(), !c.refused);
  }
}

// ---- The class on the page
// ---------------------------------------------------

TEST(LoginClassTest, OnStartPageNamesTheMissingObjectAndKeepsTheEarlierOnes) {
  auto ctx = Post("ann", "secret");
  ctx->session_obj = nullptr;
  auto conn = std::make_shared<RecordingConnection>();
  Login login;
  login.SetConn(conn);
  EXPECT_THROW(login.OnStartPage(ctx), Error);
  EXPECT_EQ(login.GetError(), "The scripting context has no session object");
  // The request and response were taken before the failure; the session
  // was not, and the check needs it before it sends anything.
  EXPECT_THROW(login.LoginMain(), Error);
  EXPECT_EQ(login.GetError(),
            "No session object: the page did not call OnStartPage");
  EXPECT_TRUE(ctx->response_obj->cookies().empty());
  EXPECT_TRUE(conn->sent.empty());
}

TEST(LoginClassTest, TheStubsDoNothingWithOrWithoutAConnection) {
  Login login;
  EXPECT_THROW(login.GetAllData(), Error);
  EXPECT_FALSE(login.UpdateLogin());
  EXPECT_EQ(login.GetError(), "");  // a call that succeeds clears the error
  auto conn = std::make_shared<RecordingConnection>();
  login.SetConn(conn);
  std::vector<Variant> none;
  EXPECT_EQ(login.InvokeSlot(5, none), Variant::Boolean(false));
  EXPECT_EQ(login.InvokeSlot(6, none), Variant::String(""));
  EXPECT_TRUE(conn->sent.empty());
}

}  // namespace
}  // namespace wrenhaven
