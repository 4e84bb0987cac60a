// The page host over HTTP with pages of the test's own: the request's
// combined lookup and server variables, the buffered response, sessions,
// the page hooks, static files and the error page.
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
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

// An object whose OnEndPage fails.
class FailsAtEnd : public Component {
 public:
  static const ClassInfo& Info() {
    static const ClassInfo info{"Test.FailsAtEnd",
                                "_FailsAtEnd",
                                {Method("OnEndPage", &FailsAtEnd::OnEndPage)},
                                [] { return std::make_shared<FailsAtEnd>(); }};
    return info;
  }
  const ClassInfo& class_info() const override { return Info(); }
  Variant OnEndPage() { Raise(ErrorCode::kDatabase, "end failed"); }
};

const bool kFailsAtEndRegistered = RegisterClass(FailsAtEnd::Info());

// Pages run by the request counter.
std::atomic<int> g_counted{0};

class HostPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kProbeRegistered);
    ASSERT_TRUE(kFailsAtEndRegistered);
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
    host.AddPage("/session/get-zero", [](HttpPage& page) {
      page.response().Write(page.session().Get("zero").is_empty() ? "Empty"
                                                                  : "set");
    });
    host.AddPage("/session/get-with-cookie", [](HttpPage& page) {
      page.response().Write(
          page.session().Get("who").ToText() + " " +
          page.request()
              .Lookup(Collection::kCookies, "WRENHAVEN_SESSION")
              .value_or(""));
    });
    host.AddPage("/session/set-empty",
                 [](HttpPage& page) { page.session().Set("who", Variant()); });
    host.AddPage("/session/set-zero", [](HttpPage& page) {
      page.session().Set("zero", Variant::Long(0));
    });
    host.AddPage("/session/set-then-fail", [](HttpPage& page) {
      page.session().Set("who", Variant::String(page.request().Item("who")));
      page.session().RenewId();
      page.response().SetCookie("pname", "eve");
      Raise(ErrorCode::kDatabase, "insert failed");
    });
    host.AddPage("/session/abandon-then-fail", [](HttpPage& page) {
      page.session().Abandon();
      Raise(ErrorCode::kDatabase, "insert failed");
    });
    // The page itself goes well; its object fails at OnEndPage.
    host.AddPage("/session/fail-at-end", [](HttpPage& page) {
      page.CreateObject("Test.FailsAtEnd");
      page.session().Set("who", Variant::String(page.request().Item("who")));
      page.response().SetCookie("pname", "eve");
    });
    host.AddPage("/busy", [](HttpPage&) {
      Raise(ErrorCode::kUnavailable, "database is locked");
    });
    host.AddPage("/header", [](HttpPage& page) {
      page.response().SetCookie("seen", "1");
      page.response().SetHeader(page.request().Item("name"),
                                page.request().Item("value"));
      const std::string status = page.request().Item("status");
      if (!status.empty()) page.response().SetStatus(std::stoi(status));
      page.response().Write("limited");
    });
    host.AddPage("/count", [](HttpPage& page) {
      ++g_counted;
      page.response().Write("counted");
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

// The reference an error page shows (12 hex digits), "" when it shows
// none.
std::string ReferenceOf(const std::string& body) {
  const std::string mark = "Reference: ";
  const size_t at = body.find(mark);
  if (at == std::string::npos) return "";
  const std::string reference = body.substr(at + mark.size(), 12);
  const bool hex =
      reference.size() == 12 &&
      reference.find_first_not_of("0123456789abcdef") == std::string::npos &&
      body.compare(at + mark.size() + 12, 1, "<") == 0;
  return hex ? reference : "";
}

TEST_F(HostPagesTest, FailedPageShowsAReferenceAndLogsTheText) {
  Browser b(port());
  const Reply r = b.Get("/fail?token=1");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(r.body.find("The page could not be shown"), std::string::npos);
  const std::string reference = ReferenceOf(r.body);
  ASSERT_EQ(reference.size(), 12u) << r.body;
  EXPECT_EQ(r.body.find("broken"), std::string::npos) << r.body;
  EXPECT_EQ(r.body.find("half a page"), std::string::npos);
  EXPECT_NE(log_->str().find("[error] 127.0.0.1 \"GET /fail\" failed, "
                             "reference " +
                             reference + ": <b>broken</b> & \"gone\""),
            std::string::npos)
      << log_->str();
  // Each failure has a reference of its own.
  const Reply again = b.Get("/fail");
  EXPECT_NE(ReferenceOf(again.body), reference);
  EXPECT_NE(ReferenceOf(again.body), "");

  // Failures of every kind give the same page.
  for (const char* path : {"/throw", "/db", "/cookie?name=a%0D%0Ab&value=1"}) {
    const Reply other = b.Get(path);
    EXPECT_EQ(other.status, 500) << path;
    EXPECT_NE(ReferenceOf(other.body), "") << path << other.body;
  }
  const std::string log = log_->str();
  EXPECT_NE(log.find(": plain failure"), std::string::npos) << log;
  EXPECT_NE(log.find(": This host has no database"), std::string::npos) << log;
  EXPECT_NE(log.find("\"a\\x0D\\x0Ab\" cannot be the name of a cookie"),
            std::string::npos)
      << log;
}

TEST_F(HostPagesTest, UnavailableGives503WithRetryAfter) {
  Browser b(port());
  const Reply r = b.Get("/busy");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.Header("Retry-After"), "1");
  EXPECT_NE(ReferenceOf(r.body), "") << r.body;
  EXPECT_EQ(r.body.find("database is locked"), std::string::npos);
  EXPECT_NE(log_->str().find(": database is locked"), std::string::npos);
  // Other failures carry no Retry-After.
  EXPECT_EQ(b.Get("/fail").Header("Retry-After"), "");
}

TEST_F(HostPagesTest, AFailedPageLeavesTheSessionAsItWas) {
  Browser b(port());
  b.Get("/session/set?who=ann");
  const std::string id = b.Cookie("WRENHAVEN_SESSION");
  ASSERT_EQ(id.size(), 64u);
  // The page writes the session, sets a cookie, asks for a fresh
  // identifier, and fails.
  for (const char* path :
       {"/session/set-then-fail?who=eve", "/session/abandon-then-fail",
        "/session/fail-at-end?who=eve"}) {
    const Reply r = b.Get(path);
    EXPECT_EQ(r.status, 500) << path;
    EXPECT_TRUE(r.All("Set-Cookie").empty()) << path;
    EXPECT_EQ(b.Cookie("WRENHAVEN_SESSION"), id) << path;
    EXPECT_EQ(b.Get("/session/get").body, "ann") << path;
  }
  // A new visitor's failed page stores nothing.
  Browser fresh(port());
  EXPECT_TRUE(
      fresh.Get("/session/set-then-fail?who=eve").All("Set-Cookie").empty());
  EXPECT_EQ(fresh.Get("/session/get").body, "");
}

TEST_F(HostPagesTest, ANewSessionHoldingNothingIsNotStored) {
  struct Case {
    const char* path;
    bool stored;
  };
  const Case cases[] = {
      {"/session/set?who=", false},   // the empty text
      {"/session/set-empty", false},  // Empty
      {"/session/set?who=x", true},
      {"/session/set-zero", true},  // 0 is a value
  };
  for (const Case& c : cases) {
    Browser b(port());
    const Reply r = b.Get(c.path);
    EXPECT_EQ(r.status, 200) << c.path;
    EXPECT_EQ(!r.SetCookie("WRENHAVEN_SESSION").empty(), c.stored) << c.path;
  }
  // An existing session is saved, empty values and all.
  Browser b(port());
  b.Get("/session/set?who=x");
  const std::string id = b.Cookie("WRENHAVEN_SESSION");
  EXPECT_EQ(b.Get("/session/set?who=").SetCookie("WRENHAVEN_SESSION"), "");
  EXPECT_EQ(b.Cookie("WRENHAVEN_SESSION"), id);
  EXPECT_EQ(b.Get("/session/get").body, "");
  EXPECT_EQ(b.Get("/session/get-zero").body, "Empty");
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
  EXPECT_NE(log.find("] 127.0.0.1 - - ["), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /session/get HTTP/1.1\" 200 - \"-\" "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\"GET /nowhere HTTP/1.1\" 404 "), std::string::npos);
  // The target is logged as sent, still encoded.
  EXPECT_NE(log.find("\"GET /a%0Afake HTTP/1.1\" 404"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("fake\n"), std::string::npos) << log;
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
  EXPECT_TRUE(r.All("Set-Cookie").empty());

  const Reply typed = b.Get("/type?type=text/plain");
  EXPECT_EQ(typed.Header("Content-Type"), "text/plain");
  const Reply split = b.Get("/type?type=text/plain%0D%0AX-Evil:%201");
  EXPECT_EQ(split.Header("X-Evil"), "");
  EXPECT_EQ(split.Header("Content-Type"), "text/html; charset=utf-8");
}

TEST_F(HostPagesTest, StatusAndHeadersOfThePageAreSent) {
  Browser b(port());
  const Reply r = b.Get("/header?name=Retry-After&value=30&status=429");
  EXPECT_EQ(r.status, 429);
  EXPECT_EQ(r.Header("Retry-After"), "30");
  EXPECT_EQ(r.body, "limited");
  // A refused header fails the page before anything is sent.
  for (const char* query :
       {"name=X%20Y&value=1", "name=X&value=a%0D%0Ab: c",
        "name=Set-Cookie&value=a=1", "name=Content-Length&value=0"}) {
    const Reply bad = b.Get(std::string("/header?") + query);
    EXPECT_EQ(bad.status, 500) << query;
    EXPECT_EQ(bad.Header("b"), "") << query;
    EXPECT_TRUE(bad.All("Set-Cookie").empty()) << query;
  }
}

TEST_F(HostPagesTest, SecurityHeadersOnEveryAnswer) {
  Browser b(port());
  for (const char* path :
       {"/echo", "/nowhere", "/fail", "/busy", "/go?to=/",
        "/static/css/site.css", "/static/none.css", "/echo?x=%FF"}) {
    const Reply r = b.Get(path);
    EXPECT_EQ(r.All("X-Content-Type-Options"),
              std::vector<std::string>{"nosniff"})
        << path;
    EXPECT_EQ(r.Header("X-Frame-Options"), "SAMEORIGIN") << path;
    EXPECT_EQ(r.Header("Referrer-Policy"), "same-origin") << path;
  }
}

// The policy every answer carries: nothing inline but what a hash names.
constexpr char kPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'self'";

// The policy with its hash sources left out, and how many there were.
std::pair<std::string, int> WithoutHashes(const std::string& policy) {
  static const std::regex kHash(" 'sha256-[A-Za-z0-9+/]{43}='");
  const auto count =
      std::distance(std::sregex_iterator(policy.begin(), policy.end(), kHash),
                    std::sregex_iterator());
  return {std::regex_replace(policy, kHash, ""), static_cast<int>(count)};
}

TEST_F(HostPagesTest, EveryAnswerCarriesThePolicyWithoutUnsafeInline) {
  struct Case {
    const char* path;
    int status;
    int style_hashes;  // the host's plain pages allow their style sheet
  };
  Browser b(port());
  for (const Case& c :
       {Case{"/echo", 200, 0}, Case{"/go?to=/", 302, 0},
        Case{"/static/css/site.css", 200, 0}, Case{"/nowhere", 404, 1},
        Case{"/static/none.css", 404, 1}, Case{"/fail", 500, 1},
        Case{"/busy", 503, 1}, Case{"/echo?x=%FF", 400, 1}}) {
    const Reply r = b.Get(c.path);
    EXPECT_EQ(r.status, c.status) << c.path;
    const std::vector<std::string> all = r.All("Content-Security-Policy");
    ASSERT_EQ(all.size(), 1u) << c.path;
    EXPECT_EQ(all[0].find("unsafe"), std::string::npos) << c.path;
    const auto [rest, hashes] = WithoutHashes(all[0]);
    EXPECT_EQ(rest, kPolicy) << c.path << ": " << all[0];
    EXPECT_EQ(hashes, c.style_hashes) << c.path << ": " << all[0];
    if (hashes > 0) {
      EXPECT_NE(all[0].find("style-src 'self' 'sha256-"), std::string::npos)
          << all[0];
    }
  }
  // A 304 of a static file too.
  const Reply css = b.Get("/static/css/site.css");
  const Reply same =
      b.Get("/static/css/site.css", {{"If-None-Match", css.Header("ETag")}});
  EXPECT_EQ(same.status, 304);
  EXPECT_EQ(same.All("Content-Security-Policy"),
            std::vector<std::string>{kPolicy});

  // An answer of cpp-httplib's own, to a method no page takes.
  const std::vector<std::string> put = HeaderLines(
      RawExchange(port(),
                  "PUT /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n"
                  "Connection: close\r\n\r\n"));
  ASSERT_FALSE(put.empty());
  EXPECT_EQ(put[0].substr(0, 10), "HTTP/1.1 4") << put[0];
  EXPECT_EQ(std::count(put.begin(), put.end(),
                       std::string("Content-Security-Policy: ") + kPolicy),
            1)
      << put[0];

  // The front door's own refusal of headers past their limit.
  std::string big;
  for (int i = 0; i < 5; ++i) {
    big += "X-B" + std::to_string(i) + ": " + std::string(8000, 'w') + "\r\n";
  }
  const std::string raw =
      RawExchange(port(), "GET /echo HTTP/1.1\r\nHost: x\r\n" + big +
                              "Connection: close\r\n\r\n");
  const std::vector<std::string> lines = HeaderLines(raw);
  ASSERT_FALSE(lines.empty()) << raw;
  EXPECT_EQ(lines[0], "HTTP/1.1 431 Request Header Fields Too Large");
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       std::string("Content-Security-Policy: ") + kPolicy),
            1)
      << raw;
  for (const char* header :
       {"X-Content-Type-Options: nosniff", "X-Frame-Options: SAMEORIGIN",
        "Referrer-Policy: same-origin"}) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(header)), 1)
        << header << "\n"
        << raw;
  }
}

