// PostgreSQL stopped under `wrenhaven serve` while people sign in, and
// started again: during the outage every request is answered at once with
// 503 (not a hang, not a 500), the first sign-in after the restart works,
// and every sign-in that was answered as a success has exactly one login
// record. The server is the real command, so its own way of opening the
// database is under test; the cluster is the test's own, stopped and
// started through the project's script, run when WRENHAVEN_TEST_POSTGRES
// is set (the PostgreSQL tools are then known to be there).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/http/http_support.h"
#include "tests/http/serve_process.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/postgres.h"

namespace wrenhaven::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kPeople[] = {"ben", "cho", "dev", "eva"};

// The throw-away cluster, through the project's script.
class Cluster {
 public:
  Cluster()
      : dir_(fs::temp_directory_path() /
             ("wrenhaven-outage-" + std::to_string(getpid()))),
        port_(56000 + getpid() % 2000) {}
  ~Cluster() {
    Run("stop");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // The first start looks for a free port; a restart keeps it.
  bool Start() {
    if (started_) return Run("start");
    for (int tries = 0; tries < 5;
         ++tries, port_ = 56000 + (port_ + 7) % 2000) {
      if (Run("start")) return started_ = true;
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
    return false;
  }
  bool Stop() { return Run("stop"); }
  std::string address() const {
    return "postgresql://wrenhaven@127.0.0.1:" + std::to_string(port_) +
           "/wrenhaven";
  }

 private:
  bool Run(const std::string& what) {
    std::string command = "bash " WRENHAVEN_SOURCE_DIR
                          "/scripts/pg-test-cluster.sh " +
                          what + " " + dir_.string();
    if (what == "start") command += " " + std::to_string(port_);
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  fs::path dir_;
  int port_;
  bool started_ = false;
};

struct Seen {
  std::mutex mutex;
  std::vector<std::string> successes;  // the Screen text of each
  std::map<int, int> statuses;         // while the database was away
  Clock::duration slowest{};           // of the answers while away
};

void SignInLoop(int port, const std::string& who, const std::atomic<bool>& stop,
                const std::atomic<bool>& away, Seen* seen) {
  for (int i = 0; !stop; ++i) {
    const std::string mark = "outage-" + who + "-" + std::to_string(i);
    const bool was_away = away;
    const auto started = Clock::now();
    Reply r;
    try {
      Browser b(port);
      r = b.Post("/", Form({{"LoginName", who},
                            {"LoginPwd", who + "123"},
                            {"Screen", mark},
                            {"oldwin", "true"}}));
    } catch (const std::exception&) {
      r.status = 0;  // no answer at all
    }
    const auto took = Clock::now() - started;
    std::lock_guard lock(seen->mutex);
    if (r.status == 302) seen->successes.push_back(mark);
    if (was_away && away) {
      ++seen->statuses[r.status];
      seen->slowest = std::max(seen->slowest, took);
    }
    if (r.status != 302) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

TEST(ServeOutageTest, PostgresStoppedAndStartedAgainLosesNothing) {
  if (!std::getenv("WRENHAVEN_TEST_POSTGRES")) {
    GTEST_SKIP() << "WRENHAVEN_TEST_POSTGRES is not set";
  }
  Cluster cluster;
  ASSERT_TRUE(cluster.Start());
  const std::string init = std::string(WRENHAVEN_CLI) + " init --db '" +
                           cluster.address() +
                           "' --demo --hash-preset test >/dev/null 2>&1";
  ASSERT_EQ(std::system(init.c_str()), 0);
  ServeProcess server(cluster.address(), {"--quiet", "--hash-preset", "test",
                                          "--signin-limits", "off"});

  Seen seen;
  std::atomic<bool> stop{false}, away{false};
  std::vector<std::thread> clients;
  for (const char* who : kPeople) {
    clients.emplace_back(SignInLoop, server.port(), std::string(who),
                         std::cref(stop), std::cref(away), &seen);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(cluster.Stop());
  away = true;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  away = false;
  ASSERT_TRUE(cluster.Start());
  // The very next sign-in after the restart works.
  {
    Browser b(server.port());
    const Reply r = b.Post("/", Form({{"LoginName", "ann"},
                                      {"LoginPwd", "ann123"},
                                      {"Screen", "outage-first-after"},
                                      {"oldwin", "true"}}));
    EXPECT_EQ(r.status, 302) << r.body;
    if (r.status == 302) {
      std::lock_guard lock(seen.mutex);
      seen.successes.push_back("outage-first-after");
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  stop = true;
  for (std::thread& t : clients) t.join();

  // While the database was away: unavailable, answered within a second or
  // two, never a 500 and never silence.
  int answered_away = 0;
  for (const auto& [status, count] : seen.statuses) {
    EXPECT_EQ(status, 503) << count << " answers; the log:\n" << server.Log();
    answered_away += count;
  }
  EXPECT_GT(answered_away, 0);
  EXPECT_LT(seen.slowest, std::chrono::seconds(2));

  auto db = OpenPostgres(cluster.address());
  std::map<std::string, int64_t> records;
  auto rs = db->Open(
      "SELECT LoginScreen, COUNT(*) FROM HR_Login WHERE LoginOK=1 AND "
      "LoginScreen LIKE 'outage-%' GROUP BY LoginScreen",
      CursorType::kForwardOnly);
  for (; !rs->Eof(); rs->MoveNext()) {
    records[rs->Value(0).ToText()] = rs->Value(1).ToLong();
  }
  ASSERT_GT(seen.successes.size(), std::size(kPeople));
  for (const std::string& mark : seen.successes) {
    EXPECT_EQ(records[mark], 1) << mark;
  }
}

}  // namespace
}  // namespace wrenhaven::testing
