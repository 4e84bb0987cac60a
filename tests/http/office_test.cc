// The office system over HTTP on a real demo database: signing in and out,
// the session cookie, the login records, the menus each person sees, and
// how values from the request come back in the pages.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "host/content_policy.h"
#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "web/office_pages.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::testing {
namespace {

constexpr char kSession[] = "WRENHAVEN_SESSION";
constexpr char kFailureScript[] =
    "<script language='javascript'>\r\n   alert(\"登陆失败!\")</script>\r\n";

// The policy of every page but a sign-in that wrote an answer script, and
// that policy with the script's hash source.
constexpr char kPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'self'";
std::string PolicyWithScript(const std::string& source) {
  return "default-src 'self'; script-src 'self' " + source +
         "; style-src 'self'; img-src 'self' data:; object-src 'none'; "
         "base-uri 'none'; form-action 'self'; frame-ancestors 'self'";
}

// New connections to the test's database, as the host's pool wants them.
ConnectionFactory Connections(const TestDb& db, std::atomic<int>* made) {
  ConnectionFactory make = db.Connections();
  return [make, made] {
    ++*made;
    return make();
  };
}

std::string SignInForm(const std::string& name, const std::string& pwd,
                       bool oldwin = true) {
  std::vector<std::pair<std::string, std::string>> items = {
      {"LoginName", name}, {"LoginPwd", pwd}, {"Screen", "1280*800"}};
  if (oldwin) items.push_back({"oldwin", "true"});
  return Form(items);
}

// The captions of the top menu, in order.
std::vector<std::string> TopCaptions(const std::string& page) {
  std::vector<std::string> out;
  const size_t nav = page.find("<nav class=\"topmenu\"");
  const size_t end = page.find("</nav>", nav);
  static const std::regex caption("<span>([^<]*)</span></a>");
  const std::string part = page.substr(nav, end - nav);
  for (std::sregex_iterator it(part.begin(), part.end(), caption), last;
       it != last; ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

std::vector<std::string> LeftLinks(const std::string& page) {
  std::vector<std::string> out;
  static const std::regex link("<li class=\"level(\\d)\"><a href=\"([^\"]*)\"");
  for (std::sregex_iterator it(page.begin(), page.end(), link), last;
       it != last; ++it) {
    out.push_back((*it)[1].str() + " " + (*it)[2].str());
  }
  return out;
}

class OfficeTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::warn);
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
    host_ = Start({});
  }
  void TearDown() override {
    host_.reset();
    spdlog::set_level(spdlog::level::info);
  }

  std::unique_ptr<TestHost> Start(
      HttpHostOptions options, std::unique_ptr<SessionStore> store = nullptr) {
    options.log_requests = false;
    return std::make_unique<TestHost>(options, Connections(*db_, &made_),
                                      web::AddOfficePages, std::move(store));
  }

  // Signs a person in (the form's default: this window) and returns the
  // main window's address.
  std::string SignIn(Browser& b, const std::string& name,
                     const std::string& pwd) {
    const Reply r = b.Post("/", SignInForm(name, pwd));
    EXPECT_EQ(r.status, 302) << r.body;
    return r.Header("Location");
  }

  int64_t Count(const std::string& where) {
    return db_->Scalar("SELECT COUNT(*) FROM HR_Login WHERE " + where).ToLong();
  }

  int port() const { return host_->port(); }

  std::atomic<int> made_{0};
  std::unique_ptr<TestDb> db_;
  std::unique_ptr<TestHost> host_;
};

TEST_P(OfficeTest, PlainVisitShowsTheFormWithTheRememberedName) {
  Browser b(port());
  b.SetCookie("pname", "o''hara");
  const Reply r = b.Get("/");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Cache-Control"), "no-store");
  EXPECT_NE(r.body.find("<form id=\"signin\" method=\"post\" action=\"/\""),
            std::string::npos);
  EXPECT_NE(r.body.find("name=\"LoginName\" value=\"o&apos;&apos;hara\""),
            std::string::npos)
      << r.body;
  EXPECT_NE(r.body.find("name=\"oldwin\" type=\"checkbox\" value=\"true\" "
                        "checked"),
            std::string::npos);
  EXPECT_NE(r.body.find("name=\"Screen\" type=\"hidden\""), std::string::npos);
  EXPECT_EQ(Count("1=1"), 0);
}

