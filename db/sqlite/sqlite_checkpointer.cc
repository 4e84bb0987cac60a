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

#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {

struct SqliteCheckpointer::Impl {
  sqlite3* db = nullptr;
  std::string path;
  std::chrono::milliseconds interval{0};
  std::function<void(const std::string&)> on_error;

  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  uint64_t completed = 0;
  // The failure last reported; empty after a checkpoint that went well.
  std::string failing;
  std::thread thread;

  // A passive checkpoint copies what no reader still needs and waits for
  // nobody. Another checkpoint under way (SQLITE_BUSY) is no failure.
  void Checkpoint() {
    int log_frames = 0;
    int copied = 0;
    const int rc = sqlite3_wal_checkpoint_v2(
        db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &log_frames, &copied);
    std::string failure;
    if (rc != SQLITE_OK && rc != SQLITE_BUSY) {
      failure = "Checkpoint of " + path + " failed: " + sqlite3_errmsg(db);
    }
    bool report = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (rc == SQLITE_OK && log_frames > 0 && copied == log_frames) {
        ++completed;
      }
      report = !failure.empty() && failure != failing;
      if (rc != SQLITE_BUSY) failing = failure;
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
  // file after it.
  if (sqlite3_exec(impl.db, "PRAGMA synchronous=NORMAL", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(impl.db);
    sqlite3_close_v2(impl.db);
    Raise(ErrorCode::kDatabase,
          "Cannot prepare " + path + " for checkpoints: " + message);
  }
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
