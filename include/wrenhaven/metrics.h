// Counters, gauges and histograms of a running page host, written out in
// the Prometheus text exposition format (version 0.0.4) for the host's
// /metrics address.
//
//   Metrics& metrics = host.metrics();
//   MetricCounter& ok = metrics.Counter("wrenhaven_sign_ins_total",
//                                       "Sign-in attempts by outcome",
//                                       {{"outcome", "success"}});
//   ok.Add();
//   metrics.Gauge("wrenhaven_sessions_open", "Sessions open", {},
//                 [] { return 12.0; });
//
// Counters and histograms live in the registry and are changed without a
// lock; values kept elsewhere are read through a function when the text is
// made. Registration is meant for the start; a name keeps the type and the
// help text it was first registered with.
#ifndef WRENHAVEN_METRICS_H_
#define WRENHAVEN_METRICS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wrenhaven {

// Label names and values of one series, in the order they are written.
using MetricLabels = std::vector<std::pair<std::string, std::string>>;

class MetricCounter {
 public:
  void Add(uint64_t by = 1) { value_.fetch_add(by, std::memory_order_relaxed); }
  uint64_t value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

// Observations counted in buckets by upper bound; written out cumulative,
// with their sum and count.
class MetricHistogram {
 public:
  // `bounds` ascending and finite; the +Inf bucket is implied. Raises kHost
  // otherwise.
  explicit MetricHistogram(std::vector<double> bounds);

  void Observe(double value);

  struct Snapshot {
    std::vector<uint64_t> cumulative;  // one per bound, then +Inf
    double sum = 0;
    uint64_t count = 0;  // cumulative.back()
  };
  Snapshot Read() const;
  const std::vector<double>& bounds() const { return bounds_; }

 private:
  std::vector<double> bounds_;
  std::unique_ptr<std::atomic<uint64_t>[]> buckets_;  // not cumulative
  std::atomic<double> sum_{0};
};

class Metrics {
 public:
  // Request durations in seconds: half a millisecond to ten seconds.
  static const std::vector<double>& DurationBounds();
  // The Content-Type of Text().
  static constexpr std::string_view kContentType =
      "text/plain; version=0.0.4; charset=utf-8";

  Metrics();
  ~Metrics();
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;

  // The counter of `name` with `labels`, made on first use; the same object
  // for the same name and labels. Raises kHost for a name or label name
  // Prometheus does not accept, and for a name already registered as
  // another type or as a read function.
  MetricCounter& Counter(std::string_view name, std::string_view help,
                         const MetricLabels& labels = {});
  MetricHistogram& Histogram(std::string_view name, std::string_view help,
                             const MetricLabels& labels,
                             const std::vector<double>& bounds);
  // A counter or gauge kept elsewhere, read by `read` each time the text is
  // made. A read that raises leaves the series out of that text (and is
  // logged), as does one that gives nullopt. Raises kHost as Counter does,
  // and when the series is registered already.
  using Reader = std::function<std::optional<double>()>;
  void CounterFrom(std::string_view name, std::string_view help,
                   const MetricLabels& labels, Reader read);
  void Gauge(std::string_view name, std::string_view help,
             const MetricLabels& labels, Reader read);

  // Every family in the order registered: "# HELP", "# TYPE", then its
  // series.
  std::string Text() const;

 private:
  struct Family;
  Family& FamilyFor(std::string_view name, std::string_view help,
                    std::string_view type);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Family>> families_;
  std::map<std::string, Family*, std::less<>> by_name_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_METRICS_H_