TEST_P(OfficeTest, AnAccountWithAQuoteIsRememberedAsTypedAndSignsInAgain) {
  db_->Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, PersonName, "
      "DeptID, PersonJobCode) VALUES (90,'o''hara','pw','Kit O''Hara',1,'X')");
  Browser b(port());
  const Reply first = b.Post("/", SignInForm(" o'hara ", "pw"));
  EXPECT_EQ(first.status, 302) << first.body;
  EXPECT_EQ(b.Cookie("pname"), "o'hara");
  EXPECT_EQ(first.SetCookie("name"), "name=o''hara; Path=/; SameSite=Lax");
  // The next visit fills the form with the remembered name, which signs in.
  const Reply form = b.Get("/");
  EXPECT_NE(form.body.find("name=\"LoginName\" value=\"o&apos;hara\""),
            std::string::npos)
      << form.body;
  EXPECT_EQ(b.Post("/", SignInForm("o'hara", "pw")).status, 302);
  EXPECT_EQ(Count("LoginAccount='o''hara' AND LoginOK=1 AND personID=90"), 2);
}

TEST_P(OfficeTest, WrongPasswordShowsTheFailureAndRecordsOneAttempt) {
  Browser b(port());
  const Reply r =
      b.Post("/", SignInForm("ann", "wrong"), {{"User-Agent", "Tester/1.0"}});
  EXPECT_EQ(r.status, 200);
  // The failure script, then the page goes on with the form again.
  const size_t script = r.body.find(kFailureScript);
  ASSERT_NE(script, std::string::npos) << r.body;
  EXPECT_LT(script, r.body.find("<form id=\"signin\""));
  EXPECT_NE(r.body.find("id=\"failed\""), std::string::npos);
  EXPECT_NE(r.body.find("name=\"LoginName\" value=\"ann\""), std::string::npos);
  EXPECT_EQ(r.SetCookie("pname").rfind("pname=ann; Path=/; Expires=", 0), 0u)
      << r.SetCookie("pname");
  EXPECT_EQ(r.SetCookie("name"), "");
  // The failure script runs by its hash, the browser's text of it being
  // "\n   alert(...)" (printf ... | openssl dgst -sha256 -binary | base64).
  EXPECT_EQ(r.All("Content-Security-Policy"),
            std::vector<std::string>{PolicyWithScript(
                "'sha256-5iEg5cQXEAV7cd+uQjQ07bl4R5BlLx7V5dBfNgsCANY='")});
  EXPECT_EQ(Count("1=1"), 1);
  EXPECT_EQ(Count("LoginAccount='ann' AND LoginOK=0 AND personID IS NULL AND "
                  "LoginIP='127.0.0.1' AND "
                  "LoginMemo='Tester/1.0' AND LoginScreen='1280*800'"),
            1);
  // Not signed in.
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
}

// Only the answer script of the sign-in is allowed, by its hash: not the
// page's other script elements, not what the visitor typed; pages without
// an answer script have the plain policy.
TEST_P(OfficeTest, OnlyTheSignInAnswerScriptIsAllowedByItsHash) {
  Browser b(port());
  const Reply form = b.Get("/");
  EXPECT_EQ(form.status, 200);
  EXPECT_NE(form.body.find("<script src=\""), std::string::npos);
  EXPECT_EQ(form.All("Content-Security-Policy"),
            std::vector<std::string>{kPolicy});

  const Reply typed =
      b.Post("/", SignInForm("</script><script>alert(1)</script>", "wrong"));
  EXPECT_EQ(typed.status, 200);
  EXPECT_NE(typed.body.find(kFailureScript), std::string::npos);
  EXPECT_EQ(typed.body.find("<script>alert(1)"), std::string::npos);
  EXPECT_EQ(typed.All("Content-Security-Policy"),
            std::vector<std::string>{PolicyWithScript(
                "'sha256-5iEg5cQXEAV7cd+uQjQ07bl4R5BlLx7V5dBfNgsCANY='")});

  SignIn(b, "ann", "ann123");
  for (const char* path : {"/MyOffice/", "/MyOffice/home"}) {
    const Reply page = b.Get(path);
    EXPECT_EQ(page.status, 200) << path;
    EXPECT_EQ(page.All("Content-Security-Policy"),
              std::vector<std::string>{kPolicy})
        << path;
  }
}

