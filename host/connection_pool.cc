#include "host/connection_pool.h"

#include <condition_variable>
#include <cstdint>
#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven {

// Writers take turns in the order they came: a ticket each, served in
// ticket order, so that under a steady stream of writes none waits for
// more than the ones before it.
class WriterTurn {
 public:
  void Take() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t mine = next_++;
    turn_changed_.wait(lock, [&] { return serving_ == mine; });
  }
  void Give() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++serving_;
    }
    turn_changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_changed_;
  uint64_t next_ = 0;
  uint64_t serving_ = 0;
};

namespace {

// A connection whose writes take turns with those of its siblings.
class WriterTurnConnection : public Connection {
 public:
  WriterTurnConnection(std::shared_ptr<Connection> inner,
                       std::shared_ptr<WriterTurn> turn)
      : inner_(std::move(inner)), turn_(std::move(turn)) {}

  void Execute(std::string_view statement) override {
    InWriterTurn(*turn_, [&] { inner_->Execute(statement); });
  }
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override {
    return inner_->Open(statement, cursor);
  }
  const Dialect& dialect() const override { return inner_->dialect(); }

 private:
  std::shared_ptr<Connection> inner_;
  std::shared_ptr<WriterTurn> turn_;
};

}  // namespace

std::shared_ptr<WriterTurn> NewWriterTurn() {
  return std::make_shared<WriterTurn>();
}

void InWriterTurn(WriterTurn& turn, const std::function<void()>& work) {
  turn.Take();
  struct Release {
    WriterTurn& turn;
    ~Release() { turn.Give(); }
  } release{turn};
  work();
}

ConnectionFactory SerialiseWriters(ConnectionFactory make) {
  return SerialiseWriters(std::move(make), NewWriterTurn());
}

ConnectionFactory SerialiseWriters(ConnectionFactory make,
                                   std::shared_ptr<WriterTurn> turn) {
  if (!turn) turn = NewWriterTurn();
  return [make = std::move(make), turn]() -> std::shared_ptr<Connection> {
    std::shared_ptr<Connection> inner = make();
    if (!inner) return nullptr;
    return std::make_shared<WriterTurnConnection>(std::move(inner), turn);
  };
}

namespace host {

ConnectionPool::ConnectionPool(ConnectionFactory make, size_t max_idle)
    : make_(std::move(make)), max_idle_(max_idle) {}

std::shared_ptr<Connection> ConnectionPool::Acquire() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      std::shared_ptr<Connection> conn = std::move(idle_.back());
      idle_.pop_back();
      return conn;
    }
  }
  if (!make_) Raise(ErrorCode::kHost, "This host has no database");
  std::shared_ptr<Connection> conn = make_();
  if (!conn) Raise(ErrorCode::kHost, "No database connection could be made");
  return conn;
}

void ConnectionPool::Release(std::shared_ptr<Connection> conn) {
  if (!conn || conn.use_count() != 1) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() < max_idle_) idle_.push_back(std::move(conn));
}

size_t ConnectionPool::idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

}  // namespace host
}  // namespace wrenhaven