TEST_F(HostPagesTest, TextThatIsNotUtf8IsRefusedBeforeThePage) {
  struct Case {
    const char* what;
    std::string request;
  };
  const auto get = [](const std::string& target, const std::string& headers) {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers +
           "Connection: close\r\n\r\n";
  };
  const auto post = [](const std::string& body) {
    return "POST /count HTTP/1.1\r\nHost: x\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  };
  const Case cases[] = {
      {"query value", get("/count?a=%FF", "")},
      {"query name", get("/count?%C0%AF=1", "")},
      {"query NUL", get("/count?a=x%00y", "")},
      {"form value", post("a=%ED%A0%80")},
      {"form NUL", post("a=%00")},
      {"cookie", get("/count", "Cookie: c=\xFF\xFE\r\n")},
      {"cookie escape", get("/count", "Cookie: c=!FF\r\n")},
      {"cookie NUL", get("/count", "Cookie: c=!00\r\n")},
      {"header", get("/count", "X-Thing: caf\xE9\r\n")},
      {"header escape", get("/count", "User-Agent: %FF\r\n")},
  };
  g_counted = 0;
  for (const Case& c : cases) {
    const std::string raw = RawExchange(port(), c.request);
    EXPECT_EQ(HeaderLines(raw).at(0), "HTTP/1.1 400 Bad Request")
        << c.what << raw;
    EXPECT_NE(raw.find("The request holds text that is not UTF-8"),
              std::string::npos)
        << c.what;
  }
  EXPECT_EQ(g_counted.load(), 0);
  // Valid text of any script reaches the page; static files are not read
  // as text.
  const std::string ok = RawExchange(
      port(), get("/count?a=%E7%99%BB", "X-Thing: \xE7\x99\xBB\r\n"));
  EXPECT_EQ(HeaderLines(ok).at(0), "HTTP/1.1 200 OK") << ok;
  EXPECT_EQ(g_counted.load(), 1);
  const std::string css = RawExchange(
      port(), get("/static/css/site.css?v=%FF", "X-Thing: \xFF\r\n"));
  EXPECT_EQ(HeaderLines(css).at(0), "HTTP/1.1 200 OK") << css;
}

TEST_F(HostPagesTest, TheSessionIsFoundInAnyCookieHeader) {
  Browser b(port());
  b.Get("/session/set?who=ann");
  const std::string id = b.Cookie("WRENHAVEN_SESSION");
  // The page's cookies and the session come from the same parse, so a
  // session cookie in a second Cookie header counts.
  const std::string raw = RawExchange(
      port(),
      "GET /session/get-with-cookie HTTP/1.1\r\nHost: x\r\nCookie: a=1\r\n"
      "Cookie: WRENHAVEN_SESSION=" +
          id + "\r\nConnection: close\r\n\r\n");
  EXPECT_NE(raw.find("\r\n\r\nann " + id), std::string::npos) << raw;
}

TEST_F(HostPagesTest, TheSessionCookieNameMustBeAToken) {
  for (const char* name : {"", "a b", "a;b", "a=b", "sess\r\nX: 1", "名"}) {
    HttpHostOptions options;
    options.session_cookie = name;
    try {
      HttpHost host(options, nullptr);
      ADD_FAILURE() << "accepted " << name;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kHost) << name;
    }
  }
  HttpHostOptions options;
  options.session_cookie = "OFFICE_SID";
  EXPECT_NO_THROW(HttpHost(options, nullptr));
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
