// The page host over HTTP with pages of the test's own: the request's
// combined lookup and server variables, the buffered response, sessions,
// the page hooks, static files and the error page.
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "frame/binding.h"
#include "tests/http/http_support.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven::testing {
namespace {

using Collection = Request::Collection;

// Records the page hooks of its instances.
std::mutex g_mutex;
std::vector<std::string> g_events;

void Event(const std::string& e) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_events.push_back(e);
}

class Probe : public Component {
 public:
  static const ClassInfo& Info() {
    static const ClassInfo info{
        "Test.Probe",
        "_Probe",
        {Method("OnStartPage", &Probe::OnStartPage, {ByRef("sc")}),
         Method("OnEndPage", &Probe::OnEndPage)},
        [] { return std::make_shared<Probe>(); }};
    return info;
  }
  const ClassInfo& class_info() const override { return Info(); }

  Variant OnStartPage(std::shared_ptr<ScriptingContext> sc) {
    tag_ = sc->request()->Item("tag") + std::to_string(++count_);
    Event("start " + tag_);
    sc_ = std::move(sc);
    return Variant();
  }
  Variant OnEndPage() {
    Event("end " + tag_ + (sc_ ? " bound" : " unbound"));
    sc_.reset();
    return Variant();
  }

 private:
  static inline std::atomic<int> count_{0};
  std::string tag_;
  std::shared_ptr<ScriptingContext> sc_;
};

const bool kProbeRegistered = RegisterClass(Probe::Info());

class HostPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kProbeRegistered);
    char pattern[] = "/tmp/wrenhaven-http-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    top_ = pattern;
    std::filesystem::create_directories(top_ / "static" / "css");
    std::ofstream(top_ / "static" / "css" / "site.css") << "body{color:red}";
    std::ofstream(top_ / "secret.txt") << "TOP-SECRET";
    log_ = std::make_shared<std::ostringstream>();
    previous_ = spdlog::default_logger();
    spdlog::set_default_logger(std::make_shared<spdlog::logger>(
        "test", std::make_shared<spdlog::sinks::ostream_sink_mt>(*log_)));

    HttpHostOptions options;
    options.static_dir = (top_ / "static").string();
    options.trusted_proxies = {"127.0.0.1"};
    host_ = std::make_unique<TestHost>(options, nullptr,
                                       [](HttpHost& host) { AddPages(host); });
  }
  void TearDown() override {
    host_.reset();
    spdlog::set_default_logger(previous_);
    std::filesystem::remove_all(top_);
  }

  static void AddPages(HttpHost& host) {
    // Writes "name=value" for each name of the query item "show".
    host.AddPage("/echo", [](HttpPage& page) {
      std::string names =
          page.request().Lookup(Collection::kQueryString, "show").value_or("");
      std::stringstream list(names);
      std::string name;
      while (std::getline(list, name, ',')) {
        page.response().Write(name + "=" + page.request().Item(name) + "\n");
      }
    });
    host.AddPage("/var", [](HttpPage& page) {
      page.response().Write(page.request().ServerVariable(
          page.request()
              .Lookup(Collection::kQueryString, "name")
              .value_or("")));
    });
    host.AddPage("/fail", [](HttpPage& page) {
      page.response().Write("half a page");
      Raise(ErrorCode::kDatabase, "<b>broken</b> & \"gone\"");
    });
    host.AddPage("/throw",
                 [](HttpPage&) { throw std::runtime_error("plain failure"); });
    host.AddPage("/go", [](HttpPage& page) {
      page.response().Write("dropped by the redirect");
      page.response().Redirect(page.request().Item("to"));
    });
    host.AddPage("/cookie", [](HttpPage& page) {
      page.response().SetCookie(page.request().Item("name"),
                                page.request().Item("value"));
    });
    host.AddPage("/end", [](HttpPage& page) {
      page.response().Write("before");
      page.response().End();
      page.response().Write("after");
    });
    host.AddPage("/type", [](HttpPage& page) {
      page.response().SetContentType(page.request().Item("type"));
      page.response().Write("typed");
    });
    host.AddPage("/session/set", [](HttpPage& page) {
      page.session().Set("who", Variant::String(page.request().Item("who")));
    });
    host.AddPage("/session/get", [](HttpPage& page) {
      page.response().Write(page.session().Get("who").ToText());
    });
    host.AddPage("/session/renew",
                 [](HttpPage& page) { page.session().RenewId(); });
    host.AddPage("/session/abandon", [](HttpPage& page) {
      page.session().Abandon();
      page.response().Write("still " + page.session().Get("who").ToText());
    });
    host.AddPage("/probe", [](HttpPage& page) {
      page.CreateObject("Test.Probe");
      page.CreateObject("Test.Probe");
      Event("page");
      if (page.request().Item("fail") == "1") {
        Raise(ErrorCode::kHost, "page failed");
      }
    });
    host.AddPage("/db", [](HttpPage& page) { page.connection(); });
    host.AddPages("/area/", [](HttpPage& page) {
      page.response().Write("area " + page.request().path());
    });
    host.AddPages("/area/inner/", [](HttpPage& page) {
      page.response().Write("inner " + page.request().path());
    });
  }

  int port() const { return host_->port(); }

  std::filesystem::path top_;
  std::shared_ptr<std::ostringstream> log_;
  std::shared_ptr<spdlog::logger> previous_;
  std::unique_ptr<TestHost> host_;
};

