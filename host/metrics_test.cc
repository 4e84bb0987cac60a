// The metrics registry and its text: the exposition format as Prometheus
// reads it, cumulative buckets, and what is refused at registration.
#include "wrenhaven/metrics.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

TEST(MetricsTest, TheTextOfEachKind) {
  Metrics metrics;
  metrics
      .Counter("app_logins_total", "Sign-ins\nby outcome \\ kind",
               {{"outcome", "success"}})
      .Add(3);
  metrics.Counter("app_logins_total", "ignored", {{"outcome", "failure"}});
  metrics.Gauge("app_open", "Open now", {}, [] { return 2.5; });
  MetricHistogram& h = metrics.Histogram("app_seconds", "Durations",
                                         {{"kind", "a\"b\\c\nd"}}, {0.125, 1});
  h.Observe(0.0625);
  h.Observe(0.125);  // on a bound: counted in it
  h.Observe(0.5);
  h.Observe(7);
  metrics.CounterFrom("app_hits_total", "Hits", {}, [] { return 12.0; });
  EXPECT_EQ(metrics.Text(),
            "# HELP app_logins_total Sign-ins\\nby outcome \\\\ kind\n"
            "# TYPE app_logins_total counter\n"
            "app_logins_total{outcome=\"success\"} 3\n"
            "app_logins_total{outcome=\"failure\"} 0\n"
            "# HELP app_open Open now\n"
            "# TYPE app_open gauge\n"
            "app_open 2.5\n"
            "# HELP app_seconds Durations\n"
            "# TYPE app_seconds histogram\n"
            "app_seconds_bucket{kind=\"a\\\"b\\\\c\\nd\",le=\"0.125\"} 2\n"
            "app_seconds_bucket{kind=\"a\\\"b\\\\c\\nd\",le=\"1\"} 3\n"
            "app_seconds_bucket{kind=\"a\\\"b\\\\c\\nd\",le=\"+Inf\"} 4\n"
            "app_seconds_sum{kind=\"a\\\"b\\\\c\\nd\"} 7.6875\n"
            "app_seconds_count{kind=\"a\\\"b\\\\c\\nd\"} 4\n"
            "# HELP app_hits_total Hits\n"
            "# TYPE app_hits_total counter\n"
            "app_hits_total 12\n");
}

TEST(MetricsTest, TheSameSeriesIsTheSameCounter) {
  Metrics metrics;
  MetricCounter& a = metrics.Counter("x_total", "X", {{"k", "1"}});
  MetricCounter& b = metrics.Counter("x_total", "X", {{"k", "1"}});
  MetricCounter& c = metrics.Counter("x_total", "X", {{"k", "2"}});
  EXPECT_EQ(&a, &b);
  EXPECT_NE(&a, &c);
  EXPECT_EQ(&metrics.Histogram("h", "H", {}, {1, 2}),
            &metrics.Histogram("h", "H", {}, {1, 2}));
}

TEST(MetricsTest, RefusedAtRegistration) {
  Metrics metrics;
  metrics.Counter("taken_total", "T");
  metrics.Gauge("reads", "R", {}, [] { return 1.0; });
  const auto refused = [&](auto&& call) { EXPECT_THROW(call(), Error); };
  refused([&] { metrics.Counter("", "bad"); });
  refused([&] { metrics.Counter("9lives", "bad"); });
  refused([&] { metrics.Counter("with-dash", "bad"); });
  refused([&] { metrics.Counter("ok_total", "bad", {{"le-x", "1"}}); });
  refused([&] { metrics.Counter("ok_total", "bad", {{"__name", "1"}}); });
  refused([&] {
    metrics.Counter("ok_total", "bad", {{"v", std::string(2000, 'x')}});
  });
  refused([&] { metrics.Histogram("h", "bad", {{"le", "1"}}, {1}); });
  refused([&] { metrics.Histogram("h2", "bad", {}, {2, 1}); });
  refused([&] { metrics.Histogram("h3", "bad", {}, {1, 1}); });
  // A name keeps its type.
  refused([&] { metrics.Gauge("taken_total", "bad", {}, [] { return 1.0; }); });
  refused([&] { metrics.Histogram("taken_total", "bad", {}, {1}); });
  // A series is read from one place.
  refused([&] { metrics.Gauge("reads", "R", {}, [] { return 2.0; }); });
  refused([&] {
    metrics.CounterFrom("taken_total", "T", {{"a", "b"}}, [] { return 1.0; });
  });
  metrics.CounterFrom("from_total", "F", {}, [] { return 1.0; });
  refused([&] { metrics.Counter("from_total", "F", {{"a", "b"}}); });
  // Nothing of a refused registration is left in the text.
  EXPECT_EQ(metrics.Text().find("ok_total"), std::string::npos);
  EXPECT_EQ(metrics.Text().find("h2"), std::string::npos);
  // Names with colons are recording rules' names, and allowed.
  EXPECT_NO_THROW(metrics.Counter("job:requests:rate", "R"));
}

TEST(MetricsTest, AReadThatFailsLeavesOnlyItsSeriesOut) {
  Metrics metrics;
  metrics.Gauge("up", "U", {{"part", "a"}}, [] { return 1.0; });
  metrics.Gauge("up", "U", {{"part", "b"}}, []() -> std::optional<double> {
    throw std::runtime_error("database is gone");
  });
  metrics.Gauge("up", "U", {{"part", "c"}},
                []() -> std::optional<double> { return std::nullopt; });
  metrics.Gauge("up", "U", {{"part", "d"}}, [] { return 0.0; });
  EXPECT_EQ(
      metrics.Text(),
      "# HELP up U\n# TYPE up gauge\nup{part=\"a\"} 1\nup{part=\"d\"} 0\n");
}

TEST(MetricsTest, CountsFromManyThreadsAddUp) {
  Metrics metrics;
  MetricCounter& counter = metrics.Counter("n_total", "N");
  MetricHistogram& h = metrics.Histogram("d", "D", {}, {0.5});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        counter.Add();
        h.Observe(i % 2 == 0 ? 0.25 : 1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter.value(), 40000u);
  const MetricHistogram::Snapshot snap = h.Read();
  EXPECT_EQ(snap.cumulative, (std::vector<uint64_t>{20000, 40000}));
  EXPECT_EQ(snap.count, 40000u);
  EXPECT_DOUBLE_EQ(snap.sum, 20000 * 0.25 + 20000);
}

TEST(MetricsTest, DurationBoundsRiseFromHalfAMillisecondToTenSeconds) {
  const std::vector<double>& bounds = Metrics::DurationBounds();
  ASSERT_FALSE(bounds.empty());
  EXPECT_DOUBLE_EQ(bounds.front(), 0.0005);
  EXPECT_DOUBLE_EQ(bounds.back(), 10);
  EXPECT_NO_THROW(MetricHistogram{bounds});
}

}  // namespace
}  // namespace wrenhaven