TEST_P(OfficeTest, RightPasswordOpensTheMainWindow) {
  Browser b(port());
  const Reply r = b.Post("/", SignInForm("ann", "ann123"));
  EXPECT_EQ(r.status, 302);
  EXPECT_TRUE(std::regex_match(
      r.Header("Location"),
      std::regex("MyOffice/\\?[1-9][0-9]{0,14}|MyOffice/\\?0")))
      << r.Header("Location");
  EXPECT_EQ(r.SetCookie("name"), "name=ann; Path=/; SameSite=Lax");
  EXPECT_EQ(Count("LoginAccount='ann' AND LoginPwd='******' AND LoginOK=1 AND "
                  "personID=1"),
            1);
  const Reply office = b.Get("/" + r.Header("Location"));
  EXPECT_EQ(office.status, 200);
  EXPECT_NE(office.body.find("<span class=\"person\" id=\"person\">Ann "
                             "Carter</span><span class=\"dept\" "
                             "id=\"dept\">Management</span>"),
            std::string::npos)
      << office.body;
  EXPECT_NE(office.body.find("<a class=\"signout\" id=\"signout\" href=\"/\""),
            std::string::npos);
  EXPECT_EQ(
      TopCaptions(office.body),
      (std::vector<std::string>{"办公", "财务", "项目", "销售", "系统管理"}));
  EXPECT_EQ(LeftLinks(office.body),
            (std::vector<std::string>{"1 /apps/mail", "1 /apps/calendar",
                                      "1 /apps/documents", "1 /apps/notices"}));
  EXPECT_NE(office.body.find("<iframe name=\"content\" id=\"content\" "
                             "src=\"/MyOffice/home\""),
            std::string::npos);
}

TEST_P(OfficeTest, ANewSignInInTheSameBrowserShowsTheNewPerson) {
  Browser b(port());
  SignIn(b, "ann", "ann123");
  EXPECT_NE(b.Get("/MyOffice/").body.find("id=\"dept\">Management</span>"),
            std::string::npos);
  SignIn(b, "ben", "ben123");
  const Reply ben = b.Get("/MyOffice/");
  EXPECT_NE(ben.body.find("id=\"person\">Ben Ortiz</span><span class=\"dept\" "
                          "id=\"dept\">Finance</span>"),
            std::string::npos)
      << ben.body;
}

TEST_P(OfficeTest, WithoutTheSwitchTheWindowScriptEndsThePage) {
  Browser b(port());
  const Reply r = b.Post("/", SignInForm("ben", "ben123", /*oldwin=*/false));
  EXPECT_EQ(r.status, 200);
  static const std::regex script(
      "<script language='javascript'>("
      "\r\n"
      "var tesselWin=window\\.open\\('MyOffice/\\?[0-9]+','tessel','toolbars="
      "no,statusbar=1'\\);\r\n"
      "tesselWin\\.moveTo\\(0,0\\);\r\n"
      "tesselWin\\.resizeTo\\(screen\\.width,screen\\.height-30\\);\r\n"
      "tesselWin\\.focus\\(\\);\r\n"
      ")</script>\r\n$");
  std::smatch window;
  ASSERT_TRUE(std::regex_search(r.body, window, script)) << r.body;
  // Allowed by the hash of its text as the browser reads it: each CR LF
  // a LF.
  const std::string text =
      std::regex_replace(window.str(1), std::regex("\r\n"), "\n");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(r.All("Content-Security-Policy"),
            std::vector<std::string>{PolicyWithScript(host::HashSource(text))});
  EXPECT_EQ(r.body.find("<form"), std::string::npos);
  EXPECT_NE(r.body.find("id=\"opened\""), std::string::npos);
  EXPECT_EQ(b.Get("/MyOffice/").status, 200);
}

TEST_P(OfficeTest, SessionCookieIsReplacedAtSignIn) {
  Browser b(port());
  const Reply ok = b.Post("/", SignInForm("ann", "ann123"));
  const std::string first = b.Cookie(kSession);
  ASSERT_EQ(first.size(), 64u);
  EXPECT_EQ(ok.SetCookie(kSession), std::string(kSession) + "=" + first +
                                        "; Path=/; HttpOnly; SameSite=Lax");
  // Signing in again moves the session to a fresh identifier.
  const Reply again = b.Post("/", SignInForm("ben", "ben123"));
  const std::string second = b.Cookie(kSession);
  EXPECT_NE(second, first);
  EXPECT_EQ(again.SetCookie(kSession), std::string(kSession) + "=" + second +
                                           "; Path=/; HttpOnly; SameSite=Lax");
  EXPECT_EQ(b.Get("/MyOffice/").status, 200);
  Browser stale(port());
  stale.SetCookie(kSession, first);
  EXPECT_EQ(stale.Get("/MyOffice/").Header("Location"), "/");
}

