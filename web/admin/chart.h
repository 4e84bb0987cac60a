// The bar charts of the login records page, drawn by the server as SVG:
// one bar per day or hour, the successful sign-ins at its foot and the
// failed attempts stacked on them. What is worked out here is the bars
// from the library's counts, their geometry and the template data; the
// template (admin/logins) writes the SVG, a table of the same numbers and
// the legend.
#ifndef WRENHAVEN_WEB_ADMIN_CHART_H_
#define WRENHAVEN_WEB_ADMIN_CHART_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/render.h"
#include "wrenhaven/variant.h"

namespace wrenhaven::web {

struct ChartBar {
  std::string label;  // in the table and the bar's title: "2024-05-06"
  std::string axis;   // under the bar: "6"
  int64_t ok = 0;
  int64_t failed = 0;
};

// Login.GetDayCounts's result (field first: "YYYY-MM-DD", successes,
// failures) as bars, the axis showing the day of the month. Raises kHost
// for cells of another form.
std::vector<ChartBar> DayBars(const VariantArray& counts);
// Login.GetHourCounts's result (field first: hour 0 to 23, successes,
// failures) as bars labelled "09:00-10:00", the axis showing the hour.
std::vector<ChartBar> HourBars(const VariantArray& counts);

// The smallest of 1, 2, 5, 10, 20, 50, ... that is at least `value`.
int64_t NiceCeiling(int64_t value);

// Where the bars stand, in the SVG's user units. The plot's foot is at
// `base`, its top (the value `top`) at `base - plot_height`; a count above
// zero is at least one unit high, so that it shows.
struct BarShape {
  double x = 0;
  double width = 0;
  double ok_y = 0;  // the top of the successes' part
  double ok_height = 0;
  double failed_y = 0;
  double failed_height = 0;
};
struct ChartTick {
  int64_t value = 0;
  double y = 0;
};
struct ChartLayout {
  int width = 0;  // the view box
  int height = 0;
  double plot_left = 0;
  double plot_right = 0;
  double base = 0;
  double plot_height = 0;
  int64_t top = 0;
  std::vector<BarShape> bars;
  std::vector<ChartTick> ticks;  // from the foot up
};
ChartLayout LayOut(const std::vector<ChartBar>& bars);

// The words a chart is drawn with. `bar` and `summary` hold the
// placeholders {label}, {ok} and {failed}.
struct ChartWords {
  std::string title;
  std::string period;  // the table's first column: "Day", "Hour"
  std::string summary;
  std::string bar;
};

// `format` with every "{name}" of `values` replaced.
std::string Fill(
    std::string_view format,
    const std::vector<std::pair<std::string, std::string>>& values);

// One chart for the template: its id (the figure's; the title, summary
// and table take it as a prefix), the view box, the ticks and the bars
// with their numbers, shapes and titles.
TemplateData ChartData(const std::string& id, const ChartWords& words,
                       const std::vector<ChartBar>& bars);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_CHART_H_
