// The login records' charts before they are drawn: the bars read from the
// library's counts, their geometry against the scale, and the template
// data with its texts.
#include "web/admin/chart.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

// A count result as the library gives it: field first, three fields.
VariantArray Counts(const std::vector<std::vector<Variant>>& rows) {
  VariantArray a =
      VariantArray::TwoDim(2, static_cast<int32_t>(rows.size()) - 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int32_t f = 0; f < 3; ++f) a(f, static_cast<int32_t>(r)) = rows[r][f];
  }
  return a;
}

Variant S(const char* s) { return Variant::String(s); }
Variant L(int32_t v) { return Variant::Long(v); }

std::string Text(const TemplateData& data, const char* key) {
  const TemplateData* value = data.get(key);
  return value != nullptr && value->is_string() ? value->string_value() : "";
}

TEST(ChartBarsTest, DaysShowTheDayOfTheMonthAndKeepTheirCounts) {
  const auto bars =
      DayBars(Counts({{S("2024-04-30"), L(0), L(2)},
                      {S("2024-05-01"), L(7), L(0)},
                      {S("2024-05-02"), Variant::Double(3), L(1)}}));
  ASSERT_EQ(bars.size(), 3u);
  EXPECT_EQ(bars[0].label, "2024-04-30");
  EXPECT_EQ(bars[0].axis, "30");
  EXPECT_EQ(bars[0].ok, 0);
  EXPECT_EQ(bars[0].failed, 2);
  EXPECT_EQ(bars[1].axis, "1");
  EXPECT_EQ(bars[1].ok, 7);
  EXPECT_EQ(bars[2].ok, 3);  // a whole Double counts as well
  EXPECT_EQ(bars[2].failed, 1);
}

TEST(ChartBarsTest, HoursAreNamedAsSpansOfTheClock) {
  const auto bars = HourBars(
      Counts({{L(0), L(1), L(0)}, {L(9), L(0), L(0)}, {L(23), L(4), L(5)}}));
  ASSERT_EQ(bars.size(), 3u);
  EXPECT_EQ(bars[0].label, "00:00\u201301:00");
  EXPECT_EQ(bars[0].axis, "0");
  EXPECT_EQ(bars[1].label, "09:00\u201310:00");
  EXPECT_EQ(bars[2].label, "23:00\u201324:00");
  EXPECT_EQ(bars[2].axis, "23");
  EXPECT_EQ(bars[2].failed, 5);
}

TEST(ChartBarsTest, CellsOfAnotherFormAreRefused) {
  const struct {
    bool days;
    std::vector<Variant> row;
    const char* message;
  } cases[] = {
      {true, {S("2024-5-1"), L(1), L(1)}, "no date written YYYY-MM-DD"},
      {true, {S("yesterday"), L(1), L(1)}, "no date"},
      {true, {Variant::Null(), L(1), L(1)}, "no date"},
      {true, {S("2024-05-01"), L(-1), L(0)}, "no whole number"},
      {true, {S("2024-05-01"), L(1), Variant::Double(0.5)}, "no whole number"},
      {true, {S("2024-05-01"), S("3"), L(0)}, "no whole number"},
      {true, {S("2024-05-01"), L(1), Variant::Null()}, "no whole number"},
      {false, {L(24), L(0), L(0)}, "not 0 to 23"},
      {false, {L(-1), L(0), L(0)}, "not 0 to 23"},
      {false, {S("9"), L(0), L(0)}, "not 0 to 23"},
      {false, {L(3), L(0), Variant::Double(1e300)}, "no whole number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row[0].Debug() + " " + c.row[1].Debug() + " " +
                 c.row[2].Debug());
    const VariantArray counts = Counts({c.row});
    try {
      c.days ? DayBars(counts) : HourBars(counts);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kHost);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
    }
  }
  // Another shape than three fields per period.
  EXPECT_THROW(DayBars(VariantArray::TwoDim(1, 4)), Error);
  EXPECT_THROW(HourBars(VariantArray::OneDim(2)), Error);
  EXPECT_THROW(HourBars(VariantArray()), Error);
}

TEST(ChartScaleTest, TheTopIsTheNextOneTwoOrFive) {
  const std::pair<int64_t, int64_t> cases[] = {
      {0, 1},        {1, 1},
      {2, 2},        {3, 5},
      {5, 5},        {6, 10},
      {10, 10},      {11, 20},
      {21, 50},      {51, 100},
      {199, 200},    {4999, 5000},
      {5001, 10000}, {9000000000000000, 10000000000000000},
  };
  for (const auto& [value, top] : cases) {
    EXPECT_EQ(NiceCeiling(value), top) << value;
  }
  // Beyond the last step the value itself is the top.
  EXPECT_EQ(NiceCeiling(INT64_MAX), INT64_MAX);
}

