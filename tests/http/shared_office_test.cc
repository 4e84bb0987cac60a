// Two `wrenhaven serve` processes on one database, as behind a load
// balancer: signing in on one is signing in on both, and signing out on
// either is signing out on both. Runs on a SQLite file both processes open
// and, where WRENHAVEN_TEST_POSTGRES names a server, on PostgreSQL.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "testing/test_db.h"
#include "tests/http/http_support.h"

extern char** environ;

namespace wrenhaven::testing {
namespace {

constexpr char kSession[] = "WRENHAVEN_SESSION";

// One `wrenhaven serve` on a free port of 127.0.0.1, stopped with SIGTERM
// when the object goes (SIGKILL when it does not stop within 10 s).
class ServeProcess {
 public:
  ServeProcess(const std::string& db, std::vector<std::string> extra) {
    log_ = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
           "/wrenhaven-serve-" + std::to_string(getpid()) + "-" +
           std::to_string(counter_++) + ".log";
    std::vector<std::string> args = {
        WRENHAVEN_CLI, "serve",       "--db",      db,
        "--listen",    "127.0.0.1:0", "--workers", "8"};
    for (std::string& a : extra) args.push_back(std::move(a));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    const int rc =
        posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
      pid_ = 0;
      throw std::runtime_error("cannot start " + args[0]);
    }
    static constexpr std::string_view kAddress = "http://127.0.0.1:";
    for (int i = 0; i < 600 && port_ == 0; ++i) {
      const std::string text = Log();
      const size_t at = text.find(kAddress);
      if (at != std::string::npos) {
        port_ = std::atoi(text.c_str() + at + kAddress.size());
      } else if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        throw std::runtime_error("serve stopped at once: " + text);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (port_ == 0) throw std::runtime_error("serve did not start: " + Log());
  }

  ~ServeProcess() {
    if (pid_ != 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      bool gone = false;
      for (int i = 0; i < 200 && !gone; ++i) {
        gone = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (!gone) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      EXPECT_TRUE(gone && WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "serve did not stop cleanly: " << Log();
    }
    std::remove(log_.c_str());
  }

  int port() const { return port_; }
  std::string Log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  static inline int counter_ = 0;
  std::string log_;
  pid_t pid_ = 0;
  int port_ = 0;
};

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
    return db_->Scalar("SELECT COUNT(*) FROM SYS_Session WHERE Expires > 0")
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