TEST_F(HostPagesTest, CombinedLookupQueryFormCookiesServerVariables) {
  Browser b(port());
  b.SetCookie("x", "from-cookie");
  b.SetCookie("c", "cookie-only");
  const Reply r = b.Post(
      "/echo?show=x,c,f,REQUEST_METHOD,missing,dup&x=from-query&dup=1&dup=2",
      Form({{"x", "from-form"}, {"f", "form-only"}, {"REQUEST_METHOD", "x"}}));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body,
            "x=from-query\nc=cookie-only\nf=form-only\nREQUEST_METHOD=x\n"
            "missing=\ndup=1, 2\n");
  // Names ignore letter case; the form beats the cookie.
  b.SetCookie("f", "from-cookie");
  EXPECT_EQ(b.Post("/echo?show=F,C", Form({{"f", "form"}})).body,
            "F=form\nC=cookie-only\n");
  EXPECT_EQ(b.Get("/echo?show=REQUEST_METHOD").body, "REQUEST_METHOD=GET\n");
}

TEST_F(HostPagesTest, ServerVariables) {
  Browser b(port());
  const auto var = [&](const std::string& name,
                       const httplib::Headers& headers = {}) {
    return b.Get("/var?name=" + name, headers).body;
  };
  EXPECT_EQ(var("REMOTE_ADDR"), "127.0.0.1");
  EXPECT_EQ(var("QUERY_STRING"), "name=QUERY_STRING");
  EXPECT_EQ(var("PATH_INFO"), "/var");
  EXPECT_EQ(var("SERVER_PORT"), std::to_string(port()));
  EXPECT_EQ(var("HTTPS"), "off");
  EXPECT_EQ(var("HTTP_USER_AGENT", {{"User-Agent", "Probe/1.0"}}), "Probe/1.0");
  EXPECT_EQ(var("HTTP_X_CUSTOM_THING", {{"X-Custom-Thing", "yes"}}), "yes");
  // The test trusts 127.0.0.1 as a proxy: the client is who it forwarded.
  EXPECT_EQ(var("REMOTE_ADDR", {{"X-Forwarded-For", "1.2.3.4, 198.51.100.7"}}),
            "198.51.100.7");
  EXPECT_EQ(var("HTTPS", {{"X-Forwarded-Proto", "https"}}), "on");
}

TEST_F(HostPagesTest, UntrustedPeersForwardNothing) {
  TestHost plain({}, nullptr, [](HttpHost& host) { AddPages(host); });
  Browser b(plain.port());
  EXPECT_EQ(
      b.Get("/var?name=REMOTE_ADDR", {{"X-Forwarded-For", "198.51.100.7"}})
          .body,
      "127.0.0.1");
  const Reply r = b.Get("/session/set?who=x", {{"X-Forwarded-Proto", "https"}});
  EXPECT_EQ(r.SetCookie("WRENHAVEN_SESSION").find("Secure"), std::string::npos);
}

