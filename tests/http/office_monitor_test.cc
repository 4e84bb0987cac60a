// The office's metrics on each database: sign-ins by outcome, the menu
// cache's hits and misses, requests per page kind, sessions open (in
// memory and in the database), connections in use; and who beyond this
// machine may read /metrics and /healthz: administrators only.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "tests/http/metrics_text.h"
#include "web/office_pages.h"
#include "wrenhaven/database_sessions.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven::testing {
namespace {

class OfficeMonitorTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::err);
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
  }
  void TearDown() override {
    host_.reset();
    spdlog::set_level(spdlog::level::info);
  }

  void Start(bool database_sessions = false) {
    HttpHostOptions options;
    options.log_requests = false;
    options.trusted_proxies = {"127.0.0.1"};
    host_ = std::make_unique<TestHost>(
        options, db_->Connections(), web::AddOfficePages,
        database_sessions
            ? MakeDatabaseSessionStore(db_->Connections(), SessionLimits{})
            : nullptr);
  }

  // The metrics as a client on this machine reads them.
  MetricsText Metrics() {
    Browser b(port());
    const Reply r = b.Get("/metrics");
    EXPECT_EQ(r.status, 200);
    return ParseMetricsText(r.body);
  }
  static double Value(const MetricsText& m, const std::string& series) {
    const auto it = m.samples.find(series);
    EXPECT_NE(it, m.samples.end()) << series;
    return it == m.samples.end() ? -1 : it->second;
  }

  int port() const { return host_->port(); }

  std::unique_ptr<TestDb> db_;
  std::unique_ptr<TestHost> host_;
};

TEST_P(OfficeMonitorTest, SignInsByOutcome) {
  Start();
  const std::string success = "wrenhaven_sign_ins_total{outcome=\"success\"}";
  const std::string failure = "wrenhaven_sign_ins_total{outcome=\"failure\"}";
  const std::string held = "wrenhaven_sign_ins_total{outcome=\"held_back\"}";
  const MetricsText before = Metrics();
  EXPECT_EQ(Value(before, success), 0);
  EXPECT_EQ(Value(before, failure), 0);
  EXPECT_EQ(Value(before, held), 0);

  Browser b(port());
  EXPECT_EQ(b.Get("/").status, 200);  // a visit, no attempt
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(b.Post("/", SignInBody("dev", "wrong")).status, 200);
  }
  EXPECT_EQ(b.Post("/", SignInBody("dev", "dev123")).status, 429);
  EXPECT_EQ(b.Post("/", SignInBody("ann", "ann123")).status, 302);
  // A post from another site is refused unread.
  EXPECT_EQ(b.Post("/", SignInBody("ann", "ann123"),
                   {{"Sec-Fetch-Site", "cross-site"}})
                .status,
            403);

  const MetricsText after = Metrics();
  EXPECT_EQ(Value(after, success), 1);
  EXPECT_EQ(Value(after, failure), 6);
  EXPECT_EQ(Value(after, held), 1);
  EXPECT_EQ(after.types.at("wrenhaven_sign_ins_total"), "counter");
  // Eight posts and one visit of the sign-in page.
  double sign_in = 0;
  for (const char* status : {"2xx", "3xx", "4xx", "5xx"}) {
    sign_in += Value(after, std::string("wrenhaven_http_requests_total{kind="
                                        "\"sign_in\",status=\"") +
                                status + "\"}");
  }
  EXPECT_EQ(sign_in, 9);
}

