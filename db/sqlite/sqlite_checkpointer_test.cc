// Checkpoints away from the commits: connections that leave them to a
// checkpointer copy nothing back themselves, and the checkpointer keeps the
// log short under writes without a break.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

namespace fs = std::filesystem;

class CheckpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "wrenhaven-ckpt-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  static uintmax_t LogBytes(const std::string& db) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(db + "-wal", ec);
    return ec ? 0 : size;
  }

  // One commit per row, each a page or more of log.
  static void Fill(Connection& conn, int rows) {
    conn.Execute("create table if not exists t (b blob)");
    for (int i = 1; i <= rows; ++i) {
      conn.Execute("insert into t values (zeroblob(3000))");
    }
  }

  fs::path dir_;
};

TEST_F(CheckpointTest, ConnectionsThatLeaveCheckpointsToItLetTheLogGrow) {
  // SQLite's own threshold is 1,000 pages: an ordinary connection's log
  // stays near 4 MB however many commits it makes...
  const std::string plain = Path("plain.db");
  {
    auto conn = OpenSqlite(plain);
    Fill(*conn, 1500);
    EXPECT_LT(LogBytes(plain), 4'500'000u);
  }
  // ...one that leaves them to the checkpointer copies nothing back itself.
  const std::string left = Path("left.db");
  SqliteOptions options;
  options.background_checkpoints = true;
  auto conn = OpenSqlite(left, options);
  Fill(*conn, 1500);
  EXPECT_GT(LogBytes(left), 6'000'000u);
}

// Two writers commit without a break, taking turns. The log can start
// again from its beginning only once all of it has been copied back, which
// the commits made during each copy prevent unless the last of it is copied
// in the writer's turn.
TEST_F(CheckpointTest, TheLogStaysShortUnderSteadyWrites) {
  const std::string db = Path("office.db");
  SqliteOptions options;
  options.background_checkpoints = true;
  // Kept open to the end: the last connection to close copies the log back
  // and deletes it.
  auto keeper = OpenSqlite(db, options);
  keeper->Execute("create table t (b blob)");
  std::vector<std::string> errors;
  uint64_t completed = 0;
  uintmax_t log_bytes = 0;
  {
    SqliteCheckpointer checkpointer(
        db, std::chrono::milliseconds(2),
        [&errors](const std::string& message) { errors.push_back(message); });
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
      writers.emplace_back([&db, &options] {
        auto conn = OpenSqlite(db, options);
        for (int i = 0; i < 1500; ++i) {
          conn->Execute("insert into t values (zeroblob(3000))");
        }
      });
    }
    for (std::thread& w : writers) w.join();
    completed = checkpointer.completed();
    log_bytes = LogBytes(db);
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_GT(completed, 0u);
  // The 3,000 commits make 37 MB of log when it never starts again; a
  // busy machine (the rest of the suite running beside this test) may give
  // the checkpointer fewer turns than it asks for, so the bound is half.
  EXPECT_LT(log_bytes, 18'000'000u) << log_bytes;
  auto rs = keeper->Open("select count(*) from t", CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Long(3000));
  rs->Close();
}

TEST_F(CheckpointTest, AFileThatIsNotThereRaises) {
  try {
    SqliteCheckpointer checkpointer(Path("missing.db"),
                                    std::chrono::milliseconds(10), nullptr);
    FAIL() << "a checkpointer started without its database";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("missing.db"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace wrenhaven