// A store that counts what it holds.
class CountingStore : public SessionStore {
 public:
  std::optional<Entry> Load(const std::string& id) override {
    return inner_->Load(id);
  }
  void Save(const std::string& id, Entry entry) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.insert(id);
    inner_->Save(id, std::move(entry));
  }
  void Remove(const std::string& id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.erase(id);
    inner_->Remove(id);
  }
  size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ids_.size();
  }

 private:
  std::unique_ptr<SessionStore> inner_ = MakeMemorySessionStore({});
  mutable std::mutex mutex_;
  std::set<std::string> ids_;
};

TEST_P(OfficeTest, FailedSignInsFromNewVisitorsStoreNoSession) {
  auto store = std::make_unique<CountingStore>();
  const CountingStore& sessions = *store;
  auto host = Start({}, std::move(store));
  // Four: a fifth failure from this address would hold the account back.
  for (int i = 0; i < 4; ++i) {
    Browser b(host->port());
    const Reply r = b.Post("/", SignInForm("ann", "wrong"));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find(kFailureScript), std::string::npos);
    EXPECT_EQ(r.SetCookie(kSession), "");
    // The page's own cookie still goes out.
    EXPECT_NE(r.SetCookie("pname"), "");
  }
  EXPECT_EQ(sessions.count(), 0u);
  EXPECT_EQ(Count("LoginOK=0"), 4);

  Browser b(host->port());
  const Reply ok = b.Post("/", SignInForm("ann", "ann123"));
  EXPECT_EQ(ok.status, 302);
  EXPECT_EQ(b.Cookie(kSession).size(), 64u);
  EXPECT_EQ(sessions.count(), 1u);
  // A signed-in visitor who then fails keeps a session as before.
  EXPECT_EQ(b.Post("/", SignInForm("ann", "wrong")).status, 200);
  EXPECT_EQ(sessions.count(), 1u);
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
}

TEST_P(OfficeTest, PlainVisitSignsOut) {
  Browser b(port());
  SignIn(b, "cho", "cho123");
  const std::string id = b.Cookie(kSession);
  EXPECT_EQ(b.Get("/MyOffice/").status, 200);
  const Reply visit = b.Get("/");
  EXPECT_EQ(visit.status, 200);
  EXPECT_NE(visit.SetCookie(kSession).find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
  Browser replay(port());
  replay.SetCookie(kSession, id);
  EXPECT_EQ(replay.Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(replay.Get("/apps/mail").Header("Location"), "/");
}

TEST_P(OfficeTest, QueryStringItemBeatsTheFormField) {
  Browser b(port());
  const Reply r = b.Post("/?LoginPwd=ann123", SignInForm("ann", "wrong"));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(Count("LoginOK=1 AND LoginAccount='ann'"), 1);
  Browser c(port());
  const Reply r2 = c.Post("/?LoginName=nobody", SignInForm("ann", "ann123"));
  EXPECT_EQ(r2.status, 200);
  EXPECT_EQ(Count("LoginOK=0 AND LoginAccount='nobody'"), 1);
}

// A feature page below /apps/ opens for those whose roles are granted a
// menu entry that leads to it; anyone else, a person without roles too,
// gets 403 and the page says why.
TEST_P(OfficeTest, FeaturePagesOpenOnlyForTheRolesGrantedThem) {
  const struct {
    const char* who;
    const char* path;
    int status;
  } cases[] = {
      {"ben", "/apps/mail", 200},     {"ben", "/apps/expenses", 200},
      {"ben", "/apps/projects", 403}, {"cho", "/apps/projects", 200},
      {"cho", "/apps/orders", 403},   {"hal", "/apps/mail", 403},
      {"ann", "/apps/orders", 200},   {"ann", "/apps/nothing", 403},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.who) + " " + c.path);
    Browser b(port());
    SignIn(b, c.who, std::string(c.who) + "123");
    const Reply r = b.Get(c.path);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body.find("您的角色无权使用此功能。") != std::string::npos,
              c.status == 403);
  }
  // Signed out: the sign-in page, as before.
  Browser stranger(port());
  EXPECT_EQ(stranger.Get("/apps/mail").Header("Location"), "/");
}

