// The single writer's turn of one SQLite database file within this
// process. SQLite lets one connection write at a time; connections that
// find the file taken sleep in its busy handler and may give up with
// "database is locked". Taking turns here instead queues the writers of
// the process in the order they came, so none waits longer than the ones
// before it. Between processes, SQLite's own lock and busy handler still
// decide.
#ifndef WRENHAVEN_DB_SQLITE_WRITER_TURN_H_
#define WRENHAVEN_DB_SQLITE_WRITER_TURN_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace wrenhaven::sqlite {

class WriterTurn {
 public:
  // Waits for the turn, at most `patience`. Raises kUnavailable when the
  // wait runs out, and kDatabase when the calling thread holds the turn
  // already (through another connection: waiting would never end).
  void Take(std::chrono::milliseconds patience);
  // REQUIRES: the turn was taken by this thread.
  void Give();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint64_t> waiting_;  // tickets, in the order they came
  uint64_t next_ticket_ = 0;
  bool held_ = false;
  std::thread::id holder_;
};

// The turn of the database file `file` (an absolute name, as SQLite
// reports it); nullptr for "" (a database in memory or a temporary one,
// which no other connection shares).
std::shared_ptr<WriterTurn> WriterTurnFor(const std::string& file);

// Runs `work` in the turn of `file` (directly, if it has none), waiting for
// the turn at most `patience`.
void InWriterTurn(const std::string& file, std::chrono::milliseconds patience,
                  const std::function<void()>& work);

}  // namespace wrenhaven::sqlite

#endif  // WRENHAVEN_DB_SQLITE_WRITER_TURN_H_
