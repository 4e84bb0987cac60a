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
};

std::shared_ptr<Connection> OpenSqlite(const std::string& path,
                                       const SqliteOptions& options);

// Copies the write-ahead log of one database file back into the file from
// a thread of its own, every `interval`, and once more when it is
// destroyed. The partner of connections opened with background_checkpoints.
//
// Most of the log is copied while readers and writers go on. The log can
// only start again from its beginning (rather than grow) once all of it
// has been copied, which commits arriving during the copy prevent; so the
// last few pages are copied inside `hold_writers`, a function that runs
// what it is given while no connection writes (InWriterTurn with the turn
// of the connections' SerialiseWriters). Without it the log is still
// copied, but under writes without a break it grows until the connections'
// own threshold.
//
// The constructor raises an Error when the file cannot be opened; later
// failures go to `on_error` with SQLite's message, once for each run of
// failures.
class SqliteCheckpointer {
 public:
  using WriterHold = std::function<void(const std::function<void()>&)>;

  SqliteCheckpointer(const std::string& path,
                     std::chrono::milliseconds interval,
                     std::function<void(const std::string&)> on_error,
                     WriterHold hold_writers = nullptr);
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
