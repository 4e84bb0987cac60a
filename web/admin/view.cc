#include "web/admin/view.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "frame/text.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<int> SmallNumber(std::string_view text, size_t most_digits) {
  if (text.empty() || text.size() > most_digits) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string TwoDigits(int value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", value);
  return buf;
}

// The "HH:MM" of an earliest-sign-in cell: the text "YYYY-MM-DD HH:MM"
// (or a date, where a driver gives one).
std::string ClockOf(const Variant& cell) {
  if (cell.kind() == Kind::kDate) {
    int y, mo, d, h, mi, s;
    cell.date().ToParts(&y, &mo, &d, &h, &mi, &s);
    return TwoDigits(h) + ":" + TwoDigits(mi);
  }
  const std::string text = cell.ToText();
  if (text.size() >= 16 && text[13] == ':') return text.substr(11, 5);
  if (const auto clock = ParseClock(text)) return *clock;
  Raise(ErrorCode::kTypeMismatch,
        "\"" + text + "\" is no sign-in time of the month view");
}

}  // namespace

std::optional<std::vector<int32_t>> ParseIdList(std::string_view text) {
  std::vector<int32_t> ids;
  if (TrimBlanks(text).empty()) return ids;
  while (true) {
    const size_t comma = text.find(',');
    const auto id = ParseId(TrimBlanks(text.substr(0, comma)));
    if (!id) return std::nullopt;
    ids.push_back(*id);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return ids;
}

std::string JoinIds(const std::vector<int32_t>& ids) {
  std::string out;
  for (const int32_t id : ids) {
    if (!out.empty()) out += ',';
    out += std::to_string(id);
  }
  return out;
}

std::string AdminPageOf(std::string_view path) {
  constexpr std::string_view kPrefix = "/admin/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return "";
  const std::string_view rest = path.substr(kPrefix.size());
  const std::string_view name = rest.substr(0, rest.find('/'));
  if (name.empty()) return "";
  return std::string(kPrefix) + std::string(name);
}

std::vector<TreeRow> MenuTreeRows(const VariantArray& titled) {
  std::vector<TreeRow> rows;
  if (titled.dimensions() != 2 || titled.UBound(2) < 2) return rows;
  std::map<int32_t, int> level_of;
  for (int32_t r = 1; r <= titled.UBound(1); ++r) {
    const int32_t id = titled(r, 0).ToLong();
    const Variant& parent = titled(r, 2);
    int level = 1;
    if (!parent.ToText().empty()) {
      const auto it = level_of.find(parent.ToLong());
      if (it != level_of.end()) level = it->second + 1;
    }
    level_of[id] = level;
    rows.push_back({r, id, level});
  }
  return rows;
}

std::vector<int32_t> SubtreeOf(const std::vector<TreeRow>& rows, int32_t id) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].id != id) continue;
    out.push_back(id);
    // Depth first: the descendants are the rows right after it that lie
    // deeper than it.
    for (size_t j = i + 1; j < rows.size() && rows[j].level > rows[i].level;
         ++j) {
      out.push_back(rows[j].id);
    }
    break;
  }
  return out;
}

std::vector<int32_t> PageNumbers(int32_t current, int32_t pages) {
  std::vector<int32_t> out;
  int32_t last = 0;
  for (int32_t p = 1; p <= pages; ++p) {
    const bool near = p >= current - 2 && p <= current + 2;
    if (p != 1 && p != pages && !near) continue;
    // A gap of one page shows that page instead.
    if (last != 0 && p == last + 2) out.push_back(last + 1);
    if (last != 0 && p > last + 2) out.push_back(0);
    out.push_back(p);
    last = p;
  }
  return out;
}

std::optional<Month> Month::Parse(std::string_view text) {
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto year = SmallNumber(text.substr(0, dash), 4);
  const auto month = SmallNumber(text.substr(dash + 1), 2);
  if (!year || !month || *year < 1900 || *month < 1 || *month > 12) {
    return std::nullopt;
  }
  return Month{*year, *month};
}

Month Month::Of(Date date) {
  int y, mo, d, h, mi, s;
  date.ToParts(&y, &mo, &d, &h, &mi, &s);
  return Month{y, mo};
}