TEST(ChartLayoutTest, BarsStandOnTheFootInProportionToTheTop) {
  const std::vector<ChartBar> bars = {
      {"a", "1", 0, 0}, {"b", "2", 6, 4}, {"c", "3", 3, 0}, {"d", "4", 0, 1}};
  const ChartLayout layout = LayOut(bars);
  EXPECT_EQ(layout.top, 10);
  ASSERT_EQ(layout.bars.size(), 4u);
  const double unit = layout.plot_height / 10;

  // No records: nothing drawn.
  EXPECT_EQ(layout.bars[0].ok_height, 0);
  EXPECT_EQ(layout.bars[0].failed_height, 0);
  // The fullest bar reaches the top: successes below, failures on them.
  const BarShape& b = layout.bars[1];
  EXPECT_DOUBLE_EQ(b.ok_height, 6 * unit);
  EXPECT_DOUBLE_EQ(b.ok_y, layout.base - 6 * unit);
  EXPECT_DOUBLE_EQ(b.failed_height, 4 * unit);
  EXPECT_DOUBLE_EQ(b.failed_y, layout.base - layout.plot_height);
  EXPECT_DOUBLE_EQ(layout.bars[2].ok_height, 3 * unit);
  EXPECT_DOUBLE_EQ(layout.bars[3].failed_y, layout.base - unit);

  // Side by side, left to right, within the plot and apart.
  for (size_t i = 0; i < layout.bars.size(); ++i) {
    const BarShape& s = layout.bars[i];
    EXPECT_GE(s.x, layout.plot_left);
    EXPECT_LE(s.x + s.width, layout.plot_right);
    EXPECT_GT(s.width, 0);
    if (i > 0) {
      const BarShape& before = layout.bars[i - 1];
      EXPECT_GT(s.x, before.x + before.width);
    }
  }
  // Ticks at the foot, the middle and the top.
  ASSERT_EQ(layout.ticks.size(), 3u);
  EXPECT_EQ(layout.ticks[0].value, 0);
  EXPECT_DOUBLE_EQ(layout.ticks[0].y, layout.base);
  EXPECT_EQ(layout.ticks[1].value, 5);
  EXPECT_EQ(layout.ticks[2].value, 10);
  EXPECT_DOUBLE_EQ(layout.ticks[2].y, layout.base - layout.plot_height);
}

TEST(ChartLayoutTest, ASingleRecordStillShowsBesideMany) {
  const ChartLayout layout =
      LayOut({{"a", "1", 4000, 0}, {"b", "2", 1, 1}, {"c", "3", 0, 0}});
  EXPECT_EQ(layout.top, 5000);
  EXPECT_DOUBLE_EQ(layout.bars[1].ok_height, 1);
  EXPECT_DOUBLE_EQ(layout.bars[1].failed_height, 1);
  EXPECT_DOUBLE_EQ(layout.bars[1].failed_y, layout.base - 2);
  // An odd top has no middle tick; nothing at all still has a scale.
  const ChartLayout empty = LayOut({{"a", "1", 0, 0}});
  EXPECT_EQ(empty.top, 1);
  ASSERT_EQ(empty.ticks.size(), 2u);
  EXPECT_EQ(empty.ticks[1].value, 1);
  EXPECT_EQ(LayOut({{"a", "1", 3, 2}}).ticks.size(), 2u);  // top 5
}

TEST(ChartTextTest, PlaceholdersAreFilledInOnePass) {
  EXPECT_EQ(Fill("{label}: {ok} and {ok}", {{"ok", "3"}, {"label", "Mon"}}),
            "Mon: 3 and 3");
  // A value is never read as a placeholder; unknown names and lone braces
  // stay as they are.
  EXPECT_EQ(Fill("{a}{b}", {{"a", "{b}"}, {"b", "x"}}), "{b}x");
  EXPECT_EQ(Fill("{c} { } {", {{"a", "1"}}), "{c} { } {");
  EXPECT_EQ(Fill("no braces", {}), "no braces");
  EXPECT_EQ(Fill("}{ok}{", {{"ok", "1"}}), "}1{");
}

TEST(ChartDataTest, EveryBarWithItsNumbersTitleAndParts) {
  const ChartWords words{"Per day", "Day", "{ok} in, {failed} out",
                         "{label}: {ok}/{failed}"};
  const TemplateData chart = ChartData("day-chart", words,
                                       {{"2024-05-01", "1", 2, 0},
                                        {"2024-05-02", "2", 0, 0},
                                        {"2024-05-03", "3", 1, 3}});
  EXPECT_EQ(Text(chart, "id"), "day-chart");
  EXPECT_EQ(Text(chart, "title"), "Per day");
  EXPECT_EQ(Text(chart, "summary"), "3 in, 3 out");
  EXPECT_EQ(Text(chart, "width") + "x" + Text(chart, "height"), "640x190");
  const TemplateData* bars = chart.get("bars");
  ASSERT_NE(bars, nullptr);
  ASSERT_TRUE(bars->is_list());
  const auto& list = bars->list_value();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(Text(list[0], "text"), "2024-05-01: 2/0");
  EXPECT_EQ(Text(list[0], "ok"), "2");
  EXPECT_EQ(Text(list[2], "failed"), "3");
  // Only counts above zero get a part to draw.
  EXPECT_NE(list[0].get("ok_part"), nullptr);
  EXPECT_EQ(list[0].get("failed_part"), nullptr);
  EXPECT_EQ(list[1].get("ok_part"), nullptr);
  EXPECT_EQ(list[1].get("failed_part"), nullptr);
  ASSERT_NE(list[2].get("failed_part"), nullptr);
  // The top is 5: three failures on one success fill 4/5 of the plot.
  const TemplateData& failed = *list[2].get("failed_part");
  EXPECT_EQ(Text(failed, "h"), "92.4");  // 154 * 3 / 5
  EXPECT_EQ(Text(failed, "y"), "42.8");  // 166 - 30.8 - 92.4
}

}  // namespace
}  // namespace wrenhaven::web
