#include "web/admin/chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

// The view box and the plot inside it: room on the left for the values of
// the ticks, below for the bars' names.
constexpr int kWidth = 640;
constexpr int kHeight = 190;
constexpr double kPlotLeft = 36;
constexpr double kPlotRight = 634;
constexpr double kPlotTop = 12;
constexpr double kBase = 166;
// Of each bar's share of the width, the part the bar fills.
constexpr double kBarFill = 0.7;
constexpr double kLeast = 1;  // the height of the smallest count shown

int64_t CountOf(const Variant& cell, std::string_view what) {
  if (!cell.is_numeric() || cell.ToDouble() < 0 ||
      cell.ToDouble() != std::floor(cell.ToDouble()) ||
      cell.ToDouble() > 9.0e15) {
    Raise(ErrorCode::kHost, "The " + std::string(what) + " count " +
                                cell.Debug() +
                                " is no whole number of records");
  }
  return static_cast<int64_t>(cell.ToDouble());
}

// The rows of a count result, field first with three fields.
int32_t RowsOf(const VariantArray& counts) {
  if (counts.dimensions() != 2 || counts.UBound(1) != 2) {
    Raise(ErrorCode::kHost, "The counts are not three values per period");
  }
  return counts.UBound(2) + 1;
}

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string TwoDigits(int value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

std::vector<ChartBar> DayBars(const VariantArray& counts) {
  std::vector<ChartBar> bars;
  const int32_t rows = RowsOf(counts);
  for (int32_t r = 0; r < rows; ++r) {
    const std::string label = counts(0, r).ToText();
    Date day;
    if (label.size() != 10 || !Date::ParseIso(label, &day)) {
      Raise(ErrorCode::kHost, "The day " + counts(0, r).Debug() +
                                  " is no date written YYYY-MM-DD");
    }
    int year, month, mday, hour, minute, second;
    day.ToParts(&year, &month, &mday, &hour, &minute, &second);
    bars.push_back({label, std::to_string(mday), CountOf(counts(1, r), "day"),
                    CountOf(counts(2, r), "day")});
  }
  return bars;
}

std::vector<ChartBar> HourBars(const VariantArray& counts) {
  std::vector<ChartBar> bars;
  const int32_t rows = RowsOf(counts);
  for (int32_t r = 0; r < rows; ++r) {
    const Variant& cell = counts(0, r);
    if (!cell.is_numeric() || cell.ToDouble() < 0 || cell.ToDouble() > 23 ||
        cell.ToDouble() != std::floor(cell.ToDouble())) {
      Raise(ErrorCode::kHost, "The hour " + cell.Debug() + " is not 0 to 23");
    }
    const int hour = cell.ToLong();
    bars.push_back({TwoDigits(hour) + ":00\u2013" + TwoDigits(hour + 1) + ":00",
                    std::to_string(hour), CountOf(counts(1, r), "hour"),
                    CountOf(counts(2, r), "hour")});
  }
  return bars;
}

int64_t NiceCeiling(int64_t value) {
  // Ten times the largest scale still fits in 64 bits.
  for (int64_t scale = 1; scale <= 100'000'000'000'000'000; scale *= 10) {
    for (const int64_t step : {1, 2, 5}) {
      if (step * scale >= value) return step * scale;
    }
  }
  return value;
}

ChartLayout LayOut(const std::vector<ChartBar>& bars) {
  ChartLayout layout;
  layout.width = kWidth;
  layout.height = kHeight;
  layout.plot_left = kPlotLeft;
  layout.plot_right = kPlotRight;
  layout.base = kBase;
  layout.plot_height = kBase - kPlotTop;
  int64_t most = 0;
  for (const ChartBar& bar : bars) most = std::max(most, bar.ok + bar.failed);
  layout.top = NiceCeiling(most);

  const auto height = [&](int64_t count) {
    if (count == 0) return 0.0;
    const double h = layout.plot_height * static_cast<double>(count) /
                     static_cast<double>(layout.top);
    return std::max(h, kLeast);
  };
  const double pitch = bars.empty() ? 0
                                    : (kPlotRight - kPlotLeft) /
                                          static_cast<double>(bars.size());
  for (size_t i = 0; i < bars.size(); ++i) {
    BarShape shape;
    shape.width = pitch * kBarFill;
    shape.x =
        kPlotLeft + pitch * static_cast<double>(i) + (pitch - shape.width) / 2;
    shape.ok_height = height(bars[i].ok);
    shape.ok_y = kBase - shape.ok_height;
    shape.failed_height = height(bars[i].failed);
    shape.failed_y = shape.ok_y - shape.failed_height;
    layout.bars.push_back(shape);
  }
  const int64_t middle = layout.top % 2 == 0 ? layout.top / 2 : 0;
  layout.ticks.push_back({0, kBase});
  if (middle > 0) {
    layout.ticks.push_back({middle, kBase - layout.plot_height / 2});
  }
  layout.ticks.push_back({layout.top, kPlotTop});
  return layout;
}

std::string Fill(
    std::string_view format,
    const std::vector<std::pair<std::string, std::string>>& values) {
  // One pass over the format, so a value is never read as a placeholder.
  std::string out;
  size_t at = 0;
  while (at < format.size()) {
    const size_t open = format.find('{', at);
    const size_t close = open == std::string_view::npos
                             ? std::string_view::npos
                             : format.find('}', open);
    if (close == std::string_view::npos) break;
    out += format.substr(at, open - at);
    const std::string_view name = format.substr(open + 1, close - open - 1);
    const auto it =
        std::find_if(values.begin(), values.end(),
                     [&](const auto& v) { return v.first == name; });
    if (it == values.end()) {
      out += format.substr(open, 1);
      at = open + 1;
    } else {
      out += it->second;
      at = close + 1;
    }
  }
  out += format.substr(std::min(at, format.size()));
  return out;
}

TemplateData ChartData(const std::string& id, const ChartWords& words,
                       const std::vector<ChartBar>& bars) {
  const ChartLayout layout = LayOut(bars);
  TemplateData chart;
  chart.set("id", id);
  chart.set("title", words.title);
  chart.set("period", words.period);
  chart.set("width", std::to_string(layout.width));
  chart.set("height", std::to_string(layout.height));
  chart.set("left", Decimal(layout.plot_left));
  chart.set("right", Decimal(layout.plot_right));
  chart.set("base", Decimal(layout.base));

  // Built in place: a set or added item is a copy of all it holds.
  TemplateData ticks(TemplateData::type::list);
  ReserveItems(ticks, layout.ticks.size());
  for (const ChartTick& tick : layout.ticks) {
    TemplateData& t = AppendItem(ticks);
    t.set("value", std::to_string(tick.value));
    t.set("y", Decimal(tick.y));
    t.set("label_x", Decimal(layout.plot_left - 6));
    t.set("label_y", Decimal(tick.y + 4));
  }
  chart["ticks"] = std::move(ticks);

  int64_t ok = 0;
  int64_t failed = 0;
  TemplateData list(TemplateData::type::list);
  ReserveItems(list, bars.size());
  for (size_t i = 0; i < bars.size(); ++i) {
    const ChartBar& bar = bars[i];
    const BarShape& shape = layout.bars[i];
    ok += bar.ok;
    failed += bar.failed;
    TemplateData& b = AppendItem(list);
    b.set("label", bar.label);
    b.set("axis", bar.axis);
    b.set("ok", std::to_string(bar.ok));
    b.set("failed", std::to_string(bar.failed));
    b.set("text", Fill(words.bar, {{"label", bar.label},
                                   {"ok", std::to_string(bar.ok)},
                                   {"failed", std::to_string(bar.failed)}}));
    b.set("x", Decimal(shape.x));
    b.set("w", Decimal(shape.width));
    b.set("cx", Decimal(shape.x + shape.width / 2));
    b.set("axis_y", Decimal(layout.base + 15));
    if (bar.ok > 0) {
      TemplateData part;
      part.set("y", Decimal(shape.ok_y));
      part.set("h", Decimal(shape.ok_height));
      b["ok_part"] = std::move(part);
    }
    if (bar.failed > 0) {
      TemplateData part;
      part.set("y", Decimal(shape.failed_y));
      part.set("h", Decimal(shape.failed_height));
      b["failed_part"] = std::move(part);
    }
  }
  chart["bars"] = std::move(list);
  chart.set("summary",
            Fill(words.summary, {{"ok", std::to_string(ok)},
                                 {"failed", std::to_string(failed)}}));
  return chart;
}

}  // namespace wrenhaven::web
