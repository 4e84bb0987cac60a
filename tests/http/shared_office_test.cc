// Two `wrenhaven serve` processes on one database, as behind a load
// balancer: signing in on one is signing in on both, and signing out on
// either is signing out on both. Runs on a SQLite file both processes open
// and, where WRENHAVEN_TEST_POSTGRES names a server, on PostgreSQL.
#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "tests/http/serve_process.h"

namespace wrenhaven::testing {
namespace {

constexpr char kSession[] = "WRENHAVEN_SESSION";

class SharedOfficeTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const char* pg = std::getenv("WRENHAVEN_TEST_POSTGRES");
    if (GetParam() == "postgresql" && (!pg || !*pg)) {
      GTEST_SKIP() << "WRENHAVEN_TEST_POSTGRES names no PostgreSQL server";
    }
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
    if (GetParam() == "postgresql") {
      // The test's own schema first on every connection's search path.
      const std::string address = pg;
      address_ = address +
                 (address.find('?') == std::string::npos ? "?" : "&") +
                 "options=-csearch_path%3D" + db_->path();
    } else {
      address_ = db_->path();
    }
  }

  // Sessions that can still be used (a removed one is marked Expires 0).
  int64_t Sessions() {
    return db_
        ->Scalar("SELECT COUNT(*) FROM SYS_OnlineSession WHERE Expires > 0")
        .ToLong();
  }

  std::unique_ptr<TestDb> db_;
  std::string address_;
};

TEST_P(SharedOfficeTest, SignInAndSignOutHoldOnEveryProcess) {
  // PostgreSQL keeps sessions in the database unless told otherwise.
  std::vector<std::string> options = {"--quiet"};
  if (GetParam() == "sqlite") options = {"--quiet", "--sessions", "db"};
  ServeProcess first(address_, options);
  ServeProcess second(address_, options);
  ASSERT_NE(first.port(), second.port());
  EXPECT_NE(first.Log().find("sessions in the database"), std::string::npos)
      << first.Log();

  Browser on_first(first.port());
  const Reply signin = on_first.Post("/", Form({{"LoginName", "ann"},
                                                {"LoginPwd", "ann123"},
                                                {"Screen", "1280*800"},
                                                {"oldwin", "true"}}));
  ASSERT_EQ(signin.status, 302) << signin.body;
  const std::string session = on_first.Cookie(kSession);
  ASSERT_EQ(session.size(), 64u);
  EXPECT_EQ(Sessions(), 1);

  // The same browser, now talking to the second process.
  Browser on_second(second.port());
  on_second.SetCookie(kSession, session);
  const Reply office = on_second.Get("/MyOffice/");
  ASSERT_EQ(office.status, 200) << office.Header("Location") << second.Log();
  EXPECT_NE(office.body.find("id=\"person\">Ann Carter</span>"),
            std::string::npos);
  EXPECT_NE(office.body.find("<nav class=\"topmenu\""), std::string::npos);
  EXPECT_NE(office.body.find("<span>系统管理</span></a>"), std::string::npos)
      << office.body;
  EXPECT_NE(office.body.find("<li class=\"level1\"><a href=\"/apps/mail\""),
            std::string::npos)
      << office.body;
  // Both processes keep serving the session.
  EXPECT_EQ(on_first.Get("/MyOffice/").status, 200);

  // Signing out on the second: a plain visit of the sign-in page.
  const Reply signout = on_second.Get("/");
  EXPECT_EQ(signout.status, 200);
  EXPECT_NE(signout.SetCookie(kSession).find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(Sessions(), 0);

  // The first process refuses the old cookie.
  const Reply refused = on_first.Get("/MyOffice/");
  EXPECT_EQ(refused.status, 302);
  EXPECT_EQ(refused.Header("Location"), "/");
  EXPECT_EQ(on_first.Get("/MyOffice/home").Header("Location"), "/");
}

TEST_P(SharedOfficeTest, SessionsInMemoryStayWithTheirProcess) {
  ServeProcess first(address_, {"--quiet", "--sessions", "memory"});
  ServeProcess second(address_, {"--quiet", "--sessions", "memory"});
  Browser on_first(first.port());
  ASSERT_EQ(on_first
                .Post("/", Form({{"LoginName", "ann"},
                                 {"LoginPwd", "ann123"},
                                 {"oldwin", "true"}}))
                .status,
            302);
  EXPECT_EQ(Sessions(), 0);
  Browser on_second(second.port());
  on_second.SetCookie(kSession, on_first.Cookie(kSession));
  EXPECT_EQ(on_second.Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(on_first.Get("/MyOffice/").status, 200);
}

INSTANTIATE_TEST_SUITE_P(Databases, SharedOfficeTest,
                         ::testing::Values("sqlite", "postgresql"));

}  // namespace
}  // namespace wrenhaven::testing
