// The host's database connections: made on demand by the factory, lent to
// one page at a time, kept for the next page when the page went well.
#ifndef WRENHAVEN_HOST_CONNECTION_POOL_H_
#define WRENHAVEN_HOST_CONNECTION_POOL_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven::host {

class ConnectionPool {
 public:
  // Keeps at most `max_idle` connections between pages.
  ConnectionPool(ConnectionFactory make, size_t max_idle);

  // An idle connection, or a new one from the factory. Raises kHost when
  // there is no factory or it gives nothing; the factory's own error passes
  // through.
  std::shared_ptr<Connection> Acquire();
  // Gives back a connection that Acquire lent: kept for the next page when
  // `reuse` (after a page that went well), dropped otherwise. Connections
  // still referenced elsewhere (kept by an object past its page) are not
  // reused. Nothing happens for nullptr.
  void Release(std::shared_ptr<Connection> conn, bool reuse = true);

  size_t idle() const;
  // Connections lent and not given back.
  size_t in_use() const { return in_use_.load(std::memory_order_relaxed); }
  // Callers of Acquire still waiting for a connection (while the factory
  // makes one: the pool lends as many as are asked for).
  size_t waiting() const { return waiting_.load(std::memory_order_relaxed); }

 private:
  ConnectionFactory make_;
  const size_t max_idle_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> idle_;
  std::atomic<size_t> in_use_{0};
  std::atomic<size_t> waiting_{0};
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_CONNECTION_POOL_H_
