#include "tests/http/metrics_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace wrenhaven::testing {
namespace {

bool NameChar(char c, bool first, bool colon) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '_' || (colon && c == ':');
  return letter || (!first && c >= '0' && c <= '9');
}

bool IsName(const std::string& name, bool colon) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (!NameChar(name[i], i == 0, colon)) return false;
  }
  return true;
}

double ReadValue(const std::string& text, const std::string& line) {
  if (text == "+Inf") return INFINITY;
  if (text == "-Inf") return -INFINITY;
  if (text == "NaN") return NAN;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  EXPECT_TRUE(end != nullptr && *end == '\0' && !text.empty())
      << "no number: " << line;
  return v;
}

struct Bucket {
  double le;
  double count;
};

}  // namespace

MetricsText ParseMetricsText(const std::string& text) {
  MetricsText out;
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the text ends mid-line";
  std::istringstream lines(text);
  std::string line;
  std::string family;  // the one whose samples may follow
  // Histogram buckets by series (labels without le), in order.
  std::map<std::string, std::vector<Bucket>> buckets;
  std::map<std::string, double> counts;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
      const std::string rest = line.substr(7);
      const size_t blank = rest.find(' ');
      const std::string name = rest.substr(0, blank);
      const std::string value =
          blank == std::string::npos ? "" : rest.substr(blank + 1);
      EXPECT_TRUE(IsName(name, true)) << line;
      if (line[2] == 'H') {
        EXPECT_FALSE(out.help.count(name)) << "HELP twice: " << line;
        EXPECT_FALSE(out.types.count(name)) << "HELP after TYPE: " << line;
        out.help[name] = value;
      } else {
        EXPECT_TRUE(value == "counter" || value == "gauge" ||
                    value == "histogram" || value == "summary" ||
                    value == "untyped")
            << line;
        EXPECT_FALSE(out.types.count(name)) << "TYPE twice: " << line;
        EXPECT_TRUE(out.help.count(name)) << "TYPE without HELP: " << line;
        out.types[name] = value;
        family = name;
      }
      continue;
    }
    EXPECT_NE(line[0], '#') << "an unknown comment: " << line;
    // name{labels} value
    size_t at = 0;
    while (at < line.size() && line[at] != '{' && line[at] != ' ') ++at;
    const std::string name = line.substr(0, at);
    EXPECT_TRUE(IsName(name, true)) << line;
    std::string series_labels;  // without le
    std::string le;
    std::string written = name;
    if (at < line.size() && line[at] == '{') {
      ++at;
      std::vector<std::string> pairs;
      while (at < line.size() && line[at] != '}') {
        const size_t eq = line.find('=', at);
        if (eq == std::string::npos) break;
        const std::string label = line.substr(at, eq - at);
        EXPECT_TRUE(IsName(label, false) && !label.starts_with("__")) << line;
        EXPECT_EQ(line[eq + 1], '"') << line;
        std::string value;
        size_t i = eq + 2;
        for (; i < line.size() && line[i] != '"'; ++i) {
          if (line[i] == '\\') {
            ++i;
            EXPECT_TRUE(line[i] == '\\' || line[i] == '"' || line[i] == 'n')
                << line;
          }
          value += line[i];
        }
        if (label == "le") {
          le = value;
        } else {
          pairs.push_back(line.substr(at, i + 1 - at));
        }
        at = i + 1;
        if (at < line.size() && line[at] == ',') ++at;
      }
      EXPECT_EQ(line[at], '}') << line;
      ++at;
      for (const std::string& p : pairs) {
        series_labels += (series_labels.empty() ? "" : ",") + p;
      }
      written = line.substr(0, at);
    }
    EXPECT_EQ(line[at], ' ') << line;
    const double value = ReadValue(line.substr(at + 1), line);
    EXPECT_FALSE(out.samples.count(written)) << "twice: " << line;
    out.samples[written] = value;

    // The sample belongs to the family announced last.
    const std::string& type = out.types[family];
    std::string base = name;
    if (type == "histogram") {
      for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        if (name == family + suffix) base = family;
      }
      EXPECT_EQ(base, family) << "not of " << family << ": " << line;
      const std::string key = series_labels;
      if (name == family + "_bucket") {
        EXPECT_FALSE(le.empty()) << "a bucket without le: " << line;
        buckets[family + "{" + key + "}"].push_back(
            {ReadValue(le, line), value});
      } else if (name == family + "_count") {
        counts[family + "{" + key + "}"] = value;
      }
    } else {
      EXPECT_EQ(name, family) << "a sample outside its family: " << line;
      EXPECT_TRUE(le.empty()) << line;
      if (type == "counter") {
        EXPECT_GE(value, 0) << line;
      }
    }
  }
  for (const auto& [series, list] : buckets) {
    if (list.empty()) continue;
    for (size_t i = 1; i < list.size(); ++i) {
      EXPECT_GT(list[i].le, list[i - 1].le) << series << ": le not rising";
      EXPECT_GE(list[i].count, list[i - 1].count)
          << series << ": buckets not cumulative";
    }
    EXPECT_TRUE(std::isinf(list.back().le)) << series << ": no +Inf bucket";
    EXPECT_TRUE(counts.count(series)) << series << ": no _count";
    if (counts.count(series)) {
      EXPECT_EQ(list.back().count, counts[series]) << series;
    }
  }
  return out;
}

}  // namespace wrenhaven::testing
