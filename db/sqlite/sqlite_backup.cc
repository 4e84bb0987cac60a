// Online copies of a SQLite office, with SQLite's backup API: a step of
// pages at a time, written under a temporary name beside the target and
// given the target's name only once whole and sound.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

[[noreturn]] void Fail(std::string message) {
  Raise(ErrorCode::kDatabase, std::move(message));
}

std::string Message(sqlite3* db) {
  return db ? sqlite3_errmsg(db) : "out of memory";
}

// A database handle that closes when it goes.
class Handle {
 public:
  Handle(const std::string& path, int flags, const std::string& what) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      const std::string message = Message(db_);
      Close();
      Fail("Cannot open " + what + " " + path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
  }
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  sqlite3* get() const { return db_; }
  void Close() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The first column of every row of `sql`.
std::vector<std::string> Column(sqlite3* db, const char* sql,
                                const std::string& what) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    Fail("Cannot read " + what + ": " + Message(db));
  }
  std::vector<std::string> out;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    out.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) Fail("Cannot read " + what + ": " + Message(db));
  return out;
}

void Exec(sqlite3* db, const char* sql, const std::string& what) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("Cannot read " + what + ": " + Message(db));
  }
}

bool HasTable(sqlite3* db, const char* table, const std::string& what) {
  const std::string sql =
      std::string(
          "SELECT count(*) FROM sqlite_master WHERE type='table' AND "
          "name='") +
      table + "' COLLATE NOCASE";
  return Column(db, sql.c_str(), what).at(0) != "0";
}

// `what` names the file, as "the copy of office.db".
void RequireSound(sqlite3* db, const std::string& what) {
  const std::vector<std::string> rows =
      Column(db, "PRAGMA integrity_check", what);
  if (rows.size() != 1 || rows[0] != "ok") {
    std::string name = what;
    name[0] =
        static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    Fail(name + " fails the integrity check: " +
         (rows.empty() ? std::string("no answer") : rows[0]));
  }
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The temporary copy and what SQLite kept beside it, removed unless kept.
class TemporaryCopy {
 public:
  explicit TemporaryCopy(const std::string& target) {
    std::string pattern = target + ".partial-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
      Fail("Cannot write beside " + target + ": " + std::strerror(errno));
    }
    close(fd);  // an empty file is an empty database; mode 0600
    path_ = pattern;
  }
  ~TemporaryCopy() {
    if (path_.empty()) return;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      unlink((path_ + suffix).c_str());
    }
  }
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;

  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Makes a rename or link of a file in `target`'s folder last.
void SyncFolderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

// Copies the office in `from` into the file at `temp`, step by step.
void CopyInto(const std::string& from, const std::string& temp,
              const SqliteBackupOptions& options) {
  if (options.pages_per_step < 1) {
    Fail("A backup copies at least one page at a time");
  }
  const std::string source_name = "the database " + from;
  Handle source(from, SQLITE_OPEN_READWRITE, "the database");
  sqlite3_busy_timeout(source.get(),
                       static_cast<int>(options.busy_timeout.count()));
  if (!HasTable(source.get(), "HR_person", source_name)) {
    Fail(from + " holds no office (it has no HR_person table)");
  }
  Handle copy(temp, SQLITE_OPEN_READWRITE, "the copy");

  // In WAL mode one read transaction spans the whole copy: every step
  // reads the same snapshot, so commits of other connections never make
  // the copy start over, and a reader never holds up a writer.
  const bool wal =
      Column(source.get(), "PRAGMA journal_mode", source_name).at(0) == "wal";
  if (wal) {
    Exec(source.get(), "BEGIN", source_name);
    Column(source.get(), "SELECT count(*) FROM sqlite_master", source_name);
  }

  sqlite3_backup* backup =
      sqlite3_backup_init(copy.get(), "main", source.get(), "main");
  if (backup == nullptr) {
    Fail("Cannot copy " + from + ": " + Message(copy.get()));
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point waiting_since{};
  bool waiting = false;
  while (true) {
    const int rc = sqlite3_backup_step(backup, options.pages_per_step);
    if (rc == SQLITE_DONE) break;
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
      if (!waiting) waiting_since = Clock::now();
      waiting = true;
      if (Clock::now() - waiting_since > options.busy_timeout) {
        sqlite3_backup_finish(backup);
        Fail("Cannot copy " + from + ": it stayed locked for longer than " +
             std::to_string(options.busy_timeout.count()) + " ms");
      }
    } else if (rc != SQLITE_OK) {
      sqlite3_backup_finish(backup);
      Fail("Cannot copy " + from + ": " + sqlite3_errstr(rc));
    } else {
      waiting = false;
    }
    std::this_thread::sleep_for(options.pause);
  }
  if (sqlite3_backup_finish(backup) != SQLITE_OK) {
    Fail("Cannot copy " + from + ": " + Message(copy.get()));
  }
  if (wal) Exec(source.get(), "COMMIT", source_name);
  source.Close();
  RequireSound(copy.get(), "the copy of " + from);
  copy.Close();
}

}  // namespace

void BackupSqlite(const std::string& from, const std::string& to,
                  const SqliteBackupOptions& options) {
  if (to.empty()) Fail("No file named for the backup");
  if (Exists(to)) {
    Fail("The backup " + to +
         " already exists; name a new file or remove the old one");
  }
  TemporaryCopy temp(to);
  CopyInto(from, temp.path(), options);
  // A link, unlike a rename, never replaces a file that appeared meanwhile.
  if (link(temp.path().c_str(), to.c_str()) != 0) {
    const int error = errno;
    if (error == EEXIST) {
      Fail("The backup " + to + " appeared while the copy was made");
    }
    if (Exists(to) || rename(temp.path().c_str(), to.c_str()) != 0) {
      Fail("Cannot name the backup " + to + ": " + std::strerror(error));
    }
    temp.Keep();
  }
  SyncFolderOf(to);
}

void RestoreSqlite(const std::string& from, const std::string& to,
                   const SqliteBackupOptions& options) {
  if (to.empty()) Fail("No file named to restore to");
  {
    Handle backup(from, SQLITE_OPEN_READWRITE, "the backup");
    RequireSound(backup.get(), "the backup " + from);
  }
  if (Exists(to)) {
    Handle target(to, SQLITE_OPEN_READWRITE, "the database");
    const std::string what = "the database " + to;
    if (HasTable(target.get(), "HR_person", what) &&
        Column(target.get(), "SELECT count(*) FROM HR_person", what).at(0) !=
            "0") {
      Fail(to + " already holds people; restore into a new file");
    }
    target.Close();
    // A log left beside it belongs to a connection still open on it; the
    // restored file would be read through that log.
    if (Exists(to + "-wal")) {
      Fail(to +
           " is in use (its write-ahead log is there); stop what uses "
           "it first");
    }
  }
  TemporaryCopy temp(to);
  CopyInto(from, temp.path(), options);
  unlink((to + "-shm").c_str());
  if (rename(temp.path().c_str(), to.c_str()) != 0) {
    Fail("Cannot name the restored database " + to + ": " +
         std::strerror(errno));
  }
  temp.Keep();
  SyncFolderOf(to);
}

}  // namespace wrenhaven