TEST_P(OfficeTest, PeopleWithDifferentRolesSeeDifferentMenus) {
  for (const auto& [who, second] :
       {std::pair<std::string, std::string>{"ben", "财务"},
        {"cho", "项目"},
        {"eva", "销售"}}) {
    Browser b(port());
    SignIn(b, who, who + "123");
    EXPECT_EQ(TopCaptions(b.Get("/MyOffice/").body),
              (std::vector<std::string>{"办公", second}))
        << who;
  }

  Browser hal(port());
  SignIn(hal, "hal", "hal123");
  const Reply none = hal.Get("/MyOffice/");
  EXPECT_EQ(none.status, 200);
  EXPECT_TRUE(TopCaptions(none.body).empty());
  EXPECT_NE(none.body.find("id=\"no-menu\">您的角色没有可用的菜单。"),
            std::string::npos);
}

TEST_P(OfficeTest, ChosenTopEntryGivesItsLeftMenu) {
  Browser b(port());
  SignIn(b, "ben", "ben123");
  const Reply finance = b.Get("/MyOffice/?top=6");
  EXPECT_EQ(LeftLinks(finance.body),
            (std::vector<std::string>{"1 /apps/expenses"}));
  EXPECT_NE(finance.body.find("data-menu=\"6\" class=\"active\""),
            std::string::npos);
  // A menu the roles do not allow is not chosen: the first one is.
  const Reply sales = b.Get("/MyOffice/?top=12");
  EXPECT_NE(sales.body.find("data-menu=\"1\" class=\"active\""),
            std::string::npos);
  EXPECT_EQ(sales.body.find("/apps/customers"), std::string::npos);
}

TEST_P(OfficeTest, EnglishCaptionsForAnEnglishBrowser) {
  Browser b(port());
  SignIn(b, "dev", "dev123");
  const httplib::Headers english = {{"Accept-Language", "en-US,en;q=0.9"}};
  const Reply r = b.Get("/MyOffice/", english);
  EXPECT_EQ(TopCaptions(r.body),
            (std::vector<std::string>{"Office", "Finance", "Projects"}));
  EXPECT_NE(r.body.find("title=\"Everyday office work\""), std::string::npos);
  EXPECT_NE(r.body.find("<span>Mail</span>"), std::string::npos);
  EXPECT_NE(r.body.find(">Sign out</a>"), std::string::npos);
  EXPECT_NE(r.body.find("<html lang=\"en\">"), std::string::npos);
  const Reply chinese =
      b.Get("/MyOffice/", {{"Accept-Language", "zh-CN,zh;q=0.9,en;q=0.8"}});
  EXPECT_EQ(TopCaptions(chinese.body),
            (std::vector<std::string>{"办公", "财务", "项目"}));
}

TEST_P(OfficeTest, UserAgentIsShownEscapedWhereverItAppears) {
  const std::string agent = "<script>alert(\"ua\")</script> & <b>";
  Browser b(port());
  b.Post("/", SignInForm("ann", "ann123"), {{"User-Agent", agent}});
  EXPECT_EQ(Count("LoginOK=1 AND LoginMemo='" + agent + "'"), 1);
  const Reply home = b.Get("/MyOffice/home", {{"User-Agent", agent}});
  EXPECT_EQ(home.status, 200);
  EXPECT_NE(home.body.find("<td class=\"browser\">&lt;script&gt;alert(&quot;ua&"
                           "quot;)&lt;/script&gt; &amp; &lt;b&gt;</td>"),
            std::string::npos)
      << home.body;
  // The sign-in page last: a plain visit signs out.
  for (const char* path :
       {"/MyOffice/", "/MyOffice/home", "/apps/mail", "/admin/roles", "/"}) {
    const Reply r = b.Get(path, {{"User-Agent", agent}});
    EXPECT_EQ(r.body.find("<script>alert"), std::string::npos) << path;
    EXPECT_EQ(r.body.find("<b>"), std::string::npos) << path;
  }
}

