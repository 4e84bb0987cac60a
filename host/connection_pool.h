// The host's database connections: made on demand by the factory, lent to
// one page at a time, kept for the next page when the page went well. At
// most `max_open` are open (lent or idle) at once; a page that finds them
// all lent waits for one to come back, up to `wait`, and then fails with
// kUnavailable (the host answers 503 with Retry-After), so that the servers
// of one office stay within what the database allows.
#ifndef WRENHAVEN_HOST_CONNECTION_POOL_H_
#define WRENHAVEN_HOST_CONNECTION_POOL_H_

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven::host {

class ConnectionPool {
 public:
  // `max_open` 0 is taken as 1.
  ConnectionPool(ConnectionFactory make, size_t max_open,
                 std::chrono::milliseconds wait);

  // An idle connection, or a new one from the factory while fewer than
  // `max_open` are open, or the first one given back within the wait.
  // Raises kUnavailable when the wait runs out, kHost when there is no
  // factory or it gives nothing; the factory's own error passes through.
  // Every connection acquired must be given back with Release or Discard.
  std::shared_ptr<Connection> Acquire();
  // Gives a connection back after a page that went well. Connections still
  // referenced elsewhere (kept by an object past its page) are not reused
  // and no longer counted.
  void Release(std::shared_ptr<Connection> conn);
  // Gives a connection back that must not be reused (its page failed); a
  // null one is ignored.
  void Discard(std::shared_ptr<Connection> conn);

  size_t idle() const;
  // Lent and idle.
  size_t open() const;
  // Lent and not given back.
  size_t in_use() const;
  // Callers of Acquire waiting for a connection to come free.
  size_t waiting() const;

 private:
  void Returned();

  ConnectionFactory make_;
  const size_t max_open_;
  const std::chrono::milliseconds wait_;
  mutable std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::shared_ptr<Connection>> idle_;
  size_t lent_ = 0;
  size_t waiting_ = 0;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_CONNECTION_POOL_H_
