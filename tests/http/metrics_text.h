// Reads the Prometheus text exposition format as a scraper does, and
// reports through the test what breaks its rules: a sample before its
// family's HELP and TYPE, a name or label Prometheus refuses, a type it
// does not know, a histogram whose buckets are not cumulative or whose
// +Inf bucket is not its count.
#ifndef WRENHAVEN_TESTS_HTTP_METRICS_TEXT_H_
#define WRENHAVEN_TESTS_HTTP_METRICS_TEXT_H_

#include <map>
#include <string>

namespace wrenhaven::testing {

struct MetricsText {
  std::map<std::string, std::string> types;  // family: counter, gauge, ...
  std::map<std::string, std::string> help;
  // Each series as written, "name{label=\"value\",...}", and its value.
  std::map<std::string, double> samples;
};

// Adds a test failure for every rule broken.
MetricsText ParseMetricsText(const std::string& text);

}  // namespace wrenhaven::testing

#endif  // WRENHAVEN_TESTS_HTTP_METRICS_TEXT_H_
