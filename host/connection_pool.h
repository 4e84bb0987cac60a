// The host's database connections: made on demand by the factory, lent to
// one page at a time, kept for the next page when the page went well.
#ifndef WRENHAVEN_HOST_CONNECTION_POOL_H_
#define WRENHAVEN_HOST_CONNECTION_POOL_H_

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
  // Gives a connection back after a page that went well. Connections still
  // referenced elsewhere (kept by an object past its page) are not reused.
  void Release(std::shared_ptr<Connection> conn);

  size_t idle() const;

 private:
  ConnectionFactory make_;
  const size_t max_idle_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> idle_;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_CONNECTION_POOL_H_
