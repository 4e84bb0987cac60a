// The SQLite file in trouble: a lock another program holds, a disk that is
// full. Each gives a clear error that says the database cannot serve just
// now, and the same connection works again once the cause is gone. New
// files are readable by their owner only.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "testing/test_db.h"
#include "wrenhaven/error.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

namespace fs = std::filesystem;

ErrorCode CodeOf(const std::function<void()>& f, std::string* message) {
  try {
    f();
  } catch (const Error& e) {
    *message = e.what();
    return e.code();
  }
  *message = "";
  return ErrorCode::kHost;  // no error: never expected
}

// Another program (here a handle of the raw library, which takes the
// file's locks as any other process does) holds the write lock: a writer
// gives up after its busy timeout, readers go on, and once the lock goes
// the same connection writes.
TEST(SqliteFaultsTest, ALockHeldElsewhereIsUnavailableUntilItGoes) {
  TestDb db;
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  SqliteOptions options;
  options.create = false;
  options.busy_timeout = std::chrono::milliseconds(100);
  auto conn = OpenSqlite(db.path(), options);
  std::string message;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(
      CodeOf(
          [&] { conn->Execute("Insert into HR_Dept (DeptName) values ('x')"); },
          &message),
      ErrorCode::kUnavailable);
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(3));
  EXPECT_NE(message.find("locked"), std::string::npos) << message;

  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);
  conn->Execute("Insert into HR_Dept (DeptName) values ('x')");
  EXPECT_EQ(db.Scalar("Select COUNT(*) from HR_Dept"), Variant::Long(1));
}

// The process may write no more than the file holds now (as on a full
// disk): a write fails as unavailable, what was written stays readable,
// and with room again the same connection writes.
TEST(SqliteFaultsTest, AFullDiskIsUnavailableAndTheConnectionRecovers) {
  TestDb db;
  auto conn = db.Connections()();
  conn->Execute("Insert into HR_Dept (DeptName) values ('before')");
  const std::string big(64 * 1024, 'x');
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(
      fs::file_size(db.path()) + fs::file_size(db.path() + "-wal") + 16 * 1024);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  std::string message;
  ErrorCode code = ErrorCode::kHost;
  for (int i = 0; i < 50 && message.empty(); ++i) {
    code = CodeOf(
        [&] {
          conn->Execute("Insert into HR_Dept (DeptName) values ('" + big +
                        "')");
        },
        &message);
  }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(code, ErrorCode::kUnavailable) << message;
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(message.find(big), std::string::npos) << "the statement is cut";

  EXPECT_EQ(db.Scalar("Select DeptName from HR_Dept where DeptID=1"),
            Variant::String("before"));
  conn->Execute("Insert into HR_Dept (DeptName) values ('after')");
  EXPECT_EQ(db.Scalar("Select COUNT(*) from HR_Dept where DeptName='after'"),
            Variant::Long(1));
}

TEST(SqliteFaultsTest, ANewFileAndItsLogAreTheOwnersAlone) {
  const fs::path dir = fs::temp_directory_path() /
                       ("wrenhaven-mode-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / "office.db").string();
  {
    auto conn = OpenSqlite(file, /*create=*/true);
    CreateSchema(*conn);
    for (const std::string& f : {file, file + "-wal", file + "-shm"}) {
      struct stat st {};
      ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace wrenhaven
