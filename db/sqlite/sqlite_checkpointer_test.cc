// Checkpoints away from the commits: connections that leave them to a
// checkpointer copy nothing back themselves. (The checkpointer at work with
// a page host's writers is tested with them, in host/.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

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