Month Month::Plus(int months) const {
  const int index = year * 12 + (month - 1) + months;
  return Month{index / 12, index % 12 + 1};
}

int Month::Days() const {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int Month::Weekday(int day) const {
  // The zero date, 30 December 1899, was a Saturday.
  const auto serial = static_cast<int64_t>(
      std::floor(Date::FromParts(year, month, day).serial));
  return static_cast<int>(((serial + 6) % 7 + 7) % 7);
}

std::string Month::Text() const {
  return std::to_string(year) + "-" + TwoDigits(month);
}

std::optional<std::string> ParseClock(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto hours = SmallNumber(text.substr(0, colon), 2);
  const std::string_view minute_text = text.substr(colon + 1);
  const auto minutes = minute_text.size() == 2 ? SmallNumber(minute_text, 2)
                                               : std::optional<int>();
  if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  return TwoDigits(*hours) + ":" + TwoDigits(*minutes);
}

std::vector<AttendanceDepartment> BuildAttendance(
    const VariantArray& month, int days,
    const std::function<std::string(const std::string&)>& department_name) {
  std::vector<AttendanceDepartment> grid;
  // EmptyGrid: nobody signed in.
  if (month.dimensions() != 2 || month.UBound(1) == 0) return grid;
  if (month.UBound(1) < 5) {
    Raise(ErrorCode::kSubscriptOutOfRange,
          "The month view has " + std::to_string(month.UBound(1) + 1) +
              " fields, not 6");
  }
  std::map<std::string, size_t> department_at;
  std::map<std::pair<size_t, std::string>, size_t> person_at;
  for (int32_t r = month.LBound(2); r <= month.UBound(2); ++r) {
    const std::string dept = month(2, r).ToText();
    auto d = department_at.find(dept);
    if (d == department_at.end()) {
      d = department_at.emplace(dept, grid.size()).first;
      grid.push_back({dept, department_name(dept), {}});
    }
    AttendanceDepartment& department = grid[d->second];
    const std::string person = month(0, r).ToText();
    auto p = person_at.find({d->second, person});
    if (p == person_at.end()) {
      p = person_at
              .emplace(std::make_pair(d->second, person),
                       department.people.size())
              .first;
      department.people.push_back(
          {person, month(1, r).ToText(),
           std::vector<std::string>(static_cast<size_t>(days)),
           std::vector<int32_t>(static_cast<size_t>(days))});
    }
    AttendancePerson& row = department.people[p->second];
    const int32_t day = month(3, r).ToLong();
    if (day < 1 || day > days) {
      Raise(ErrorCode::kSubscriptOutOfRange,
            "The month view names day " + std::to_string(day) +
                " of a month of " + std::to_string(days) + " days");
    }
    row.times[static_cast<size_t>(day - 1)] = ClockOf(month(4, r));
    row.counts[static_cast<size_t>(day - 1)] = month(5, r).ToLong();
  }
  return grid;
}

bool IsLate(std::string_view time, std::string_view start) {
  return !time.empty() && time > start;
}

std::string AttendanceCsv(const std::vector<AttendanceDepartment>& grid,
                          int days, std::string_view start,
                          std::string_view department_title,
                          std::string_view person_title,
                          std::string_view late_title) {
  std::string out = "\xEF\xBB\xBF";
  out += CsvField(department_title) + "," + CsvField(person_title);
  for (int d = 1; d <= days; ++d) out += "," + std::to_string(d);
  out += "," + CsvField(late_title) + "\r\n";
  for (const AttendanceDepartment& department : grid) {
    for (const AttendancePerson& person : department.people) {
      out += CsvField(department.name) + "," + CsvField(person.name);
      int late = 0;
      for (const std::string& time : person.times) {
        out += "," + time;
        if (IsLate(time, start)) ++late;
      }
      out += "," + std::to_string(late) + "\r\n";
    }
  }
  return out;
}

std::string TimeText(const Variant& value) {
  return value.kind() == Kind::kDate ? value.date().ToIso() : value.ToText();
}

}  // namespace wrenhaven::web
