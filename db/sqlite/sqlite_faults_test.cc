// The SQLite file in trouble: a lock another program holds, a disk that is
// full, a file that may not be written. Each gives a clear error that says the
// database cannot serve just now, and the same connection works again once the
// cause is gone. New files are readable by their owner only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The file cannot be written (write-protected by its owner, or immutable
// for root, who ignores permissions): reads go on, a write fails as
// unavailable, and once the file may be written again a new connection
// (the page host takes one after a failed page) writes.
TEST(SqliteFaultsTest, AReadOnlyFileIsUnavailableUntilItMayBeWrittenAgain) {
  TestDb db;
  db.conn()->Execute("Insert into HR_Dept (DeptName) values ('before')");
  const bool root = geteuid() == 0;
  const int fd = open(db.path().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  const auto protect = [&](bool on) {
    if (!root) {
      fs::permissions(db.path(),
                      on ? fs::perms::owner_read
                         : fs::perms::owner_read | fs::perms::owner_write);
      return true;
    }
    int changed = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ioctl(fd, FS_IOC_SETFLAGS, &changed) == 0;
  };
  if (root && (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 || !protect(true))) {
    close(fd);
    GTEST_SKIP() << "this file system cannot make a file immutable";
  }
  std::string message;
  ErrorCode code = ErrorCode::kHost;
  {
    SqliteOptions options;
    options.create = false;
    std::shared_ptr<Connection> conn;
    code = CodeOf(
        [&] {
          conn = OpenSqlite(db.path(), options);
          EXPECT_EQ(
              conn->Open("Select DeptName from HR_Dept", CursorType::kStatic)
                  ->Value(0),
              Variant::String("before"));
          conn->Execute("Insert into HR_Dept (DeptName) values ('during')");
        },
        &message);
  }
  const bool unprotected = protect(false);
  close(fd);
  ASSERT_TRUE(unprotected);
  EXPECT_EQ(code, ErrorCode::kUnavailable) << message;
  EXPECT_NE(message.find("readonly"), std::string::npos) << message;

  SqliteOptions options;
  options.create = false;
  auto again = OpenSqlite(db.path(), options);
  again->Execute("Insert into HR_Dept (DeptName) values ('after')");
  EXPECT_EQ(db.Scalar("Select COUNT(*) from HR_Dept where DeptName in "
                      "('before','after')"),
            Variant::Long(2));
  EXPECT_EQ(db.Scalar("Select COUNT(*) from HR_Dept where DeptName='during'"),
            Variant::Long(0));
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
