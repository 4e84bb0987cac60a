// What the operators' endpoints of a host answer, and the host's own
// metrics: requests and their durations per page kind, sessions open, the
// database connections in use and waiting.
#ifndef WRENHAVEN_HOST_MONITOR_H_
#define WRENHAVEN_HOST_MONITOR_H_

#include <array>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/connection_pool.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/metrics.h"
#include "wrenhaven/session_store.h"

namespace wrenhaven::host {

// 127.0.0.0/8, ::1 and 127.x.x.x mapped into IPv6.
bool IsLoopback(std::string_view address);

// Requests by page kind and status class (wrenhaven_http_requests_total)
// and their durations by page kind
// (wrenhaven_http_request_duration_seconds).
class Traffic {
 public:
  explicit Traffic(Metrics& metrics);
  void Record(PageKind kind, int status, std::chrono::nanoseconds took);

 private:
  // 1xx to 5xx; anything else counts as 5xx.
  std::array<std::array<MetricCounter*, 5>, kPageKinds> requests_{};
  std::array<MetricHistogram*, kPageKinds> durations_{};
};

// wrenhaven_sessions_open (left out of the text when the store cannot
// count) and wrenhaven_db_pool_in_use, _waiting and _idle.
void AddHostGauges(Metrics& metrics, SessionStore& sessions,
                   const ConnectionPool& pool);

// Whether the database answers: a connection made afresh by the factory
// runs "SELECT 1". A check that has not ended within the limit is
// answered as unhealthy; it goes on in its own thread, and requests that
// come meanwhile wait for that same check rather than start another.
class HealthCheck {
 public:
  HealthCheck(ConnectionFactory connections, std::chrono::milliseconds limit);
  // Waits for a check under way.
  ~HealthCheck();
  HealthCheck(const HealthCheck&) = delete;
  HealthCheck& operator=(const HealthCheck&) = delete;

  struct Result {
    bool healthy = false;
    std::string database;  // "ok", "failed", "no answer", "none"
    double seconds = 0;    // the check's time, when it ended in time
  };
  Result Run();
  // {"status":"ok","database":"ok","seconds":0.0012}; status "unavailable"
  // when not healthy.
  static std::string Json(const Result& result);

 private:
  ConnectionFactory connections_;
  const std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::shared_future<Result> current_;
  std::thread thread_;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_MONITOR_H_