TEST_P(OfficeTest, TypedNameWithLineBreaksNeverSplitsTheResponse) {
  const std::string body =
      SignInForm("ann\r\nSet-Cookie: evil=1\r\n\r\n<h1>x</h1>", "pw");
  const std::string raw =
      RawExchange(port(),
                  "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\n"
                  "Content-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body);
  bool pname = false;
  for (const std::string& line : HeaderLines(raw)) {
    EXPECT_NE(line.rfind("Set-Cookie: evil", 0), 0u) << raw;
    if (line.rfind("Set-Cookie: pname=", 0) == 0) {
      pname = true;
      EXPECT_EQ(line.rfind("Set-Cookie: pname=ann!0D!0ASet-Cookie:!20evil=1!0D!"
                           "0A!0D!0A<h1>x</h1>; Path=/; Expires=",
                           0),
                0u)
          << line;
    }
  }
  EXPECT_TRUE(pname) << raw;
  // In the page the typed name is text, not markup.
  const std::string page = raw.substr(raw.find("\r\n\r\n"));
  EXPECT_EQ(page.find("<h1>x</h1>"), std::string::npos);
  EXPECT_NE(
      page.find(
          "value=\"ann\r\nSet-Cookie: evil=1\r\n\r\n&lt;h1&gt;x&lt;/h1&gt;\""),
      std::string::npos)
      << page;
}

TEST_P(OfficeTest, FunctionPagesAreForSignedInVisitors) {
  Browser b(port());
  EXPECT_EQ(b.Get("/apps/mail").Header("Location"), "/");
  EXPECT_EQ(b.Get("/MyOffice/home").Header("Location"), "/");
  EXPECT_EQ(b.Get("/MyOffice").Header("Location"), "/MyOffice/");
  SignIn(b, "eva", "eva123");
  const Reply mail = b.Get("/apps/mail");
  EXPECT_EQ(mail.status, 200);
  EXPECT_NE(mail.body.find("<h1>Mail</h1>"), std::string::npos);
  EXPECT_NE(mail.body.find("<code>/apps/mail</code>"), std::string::npos);
}

TEST_P(OfficeTest, ClientAddressComesFromTrustedProxiesOnly) {
  HttpHostOptions behind_proxy;
  behind_proxy.trusted_proxies = {"127.0.0.1"};
  auto proxied = Start(behind_proxy);
  Browser p(proxied->port());
  p.Post("/", SignInForm("ann", "ann123"),
         {{"X-Forwarded-For", "203.0.113.5, 198.51.100.7"}});
  EXPECT_EQ(Count("LoginIP='198.51.100.7'"), 1);
  Browser direct(port());
  direct.Post("/", SignInForm("ann", "ann123"),
              {{"X-Forwarded-For", "198.51.100.9"}});
  EXPECT_EQ(Count("LoginIP='198.51.100.9'"), 0);
  EXPECT_EQ(Count("LoginIP='127.0.0.1'"), 1);
}

TEST_P(OfficeTest, IdleSessionsAreSignedOut) {
  std::atomic<int> minutes{0};
  auto store = MakeMemorySessionStore(
      {std::chrono::minutes(20), std::chrono::hours(8)}, [&minutes] {
        return SessionClock::time_point(std::chrono::hours(1000)) +
               std::chrono::minutes(minutes.load());
      });
  auto host = Start({}, std::move(store));
  Browser b(host->port());
  SignIn(b, "ann", "ann123");
  minutes = 15;
  EXPECT_EQ(b.Get("/MyOffice/").status, 200);
  minutes = 36;
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
}

TEST_P(OfficeTest, ADatabaseFailureGivesTheErrorPage) {
  Browser b(port());
  SignIn(b, "ann", "ann123");
  db_->Exec("DROP TABLE SYS_right");
  const Reply r = b.Get("/MyOffice/");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("The page could not be shown"), std::string::npos);
  // The statement stays in the log.
  EXPECT_EQ(r.body.find("SYS_right"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("Reference: "), std::string::npos) << r.body;
  EXPECT_EQ(r.body.find("class=\"topbar\""), std::string::npos);
}

TEST_P(OfficeTest, ConnectionsComeFromThePool) {
  for (int i = 0; i < 10; ++i) {
    Browser b(port());
    SignIn(b, "ben", "ben123");
    b.Get("/MyOffice/");
  }
  // One page at a time: the pool hands the same connection round.
  EXPECT_LE(made_.load(), 2);
}

TEST_P(OfficeTest, ConcurrentSignInsAllSucceed) {
  std::atomic<int> ok{0};
  std::mutex mutex;
  std::vector<std::string> errors;
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        try {
          Browser b(port());
          if (b.Post("/", SignInForm("gia", "gia123")).status == 302) ++ok;
        } catch (const std::exception& e) {
          std::lock_guard<std::mutex> lock(mutex);
          errors.push_back(e.what());
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors, std::vector<std::string>{});
  EXPECT_EQ(ok.load(), 80);
  EXPECT_EQ(Count("LoginOK=1 AND LoginAccount='gia'"), ok.load());
}

INSTANTIATE_TEST_SUITE_P(Databases, OfficeTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
