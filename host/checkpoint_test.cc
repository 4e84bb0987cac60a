// A page host's SQLite writers with the checkpointer, wired as the serve
// command wires them: the log stays short under writes without a break.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "wrenhaven/http_host.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

namespace fs = std::filesystem;

uintmax_t LogBytes(const std::string& db) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(db + "-wal", ec);
  return ec ? 0 : size;
}

// Two writers commit without a break, taking turns. The log can start
// again from its beginning only once all of it has been copied back, which
// the commits made during each copy prevent unless the last of it is copied
// in the writers' turn.
TEST(CheckpointerWithWritersTest, TheLogStaysShortUnderSteadyWrites) {
  std::string dir =
      (fs::temp_directory_path() / "wrenhaven-ckpt-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string db = dir + "/office.db";
  SqliteOptions options;
  options.background_checkpoints = true;
  // Kept open to the end: the last connection to close copies the log back
  // and deletes it.
  auto keeper = OpenSqlite(db, options);
  keeper->Execute("create table t (b blob)");

  std::shared_ptr<WriterTurn> turn = NewWriterTurn();
  ConnectionFactory writers_make =
      SerialiseWriters([db, options] { return OpenSqlite(db, options); }, turn);
  std::vector<std::string> errors;
  uint64_t completed = 0;
  uintmax_t log_bytes = 0;
  {
    SqliteCheckpointer checkpointer(
        db, std::chrono::milliseconds(2),
        [&errors](const std::string& message) { errors.push_back(message); },
        [turn](const std::function<void()>& work) {
          InWriterTurn(*turn, work);
        });
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
      writers.emplace_back([&writers_make] {
        auto conn = writers_make();
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
  // busy machine may give the checkpointer fewer turns than it asks for.
  EXPECT_LT(log_bytes, 12'000'000u) << log_bytes;
  auto rs = keeper->Open("select count(*) from t", CursorType::kStatic);
  EXPECT_EQ(rs->Value(0), Variant::Long(3000));
  rs->Close();
  keeper.reset();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace wrenhaven
