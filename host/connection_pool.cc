#include "host/connection_pool.h"

#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven::host {

ConnectionPool::ConnectionPool(ConnectionFactory make, size_t max_open,
                               std::chrono::milliseconds wait)
    : make_(std::move(make)),
      max_open_(max_open > 0 ? max_open : 1),
      wait_(wait) {}

std::shared_ptr<Connection> ConnectionPool::Acquire() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    const bool free = returned_.wait_for(lock, wait_, [this] {
      return !idle_.empty() || lent_ + idle_.size() < max_open_;
    });
    --waiting_;
    if (!free) {
      Raise(ErrorCode::kUnavailable,
            "Every database connection of this server is in use; none came "
            "free within " +
                std::to_string(wait_.count()) + " ms");
    }
    ++lent_;
    if (!idle_.empty()) {
      std::shared_ptr<Connection> conn = std::move(idle_.back());
      idle_.pop_back();
      return conn;
    }
  }
  // The slot is taken; the connection is made outside the lock.
  std::shared_ptr<Connection> conn;
  try {
    if (!make_) Raise(ErrorCode::kHost, "This host has no database");
    conn = make_();
    if (!conn) Raise(ErrorCode::kHost, "No database connection could be made");
  } catch (...) {
    Returned();
    throw;
  }
  return conn;
}

void ConnectionPool::Returned() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --lent_;
  }
  returned_.notify_one();
}

void ConnectionPool::Release(std::shared_ptr<Connection> conn) {
  if (!conn) return;
  if (conn.use_count() != 1) {
    Returned();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --lent_;
    idle_.push_back(std::move(conn));
  }
  returned_.notify_one();
}

void ConnectionPool::Discard(std::shared_ptr<Connection> conn) {
  if (!conn) return;
  conn.reset();
  Returned();
}

size_t ConnectionPool::idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

size_t ConnectionPool::open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lent_ + idle_.size();
}

size_t ConnectionPool::in_use() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lent_;
}

size_t ConnectionPool::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

}  // namespace wrenhaven::host
