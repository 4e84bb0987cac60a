#include "host/connection_pool.h"

#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

// Counts one caller in `count` for as long as it lives.
class Counted {
 public:
  explicit Counted(std::atomic<size_t>& count) : count_(count) { ++count_; }
  ~Counted() { --count_; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 private:
  std::atomic<size_t>& count_;
};

}  // namespace

ConnectionPool::ConnectionPool(ConnectionFactory make, size_t max_idle)
    : make_(std::move(make)), max_idle_(max_idle) {}

std::shared_ptr<Connection> ConnectionPool::Acquire() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      std::shared_ptr<Connection> conn = std::move(idle_.back());
      idle_.pop_back();
      ++in_use_;
      return conn;
    }
  }
  if (!make_) Raise(ErrorCode::kHost, "This host has no database");
  std::shared_ptr<Connection> conn;
  {
    const Counted waiting(waiting_);
    conn = make_();
  }
  if (!conn) Raise(ErrorCode::kHost, "No database connection could be made");
  ++in_use_;
  return conn;
}

void ConnectionPool::Release(std::shared_ptr<Connection> conn, bool reuse) {
  if (!conn) return;
  --in_use_;
  if (!reuse || conn.use_count() != 1) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() < max_idle_) idle_.push_back(std::move(conn));
}

size_t ConnectionPool::idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

}  // namespace wrenhaven::host