TEST_P(OfficeMonitorTest, MenuCacheHitsAndMissesAndPageKinds) {
  Start();
  Browser b(port());
  ASSERT_EQ(b.Post("/", SignInBody("ann", "ann123")).status, 302);
  const MetricsText before = Metrics();
  const std::string hits = "wrenhaven_menu_cache_hits_total";
  const std::string misses = "wrenhaven_menu_cache_misses_total";
  EXPECT_EQ(Value(before, hits), 0);
  EXPECT_EQ(Value(before, misses), 0);

  // The first main window reads the top and the left menu, the second
  // finds both.
  ASSERT_EQ(b.Get("/MyOffice/").status, 200);
  MetricsText m = Metrics();
  EXPECT_EQ(Value(m, hits), 0);
  EXPECT_EQ(Value(m, misses), 2);
  EXPECT_EQ(Value(m, "wrenhaven_menu_cache_lists"), 2);
  ASSERT_EQ(b.Get("/MyOffice/").status, 200);
  m = Metrics();
  EXPECT_EQ(Value(m, hits), 2);
  EXPECT_EQ(Value(m, misses), 2);

  EXPECT_EQ(b.Get("/admin/menus").status, 200);
  b.Get("/apps/mail");
  b.Get("/MyOffice/home");
  m = Metrics();
  const auto answered = [&](const char* kind) {
    double n = 0;
    for (const char* status : {"1xx", "2xx", "3xx", "4xx", "5xx"}) {
      n += Value(m, std::string("wrenhaven_http_requests_total{kind=\"") +
                        kind + "\",status=\"" + status + "\"}");
    }
    return n;
  };
  EXPECT_EQ(answered("main_window"), 2);
  EXPECT_EQ(answered("admin"), 1);
  EXPECT_EQ(answered("feature"), 1);
  EXPECT_EQ(answered("sign_in"), 1);
  EXPECT_EQ(answered("static"), 0);
  // The home page and the three /metrics before this one.
  EXPECT_EQ(answered("other"), 4);
  // Every page gave its connection back.
  EXPECT_EQ(Value(m, "wrenhaven_db_pool_in_use"), 0);
  EXPECT_GE(Value(m, "wrenhaven_db_pool_idle"), 1);
}

TEST_P(OfficeMonitorTest, ConnectionsOfFailedPagesAreNotCountedInUse) {
  Start();
  Browser b(port());
  ASSERT_EQ(b.Post("/", SignInBody("ann", "ann123")).status, 302);
  // A page whose statement fails gives its connection back all the same
  // (to be dropped, not kept for the next page).
  db_->Exec("DROP TABLE SYS_right");
  EXPECT_EQ(b.Get("/MyOffice/home").status, 200);
  EXPECT_EQ(b.Get("/admin/menus").status, 500);
  EXPECT_EQ(Value(Metrics(), "wrenhaven_db_pool_in_use"), 0);
}

TEST_P(OfficeMonitorTest, SessionsOpenInTheDatabase) {
  Start(/*database_sessions=*/true);
  EXPECT_EQ(Value(Metrics(), "wrenhaven_sessions_open"), 0);
  Browser ann(port()), ben(port());
  ASSERT_EQ(ann.Post("/", SignInBody("ann", "ann123")).status, 302);
  ASSERT_EQ(ben.Post("/", SignInBody("ben", "ben123")).status, 302);
  EXPECT_EQ(Value(Metrics(), "wrenhaven_sessions_open"), 2);
  // A plain visit of the sign-in page signs out.
  ann.Get("/");
  EXPECT_EQ(Value(Metrics(), "wrenhaven_sessions_open"), 1);
}

TEST_P(OfficeMonitorTest, BeyondThisMachineOnlyAdministrators) {
  Start();
  const httplib::Headers far = {{"X-Forwarded-For", "203.0.113.20"}};
  Browser nobody(port()), cho(port()), hal(port()), ann(port());
  ASSERT_EQ(cho.Post("/", SignInBody("cho", "cho123")).status, 302);
  ASSERT_EQ(hal.Post("/", SignInBody("hal", "hal123")).status, 302);
  ASSERT_EQ(ann.Post("/", SignInBody("ann", "ann123")).status, 302);
  for (const char* path : {"/metrics", "/healthz"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(nobody.Get(path, far).status, 403);
    EXPECT_EQ(cho.Get(path, far).status, 403);
    EXPECT_EQ(hal.Get(path, far).status, 403);
    const Reply allowed = ann.Get(path, far);
    EXPECT_EQ(allowed.status, 200);
    EXPECT_EQ(allowed.Header("Cache-Control"), "no-store");
  }
  const Reply text = ann.Get("/metrics", far);
  EXPECT_EQ(text.Header("Content-Type"),
            "text/plain; version=0.0.4; charset=utf-8");
  ParseMetricsText(text.body);
  EXPECT_NE(text.body.find("wrenhaven_sign_ins_total{outcome=\"success\"} 3"),
            std::string::npos);
  const Reply refused = cho.Get("/metrics", far);
  EXPECT_EQ(refused.body.find("wrenhaven_"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, OfficeMonitorTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