TEST_F(HostPagesTest, FailedPageGivesTheErrorPageAndIsLogged) {
  Browser b(port());
  const Reply r = b.Get("/fail?token=1");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(r.body.find("&lt;b&gt;broken&lt;/b&gt; &amp; &quot;gone&quot;"),
            std::string::npos)
      << r.body;
  EXPECT_EQ(r.body.find("<b>broken"), std::string::npos);
  EXPECT_EQ(r.body.find("half a page"), std::string::npos);
  EXPECT_NE(log_->str().find("127.0.0.1 \"GET /fail\" failed: <b>broken</b>"),
            std::string::npos)
      << log_->str();

  const Reply plain = b.Get("/throw");
  EXPECT_EQ(plain.status, 500);
  EXPECT_NE(plain.body.find("plain failure"), std::string::npos);
  // A page without a database asking for a connection fails the same way.
  const Reply db = b.Get("/db");
  EXPECT_EQ(db.status, 500);
  EXPECT_NE(db.body.find("This host has no database"), std::string::npos);
}

TEST_F(HostPagesTest, OneLogLinePerRequest) {
  TestHost logged({}, nullptr, [](HttpHost& host) { AddPages(host); });
  Browser b(logged.port());
  b.Get("/session/get");
  b.Get("/nowhere");
  // Control characters in a path cannot forge a line of their own.
  RawExchange(logged.port(),
              "GET /a%0Afake HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string log = log_->str();
  EXPECT_NE(log.find("127.0.0.1 \"GET /session/get\" 200 0 "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("127.0.0.1 \"GET /nowhere\" 404 "), std::string::npos);
  EXPECT_NE(log.find("\"GET /a\\x0Afake\" 404"), std::string::npos) << log;
}

TEST_F(HostPagesTest, RedirectDropsOutputAndCannotSplitTheResponse) {
  Browser b(port());
  const Reply r = b.Get("/go?to=MyOffice/%3F123");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "MyOffice/?123");
  EXPECT_EQ(r.body.find("dropped"), std::string::npos);

  const std::string raw = RawExchange(
      port(),
      "GET /go?to=/x%0D%0ASet-Cookie:%20evil=1%0D%0A%0D%0A<html> HTTP/1.1\r\n"
      "Host: x\r\nConnection: close\r\n\r\n");
  const auto lines = HeaderLines(raw);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "HTTP/1.1 302 Found");
  int locations = 0;
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("Set-Cookie: evil", 0), 0u) << raw;
    if (line.rfind("Location: ", 0) == 0) {
      ++locations;
      EXPECT_EQ(line,
                "Location: /x%0D%0ASet-Cookie:%20evil=1%0D%0A%0D%0A%3Chtml%3E");
    }
  }
  EXPECT_EQ(locations, 1);
}

TEST_F(HostPagesTest, CookieValuesCannotSplitTheResponse) {
  const std::string raw = RawExchange(
      port(),
      "GET /cookie?name=pname&value=ann%0D%0ASet-Cookie:%20evil=1 HTTP/1.1\r\n"
      "Host: x\r\nConnection: close\r\n\r\n");
  bool found = false;
  for (const std::string& line : HeaderLines(raw)) {
    EXPECT_NE(line.rfind("Set-Cookie: evil", 0), 0u) << raw;
    if (line.rfind("Set-Cookie: pname=", 0) == 0) {
      found = true;
      EXPECT_EQ(line,
                "Set-Cookie: pname=ann!0D!0ASet-Cookie:!20evil=1; Path=/; "
                "SameSite=Lax");
    }
  }
  EXPECT_TRUE(found) << raw;
  // And the browser gets the text back as it was set.
  Browser b(port());
  b.Get("/cookie?name=c&value=" +
        httplib::detail::encode_query_param("a; b\r\n"));
  EXPECT_EQ(b.Get("/echo?show=c").body, "c=a; b\r\n\n");
}

