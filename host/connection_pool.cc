#include "host/connection_pool.h"

#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven::host {

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

}  // namespace wrenhaven::host
