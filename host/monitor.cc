#include "host/monitor.h"

#include <spdlog/spdlog.h>

#include <charconv>
#include <exception>
#include <memory>
#include <utility>

#include "host/origin.h"
#include "host/page_answer.h"
#include "host/request_log.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {

bool IsLoopback(std::string_view address) {
  if (!IsIpAddress(address)) return false;
  if (address == "::1") return true;
  if (address.starts_with("::ffff:")) address.remove_prefix(7);
  return address.starts_with("127.") && address.find(':') == std::string::npos;
}

Traffic::Traffic(Metrics& metrics) {
  static constexpr const char* kClasses[] = {"1xx", "2xx", "3xx", "4xx", "5xx"};
  for (int k = 0; k < kPageKinds; ++k) {
    const std::string kind(PageKindName(static_cast<PageKind>(k)));
    for (size_t c = 0; c < 5; ++c) {
      requests_[k][c] =
          &metrics.Counter("wrenhaven_http_requests_total",
                           "Requests answered, by page kind and status class",
                           {{"kind", kind}, {"status", kClasses[c]}});
    }
  }
  for (int k = 0; k < kPageKinds; ++k) {
    durations_[k] = &metrics.Histogram(
        "wrenhaven_http_request_duration_seconds",
        "Time from a request's arrival to its answer, by page kind",
        {{"kind", std::string(PageKindName(static_cast<PageKind>(k)))}},
        Metrics::DurationBounds());
  }
}

void Traffic::Record(PageKind kind, int status, std::chrono::nanoseconds took) {
  const auto k = static_cast<size_t>(kind);
  const size_t c =
      status >= 100 && status < 600 ? static_cast<size_t>(status / 100 - 1) : 4;
  requests_[k][c]->Add();
  durations_[k]->Observe(std::chrono::duration<double>(took).count());
}

void AddHostGauges(Metrics& metrics, SessionStore& sessions,
                   const ConnectionPool& pool) {
  metrics.Gauge("wrenhaven_sessions_open",
                "Sessions that have not run out (of every host, where "
                "sessions are kept in the database)",
                {}, [&sessions]() -> std::optional<double> {
                  const auto open = sessions.CountOpen();
                  if (!open) return std::nullopt;
                  return static_cast<double>(*open);
                });
  metrics.Gauge("wrenhaven_db_pool_in_use",
                "Database connections lent to pages", {},
                [&pool] { return static_cast<double>(pool.in_use()); });
  metrics.Gauge("wrenhaven_db_pool_waiting",
                "Pages waiting for a database connection to be made", {},
                [&pool] { return static_cast<double>(pool.waiting()); });
  metrics.Gauge("wrenhaven_db_pool_idle",
                "Database connections kept for the next page", {},
                [&pool] { return static_cast<double>(pool.idle()); });
}

namespace {

HealthCheck::Result Probe(const ConnectionFactory& connections) {
  HealthCheck::Result result;
  if (!connections) {
    result.database = "none";
    return result;
  }
  const auto started = std::chrono::steady_clock::now();
  try {
    std::shared_ptr<Connection> conn = connections();
    if (!conn) Raise(ErrorCode::kHost, "No database connection was made");
    auto rs = conn->Open("SELECT 1", CursorType::kForwardOnly);
    const bool one = !rs->Eof() && rs->Value(0).ToLong() == 1;
    rs->Close();
    if (!one) Raise(ErrorCode::kDatabase, "SELECT 1 did not give 1");
    result.healthy = true;
    result.database = "ok";
    result.seconds = std::chrono::duration<double>(
                         std::chrono::steady_clock::now() - started)
                         .count();
  } catch (const std::exception& e) {
    spdlog::warn("Health check: the database did not answer: {}",
                 LogSafe(e.what()));
    result.database = "failed";
  } catch (...) {
    spdlog::warn("Health check: the database did not answer");
    result.database = "failed";
  }
  return result;
}

}  // namespace

HealthCheck::HealthCheck(ConnectionFactory connections,
                         std::chrono::milliseconds limit)
    : connections_(std::move(connections)), limit_(limit) {}

HealthCheck::~HealthCheck() {
  if (thread_.joinable()) thread_.join();
}

HealthCheck::Result HealthCheck::Run() {
  std::shared_future<Result> check;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool running =
        current_.valid() &&
        current_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    if (!running) {
      if (thread_.joinable()) thread_.join();  // ended already
      auto promise = std::make_shared<std::promise<Result>>();
      current_ = promise->get_future().share();
      thread_ = std::thread([promise, connections = connections_] {
        promise->set_value(Probe(connections));
      });
    }
    check = current_;
  }
  if (check.wait_for(limit_) != std::future_status::ready) {
    spdlog::warn("Health check: the database gave no answer within {} ms",
                 limit_.count());
    Result late;
    late.database = "no answer";
    return late;
  }
  return check.get();
}

std::string HealthCheck::Json(const Result& result) {
  char seconds[32];
  const auto end = std::to_chars(seconds, seconds + sizeof seconds,
                                 result.seconds, std::chars_format::fixed, 4);
  return std::string("{\"status\":\"") +
         (result.healthy ? "ok" : "unavailable") + "\",\"database\":\"" +
         result.database + "\",\"seconds\":" + std::string(seconds, end.ptr) +
         "}\n";
}

}  // namespace wrenhaven::host