TEST_F(HostPagesTest, BadCookieNamesAndContentTypes) {
  Browser b(port());
  const Reply r = b.Get("/cookie?name=a%0D%0Ab&value=1");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("cannot be the name of a cookie"), std::string::npos);
  EXPECT_EQ(r.SetCookie("a"), "");

  const Reply typed = b.Get("/type?type=text/plain");
  EXPECT_EQ(typed.Header("Content-Type"), "text/plain");
  const Reply split = b.Get("/type?type=text/plain%0D%0AX-Evil:%201");
  EXPECT_EQ(split.Header("X-Evil"), "");
  EXPECT_EQ(split.Header("Content-Type"), "text/html; charset=utf-8");
}

TEST_F(HostPagesTest, NothingIsSentAfterEnd) {
  Browser b(port());
  EXPECT_EQ(b.Get("/end").body, "before");
}

TEST_F(HostPagesTest, SessionCookieFlagsAndLifetime) {
  Browser b(port());
  // No session until a page writes one.
  EXPECT_EQ(b.Get("/session/get").SetCookie("WRENHAVEN_SESSION"), "");
  const Reply set = b.Get("/session/set?who=ann");
  const std::string id = b.Cookie("WRENHAVEN_SESSION");
  ASSERT_EQ(id.size(), 64u);
  EXPECT_EQ(set.SetCookie("WRENHAVEN_SESSION"),
            "WRENHAVEN_SESSION=" + id + "; Path=/; HttpOnly; SameSite=Lax");
  EXPECT_EQ(b.Get("/session/get").body, "ann");
  // Writing again keeps the identifier.
  EXPECT_EQ(b.Get("/session/set?who=ben").SetCookie("WRENHAVEN_SESSION"), "");
  EXPECT_EQ(b.Get("/session/get").body, "ben");

  // Behind a trusted proxy that says HTTPS, the cookie is Secure.
  Browser secure(port());
  const Reply https =
      secure.Get("/session/set?who=x", {{"X-Forwarded-Proto", "https"}});
  EXPECT_NE(https.SetCookie("WRENHAVEN_SESSION").find("; Secure"),
            std::string::npos);
}

TEST_F(HostPagesTest, RenewMovesTheValuesToAFreshIdentifier) {
  Browser b(port());
  b.Get("/session/set?who=ann");
  const std::string before = b.Cookie("WRENHAVEN_SESSION");
  b.Get("/session/renew");
  const std::string after = b.Cookie("WRENHAVEN_SESSION");
  EXPECT_NE(after, before);
  EXPECT_EQ(b.Get("/session/get").body, "ann");
  // The old identifier is worth nothing now.
  Browser old(port());
  old.SetCookie("WRENHAVEN_SESSION", before);
  EXPECT_EQ(old.Get("/session/get").body, "");
}

TEST_F(HostPagesTest, PlantedIdentifiersAreNeverAdopted) {
  Browser b(port());
  const std::string planted(64, 'a');
  b.SetCookie("WRENHAVEN_SESSION", planted);
  b.Get("/session/set?who=victim");
  EXPECT_NE(b.Cookie("WRENHAVEN_SESSION"), planted);
  Browser attacker(port());
  attacker.SetCookie("WRENHAVEN_SESSION", planted);
  EXPECT_EQ(attacker.Get("/session/get").body, "");
}

