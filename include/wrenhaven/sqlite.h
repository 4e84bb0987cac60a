// The embedded default database: one SQLite file.
#ifndef WRENHAVEN_SQLITE_H_
#define WRENHAVEN_SQLITE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "wrenhaven/connection.h"

namespace wrenhaven {

// Opens the database file at `path`, creating it when `create` is true and
// it does not exist, in WAL mode with foreign keys enforced as the schema
// declares them. Raises an Error with SQLite's message when the file cannot
// be opened. The connection is for one thread at a time.
//
// The connections of one process to one file write one at a time: a
// statement that writes, and a transaction from Begin to its end, waits
// for the writer's turn (in the order the writers came, at most
// SqliteOptions::busy_timeout, then kUnavailable) rather than for SQLite's
// lock. A transaction starts
// with BEGIN IMMEDIATE, so once begun it never gives way to another writer.
// Transactions are begun and ended with Connection::Begin, Commit and
// Rollback only; a transaction statement sent to Execute or Open raises.
//
// Values come back as: whole numbers as Long (Double beyond 32 bits), reals
// as Double, text as String, NULL as Null; columns declared DATETIME,
// DATE or TIMESTAMP, and unnamed expressions over them that yield
// "YYYY-MM-DD HH:MM:SS" (MAX(loginTime)), as dates.
std::shared_ptr<Connection> OpenSqlite(const std::string& path,
                                       bool create = true);

struct SqliteOptions {
  // Create the file when it does not exist.
  bool create = true;
  // Leave copying the write-ahead log back into the database file to a
  // SqliteCheckpointer, so that no commit waits for that copy and its
  // flush to disk. The connection still copies the log itself once it
  // passes 10,000 pages (about 40 MB), should the checkpointer fall behind.
  bool background_checkpoints = false;
  // How long a writer waits for the writer's turn, and for a lock held by
  // another process, before it gives up.
  std::chrono::milliseconds busy_timeout{5000};
};

std::shared_ptr<Connection> OpenSqlite(const std::string& path,
                                       const SqliteOptions& options);

// Copies the write-ahead log of one database file back into the file from
// a thread of its own, every `interval`, and once more when it is
// destroyed. The partner of connections opened
// with background_checkpoints.
//
// Most of the log is copied while readers and writers go on. The log can
// only start again from its beginning (rather than grow) once all of it
// has been copied, which commits arriving during the copy prevent; so the
// last few pages are copied in the writer's turn of the process's
// connections to the file, while none of them writes. Writers of other
// processes are not held: under their writes the log may grow until the
// connections' own threshold.
//
// The constructor raises an Error when the file cannot be opened; later
// failures go to `on_error` with SQLite's message, once for each run of
// failures.
class SqliteCheckpointer {
 public:
  SqliteCheckpointer(const std::string& path,
                     std::chrono::milliseconds interval,
                     std::function<void(const std::string&)> on_error);
  ~SqliteCheckpointer();
  SqliteCheckpointer(const SqliteCheckpointer&) = delete;
  SqliteCheckpointer& operator=(const SqliteCheckpointer&) = delete;

  // Checkpoints so far that left the whole log copied.
  uint64_t completed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// How a backup or a restore copies: so many pages at a time, with a pause
// between the steps so that the office's writers are never kept waiting.
struct SqliteBackupOptions {
  int pages_per_step = 256;  // 1 MiB at SQLite's usual 4 KiB pages
  std::chrono::milliseconds pause{10};
  // How long a step may wait for a lock held by another process (outside
  // WAL mode) before the copy gives up.
  std::chrono::milliseconds busy_timeout{5000};
};

// Copies the office in the SQLite file `from` to the new file `to` while
// it serves: other connections, in this process and others, go on reading
// and writing. The copy is the database as it stood when the copy began
// (every transaction committed before then, none after). It is written
// under a temporary name beside `to`, must pass PRAGMA integrity_check,
// and only then takes the name `to`. Raises an Error saying what failed
// when `from` cannot be read, `to` already exists or cannot be written, or
// the copy is damaged; nothing is left at `to` or beside it then.
void BackupSqlite(const std::string& from, const std::string& to,
                  const SqliteBackupOptions& options = {});

// Restores the backup `from` (a SQLite office that passes integrity_check)
// as the file `to`, the same way. `to` may exist only when it holds no
// people (an empty file, or office tables without a person); it is then
// replaced. Raises an Error, leaving `to` as it was, otherwise.
void RestoreSqlite(const std::string& from, const std::string& to,
                   const SqliteBackupOptions& options = {});

}  // namespace wrenhaven

#endif  // WRENHAVEN_SQLITE_H_
