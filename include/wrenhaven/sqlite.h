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

}  // namespace wrenhaven

#endif  // WRENHAVEN_SQLITE_H_
