// The sign-in page: what LoginMain sends to the database, writes into the
// session and answers on the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

std::vector<Variant> Ann() {
  return {Variant::Long(7),          Variant::String("ann"),
          Variant::String("secret"), Variant::String("Ann Carter"),
          Variant::Long(1),          Variant::String("GM")};
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
  EXPECT_EQ(s.conn->sent[0],
            "Select * from HR_person where personAccount='ann' and "
            "personPwd='secret'");
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
       "personAccount='o''brien' and personPwd='it''s'",
       "'o''brien','******',0,'10.0.0.8',' Moz x ','800600')", "o'brien"},
      {"nothing but the method", nullptr, "personAccount='' and personPwd=''",
       "'','******',0,'','','')", ""},
      {"an address with a quote",
       [](MemoryRequest& r) {
         r.Set(Collection::kServerVariables, "REMOTE_ADDR", "1.2.3.4','x");
       },
       "personAccount='ann' and personPwd='secret'",
       "'ann','******',0,'1.2.3.4'',''x','Mozilla/4.0 (compatible)',"
       "'1024*768')",
       "ann"},
      {"query-string items before form fields",
       [](MemoryRequest& r) {
         r.Set(Collection::kQueryString, "LoginName", "ben");
         r.Set(Collection::kQueryString, "LoginPwd", "b");
       },
       "personAccount='ben' and personPwd='b'",
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

TEST(SignInTest, APostWithoutConnectionFailsAfterSettingPname) {
  auto ctx = Post("ann", "secret");
  Login login;
  login.OnStartPage(ctx);
  EXPECT_THROW(login.LoginMain(), Error);
  EXPECT_NE(login.GetError().find("No database connection"), std::string::npos);
  EXPECT_EQ(ctx->response_obj->cookie("pname")->value, "ann");
  EXPECT_TRUE(ctx->session_obj->values().empty());
}

TEST(SignInTest, AFailedInsertLeavesTheSessionFilledAndNoToken) {
  SignIn s(Post("ann", "secret"));
  // A connection that fails the insert only.
  struct FailingInsert : RecordingConnection {
    void Execute(std::string_view statement) override {
      sent.emplace_back(statement);
      Raise(ErrorCode::kDatabase, "disk full");
    }
  };
  auto conn = std::make_shared<FailingInsert>();
  conn->Queue(PersonRows({Ann()}));
  s.login.SetConn(conn);
  EXPECT_THROW(s.login.LoginMain(), Error);
  EXPECT_EQ(s.login.GetError(), "disk full");
  EXPECT_EQ(s.session().Get("PersonID"), Variant::Long(7));
  EXPECT_EQ(s.session().Get("rnd"), Variant());
  EXPECT_EQ(s.response().written(), "");
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
  EXPECT_EQ(ctx->response_obj->cookie("pname")->value, "ann");
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
