// Checkpoints away from the commits: connections that leave them to the
// checkpointer let the log grow past SQLite's own threshold, and the
// checkpointer keeps it short.
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
  static void Fill(Connection& conn, int rows, int pause_every = 0) {
    conn.Execute("create table if not exists t (b blob)");
    for (int i = 1; i <= rows; ++i) {
      conn.Execute("insert into t values (zeroblob(3000))");
      if (pause_every > 0 && i % pause_every == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
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

TEST_F(CheckpointTest, TheCheckpointerKeepsTheLogShortAndLosesNothing) {
  const std::string db = Path("office.db");
  SqliteOptions options;
  options.background_checkpoints = true;
  std::vector<std::string> errors;
  {
    auto conn = OpenSqlite(db, options);
    SqliteCheckpointer checkpointer(
        db, std::chrono::milliseconds(2),
        [&errors](const std::string& message) { errors.push_back(message); });
    Fill(*conn, 1500, /*pause_every=*/50);
    EXPECT_LT(LogBytes(db), 2'000'000u);
    EXPECT_GT(checkpointer.completed(), 0u);
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
  auto reopened = OpenSqlite(db, /*create=*/false);
  auto rs = reopened->Open("select count(*) from t", CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Long(1500));
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
