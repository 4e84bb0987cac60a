#include "wrenhaven/metrics.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>

#include "host/page_answer.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

bool IsNameStart(char c, bool colon) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         (colon && c == ':');
}

bool IsName(std::string_view name, bool colon) {
  if (name.empty() || name.size() > 200 || !IsNameStart(name[0], colon)) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [colon](char c) {
    return IsNameStart(c, colon) || (c >= '0' && c <= '9');
  });
}

// Backslash and line break escaped, and in label values the double quote.
std::string Escaped(std::string_view text, bool quote) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (quote && c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

// {a="1",b="2"}, "" without labels; `extra` ("le") comes last.
std::string LabelText(const MetricLabels& labels,
                      std::string_view extra_name = {},
                      std::string_view extra_value = {}) {
  if (labels.empty() && extra_name.empty()) return "";
  std::string out = "{";
  for (const auto& [name, value] : labels) {
    if (out.size() > 1) out += ',';
    out += name + "=\"" + Escaped(value, true) + "\"";
  }
  if (!extra_name.empty()) {
    if (out.size() > 1) out += ',';
    out += std::string(extra_name) + "=\"" + std::string(extra_value) + "\"";
  }
  return out + "}";
}

// The shortest text that reads back as `value`; +Inf, -Inf and NaN as
// Prometheus writes them.
std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void CheckLabels(std::string_view metric, const MetricLabels& labels,
                 bool histogram) {
  for (const auto& [name, value] : labels) {
    if (!IsName(name, false) || name.starts_with("__") ||
        (histogram && name == "le")) {
      Raise(ErrorCode::kHost, "The metric " + std::string(metric) +
                                  " has a label name Prometheus does not "
                                  "accept: \"" +
                                  name.substr(0, 80) + "\"");
    }
    if (value.size() > 1024) {
      Raise(ErrorCode::kHost, "A label value of the metric " +
                                  std::string(metric) + " is too long");
    }
  }
}

}  // namespace

MetricHistogram::MetricHistogram(std::vector<double> bounds)
    : bounds_(std::move(bounds)),
      buckets_(new std::atomic<uint64_t>[bounds_.size() + 1]) {
  for (size_t i = 0; i < bounds_.size(); ++i) {
    if (!std::isfinite(bounds_[i]) || (i > 0 && bounds_[i] <= bounds_[i - 1])) {
      Raise(ErrorCode::kHost,
            "Histogram bounds must be finite and rising, one after another");
    }
  }
  for (size_t i = 0; i <= bounds_.size(); ++i) buckets_[i] = 0;
}

void MetricHistogram::Observe(double value) {
  const size_t bucket = static_cast<size_t>(
      std::lower_bound(bounds_.begin(), bounds_.end(), value) -
      bounds_.begin());
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(value, std::memory_order_relaxed);
}

MetricHistogram::Snapshot MetricHistogram::Read() const {
  Snapshot out;
  out.cumulative.reserve(bounds_.size() + 1);
  uint64_t running = 0;
  for (size_t i = 0; i <= bounds_.size(); ++i) {
    running += buckets_[i].load(std::memory_order_relaxed);
    out.cumulative.push_back(running);
  }
  out.count = running;
  out.sum = sum_.load(std::memory_order_relaxed);
  return out;
}

struct Metrics::Family {
  struct Series {
    MetricLabels labels;
    std::unique_ptr<MetricCounter> counter;
    std::unique_ptr<MetricHistogram> histogram;
    Reader read;
  };
  std::string name;
  std::string help;
  std::string type;  // counter, gauge or histogram
  bool read_functions = false;
  std::vector<Series> series;

  Series* Find(const MetricLabels& labels) {
    for (Series& s : series) {
      if (s.labels == labels) return &s;
    }
    return nullptr;
  }
};

const std::vector<double>& Metrics::DurationBounds() {
  static const std::vector<double> bounds{0.0005, 0.001, 0.0025, 0.005, 0.01,
                                          0.025,  0.05,  0.1,    0.25,  0.5,
                                          1,      2.5,   5,      10};
  return bounds;
}

Metrics::Metrics() = default;
Metrics::~Metrics() = default;

Metrics::Family& Metrics::FamilyFor(std::string_view name,
                                    std::string_view help,
                                    std::string_view type) {
  if (!IsName(name, true)) {
    Raise(ErrorCode::kHost, "\"" + std::string(name.substr(0, 80)) +
                                "\" is no name Prometheus accepts");
  }
  auto it = by_name_.find(name);
  if (it != by_name_.end()) {
    if (it->second->type != type) {
      Raise(ErrorCode::kHost, "The metric " + std::string(name) + " is a " +
                                  it->second->type + ", not a " +
                                  std::string(type));
    }
    return *it->second;
  }
  auto family = std::make_unique<Family>();
  family->name = std::string(name);
  family->help = std::string(help);
  family->type = std::string(type);
  Family& out = *family;
  families_.push_back(std::move(family));
  by_name_.emplace(out.name, &out);
  return out;
}

