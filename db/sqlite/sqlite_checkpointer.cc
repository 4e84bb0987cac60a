// Checkpoints of a SQLite write-ahead log, away from the commits. A commit
// that crosses SQLite's own threshold copies the whole log back into the
// database file and flushes it to disk before it returns; under a steady
// stream of sign-ins that made every few hundredth one wait several
// milliseconds, and every writer queued behind it.
#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "db/sqlite/writer_turn.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {

struct SqliteCheckpointer::Impl {
  sqlite3* db = nullptr;
  std::string path;
  std::chrono::milliseconds interval{0};
  std::function<void(const std::string&)> on_error;
  std::string file;  // as SQLite names it: the key of the writer's turn

  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  uint64_t completed = 0;
  // The failure last reported; empty after a checkpoint that went well.
  std::string failing;
  // The size of the log, in pages, when it was last found wholly copied.
  int copied_log = -1;
  std::thread thread;

  struct Outcome {
    int rc = SQLITE_OK;
    int log = 0;     // pages in the log
    int copied = 0;  // of them, in the file now
  };

  // A passive checkpoint copies what no reader still needs and waits for
  // nobody. Another checkpoint under way (SQLITE_BUSY) is no failure.
  Outcome Passive() {
    Outcome out;
    out.rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                       &out.log, &out.copied);
    return out;
  }

  void Checkpoint() {
    Outcome bulk = Passive();
    Outcome last = bulk;
    // Nothing new since the log was last wholly copied: the next commit
    // starts it again from its beginning by itself.
    const bool idle =
        bulk.rc == SQLITE_OK &&
        (bulk.log <= 0 || (bulk.copied == bulk.log && bulk.log == copied_log));
    std::string failure;
    if (!idle && bulk.rc == SQLITE_OK) {
      // Commits made during the bulk copy are copied with the writers held,
      // which is short: a few pages and two flushes.
      try {
        sqlite::InWriterTurn(file, std::chrono::seconds(5),
                             [this, &last] { last = Passive(); });
      } catch (const Error& e) {
        failure = "Checkpoint of " + path + " failed: " + e.what();
      }
    }
    if (failure.empty() && last.rc != SQLITE_OK && last.rc != SQLITE_BUSY) {
      failure = "Checkpoint of " + path + " failed: " + sqlite3_errmsg(db);
    }
    bool report = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!idle && last.rc == SQLITE_OK && last.log > 0 &&
          last.copied == last.log) {
        ++completed;
        copied_log = last.log;
      }
      report = !failure.empty() && failure != failing;
      if (last.rc != SQLITE_BUSY) failing = failure;
    }
    if (report && on_error) on_error(failure);
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop) {
      wake.wait_for(lock, interval, [this] { return stop; });
      lock.unlock();
      Checkpoint();
      lock.lock();
    }
  }
};

SqliteCheckpointer::SqliteCheckpointer(
    const std::string& path, std::chrono::milliseconds interval,
    std::function<void(const std::string&)> on_error)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  impl.path = path;
  impl.interval =
      interval.count() > 0 ? interval : std::chrono::milliseconds(1);
  impl.on_error = std::move(on_error);
  const int rc =
      sqlite3_open_v2(path.c_str(), &impl.db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message =
        impl.db != nullptr ? sqlite3_errmsg(impl.db) : "out of memory";
    sqlite3_close_v2(impl.db);
    Raise(ErrorCode::kDatabase,
          "Cannot open the database " + path + " for checkpoints: " + message);
  }
  // Flushes as the page connections do: the log before the copy, the
  // file after it. A connection finds the log only when it first reads the
  // file; until then a checkpoint silently does nothing.
  if (sqlite3_exec(impl.db, "PRAGMA synchronous=NORMAL; PRAGMA journal_mode",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(impl.db);
    sqlite3_close_v2(impl.db);
    Raise(ErrorCode::kDatabase,
          "Cannot prepare " + path + " for checkpoints: " + message);
  }
  const char* file = sqlite3_db_filename(impl.db, "main");
  impl.file = file != nullptr ? file : "";
  impl.thread = std::thread([&impl] { impl.Run(); });
}

SqliteCheckpointer::~SqliteCheckpointer() {
  Impl& impl = *impl_;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    impl.stop = true;
  }
  impl.wake.notify_all();
  impl.thread.join();
  sqlite3_close_v2(impl.db);
}

uint64_t SqliteCheckpointer::completed() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->completed;
}

}  // namespace wrenhaven