TEST_F(HostPagesTest, AbandonEndsTheSessionAfterThePage) {
  Browser b(port());
  b.Get("/session/set?who=ann");
  const std::string id = b.Cookie("WRENHAVEN_SESSION");
  const Reply r = b.Get("/session/abandon");
  EXPECT_EQ(r.body, "still ann");  // readable until the page ends
  EXPECT_EQ(r.SetCookie("WRENHAVEN_SESSION"),
            "WRENHAVEN_SESSION=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
  Browser old(port());
  old.SetCookie("WRENHAVEN_SESSION", id);
  EXPECT_EQ(old.Get("/session/get").body, "");
}

TEST_F(HostPagesTest, IdleSessionsRunOut) {
  std::atomic<int> minutes{0};
  auto store = MakeMemorySessionStore(
      {std::chrono::minutes(20), std::chrono::hours(12)}, [&minutes] {
        return SessionClock::time_point(std::chrono::hours(1000)) +
               std::chrono::minutes(minutes.load());
      });
  TestHost host(
      {}, nullptr, [](HttpHost& h) { AddPages(h); }, std::move(store));
  Browser b(host.port());
  b.Get("/session/set?who=ann");
  minutes = 19;
  EXPECT_EQ(b.Get("/session/get").body, "ann");
  minutes = 38;  // 19 minutes after the last page
  EXPECT_EQ(b.Get("/session/get").body, "ann");
  minutes = 59;
  EXPECT_EQ(b.Get("/session/get").body, "");
}

TEST_F(HostPagesTest, ObjectsAreBoundToThePageAndReleasedAtItsEnd) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.clear();
  }
  Browser b(port());
  EXPECT_EQ(b.Get("/probe?tag=t").status, 200);
  EXPECT_EQ(b.Get("/probe?tag=u&fail=1").status, 500);
  std::lock_guard<std::mutex> lock(g_mutex);
  ASSERT_EQ(g_events.size(), 10u);
  const std::string first = g_events[0].substr(7);  // "start t" + number
  const std::string second = g_events[1].substr(7);
  EXPECT_EQ(g_events[0], "start t" + first);
  EXPECT_EQ(g_events[1], "start t" + second);
  EXPECT_EQ(g_events[2], "page");
  // Newest first, each still bound when it is ended.
  EXPECT_EQ(g_events[3], "end t" + second + " bound");
  EXPECT_EQ(g_events[4], "end t" + first + " bound");
  // A failed page still ends its objects.
  EXPECT_EQ(g_events[7], "page");
  EXPECT_EQ(g_events[8].substr(0, 5), "end u");
  EXPECT_EQ(g_events[9].substr(0, 5), "end u");
}

TEST_F(HostPagesTest, LongestPrefixWinsAndUnknownPathsAreNotFound) {
  Browser b(port());
  EXPECT_EQ(b.Get("/area/x").body, "area /area/x");
  EXPECT_EQ(b.Get("/area/inner/y").body, "inner /area/inner/y");
  EXPECT_EQ(b.Get("/nowhere").status, 404);
  EXPECT_EQ(b.Get("/area").status, 404);
}

TEST_F(HostPagesTest, StaticFilesStayInsideTheirFolder) {
  Browser b(port());
  const Reply css = b.Get("/static/css/site.css");
  EXPECT_EQ(css.status, 200);
  EXPECT_EQ(css.body, "body{color:red}");
  EXPECT_EQ(css.Header("Content-Type"), "text/css; charset=utf-8");
  EXPECT_EQ(css.Header("X-Content-Type-Options"), "nosniff");

  for (const char* path :
       {"/static/../secret.txt", "/static/css/../../secret.txt",
        "/static/%2e%2e/secret.txt", "/static/..%2fsecret.txt",
        "/static/css/%2E%2E/%2E%2E/secret.txt", "/static/..%5csecret.txt",
        "/static/", "/static/css", "/static/%00"}) {
    const std::string raw = RawExchange(
        port(), std::string("GET ") + path +
                    " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(HeaderLines(raw).at(0).substr(0, 12), "HTTP/1.1 404") << path;
    EXPECT_EQ(raw.find("TOP-SECRET"), std::string::npos) << path;
  }
  const std::string post = RawExchange(
      port(),
      "POST /static/css/site.css HTTP/1.1\r\nHost: x\r\nContent-Length: "
      "0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(HeaderLines(post).at(0).substr(0, 12), "HTTP/1.1 405");
}

TEST_F(HostPagesTest, KeepAliveIsOfferedWithItsLimits) {
  const auto answers = RawExchanges(
      port(),
      {"GET /session/get HTTP/1.1\r\nHost: x\r\n\r\n",
       "GET /nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"});
  ASSERT_EQ(answers.size(), 2u);
  // Both answered on the one connection, the first offering more.
  EXPECT_EQ(HeaderLines(answers[0]).at(0), "HTTP/1.1 200 OK");
  EXPECT_NE(answers[0].find("\r\nKeep-Alive: timeout=5, max=100\r\n"),
            std::string::npos)
      << answers[0];
  EXPECT_EQ(HeaderLines(answers[1]).at(0), "HTTP/1.1 404 Not Found");
}

}  // namespace
}  // namespace wrenhaven::testing