MetricCounter& Metrics::Counter(std::string_view name, std::string_view help,
                                const MetricLabels& labels) {
  CheckLabels(name, labels, false);
  std::lock_guard<std::mutex> lock(mutex_);
  Family& family = FamilyFor(name, help, "counter");
  if (family.read_functions) {
    Raise(ErrorCode::kHost,
          "The counter " + std::string(name) + " is read from elsewhere");
  }
  if (Family::Series* found = family.Find(labels)) return *found->counter;
  family.series.push_back(
      {labels, std::make_unique<MetricCounter>(), nullptr, nullptr});
  return *family.series.back().counter;
}

MetricHistogram& Metrics::Histogram(std::string_view name,
                                    std::string_view help,
                                    const MetricLabels& labels,
                                    const std::vector<double>& bounds) {
  CheckLabels(name, labels, true);
  auto histogram = std::make_unique<MetricHistogram>(bounds);
  std::lock_guard<std::mutex> lock(mutex_);
  Family& family = FamilyFor(name, help, "histogram");
  if (Family::Series* found = family.Find(labels)) {
    if (found->histogram->bounds() != bounds) {
      Raise(ErrorCode::kHost,
            "The histogram " + std::string(name) + " has other bounds already");
    }
    return *found->histogram;
  }
  family.series.push_back({labels, nullptr, std::move(histogram), nullptr});
  return *family.series.back().histogram;
}

void Metrics::CounterFrom(std::string_view name, std::string_view help,
                          const MetricLabels& labels, Reader read) {
  CheckLabels(name, labels, false);
  std::lock_guard<std::mutex> lock(mutex_);
  Family& family = FamilyFor(name, help, "counter");
  if (!family.series.empty() && !family.read_functions) {
    Raise(ErrorCode::kHost,
          "The counter " + std::string(name) + " is kept in the registry");
  }
  if (family.Find(labels) != nullptr) {
    Raise(ErrorCode::kHost,
          "The counter " + std::string(name) + " has this series already");
  }
  family.read_functions = true;
  family.series.push_back({labels, nullptr, nullptr, std::move(read)});
}

void Metrics::Gauge(std::string_view name, std::string_view help,
                    const MetricLabels& labels, Reader read) {
  CheckLabels(name, labels, false);
  std::lock_guard<std::mutex> lock(mutex_);
  Family& family = FamilyFor(name, help, "gauge");
  if (family.Find(labels) != nullptr) {
    Raise(ErrorCode::kHost,
          "The gauge " + std::string(name) + " has this series already");
  }
  family.read_functions = true;
  family.series.push_back({labels, nullptr, nullptr, std::move(read)});
}

std::string Metrics::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  out.reserve(8192);
  for (const auto& family : families_) {
    out += "# HELP " + family->name + " " + Escaped(family->help, false) + "\n";
    out += "# TYPE " + family->name + " " + family->type + "\n";
    for (const Family::Series& s : family->series) {
      if (s.counter) {
        out += family->name + LabelText(s.labels) + " " +
               std::to_string(s.counter->value()) + "\n";
      } else if (s.histogram) {
        const MetricHistogram::Snapshot snap = s.histogram->Read();
        const std::vector<double>& bounds = s.histogram->bounds();
        for (size_t i = 0; i <= bounds.size(); ++i) {
          out += family->name + "_bucket" +
                 LabelText(s.labels, "le",
                           i < bounds.size() ? Number(bounds[i]) : "+Inf") +
                 " " + std::to_string(snap.cumulative[i]) + "\n";
        }
        out += family->name + "_sum" + LabelText(s.labels) + " " +
               Number(snap.sum) + "\n";
        out += family->name + "_count" + LabelText(s.labels) + " " +
               std::to_string(snap.count) + "\n";
      } else {
        std::optional<double> value;
        try {
          value = s.read();
        } catch (const std::exception& e) {
          spdlog::warn("The metric {} could not be read: {}", family->name,
                       host::LogSafe(e.what()));
        }
        if (value) {
          out +=
              family->name + LabelText(s.labels) + " " + Number(*value) + "\n";
        }
      }
    }
  }
  return out;
}

}  // namespace wrenhaven
