// "/admin/logins" and "/admin/attendance": the login records read back.
//
//   GET /admin/logins?page=P            sign-ins and failed attempts per
//                                       day and per hour of today as
//                                       charts; successful sign-ins per
//                                       person, a page of them
//   GET /admin/logins/person?id=N&page=P
//                                       one person's records, newest
//                                       first, a page of them
//   GET /admin/logins/record?id=N       one record
//   GET /admin/attendance?month=YYYY-MM&start=HH:MM&page=P
//                                       the month's first sign-ins as a
//                                       calendar, late ones marked, a
//                                       page of people
//   GET /admin/attendance/csv?...       the whole month's grid as CSV
//
// Every listing reads one page of rows from the database (and one more,
// to know whether a next page exists), however many records there are.
#include <algorithm>
#include <climits>
#include <optional>
#include <utility>

#include "web/admin/chart.h"
#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "web/render.h"
#include "wrenhaven/login.h"

namespace wrenhaven::web {
namespace {

// HR_Login's columns, in the table's order.
enum LoginColumn {
  kLoginID,
  kPersonID,
  kLoginAccount,
  kLoginPwd,
  kLoginOK,
  kLoginIP,
  kLoginMemo,
  kLoginScreen,
  kLoginTime,
  kLoginOutTime,
  kLoginColumns
};

constexpr const char* kLoginLabels[kLoginColumns] = {
    "login_id",     "person",        "login_account", "login_pwd",
    "login_result", "login_ip",      "login_browser", "login_screen",
    "login_time",   "login_out_time"};

// Rows (people, on the calendar) per page, and the last page number a
// link may ask for; a larger one shows that last page.
constexpr int32_t kRowsPerPage = 50;
constexpr int32_t kMostPages = 1000000;
static_assert(int64_t{kMostPages} * (kRowsPerPage + 1) < INT32_MAX);

// The page asked for: 1 when none or no whole number is given.
int32_t PageAsked(const AdminVisit& visit) {
  const auto n = ParseId(visit.Query("page"));
  if (!n || *n < 1) return 1;
  return std::min(*n, kMostPages);
}

int32_t FirstRow(int32_t page) { return (page - 1) * kRowsPerPage; }

void NotFound(AdminVisit& visit, const char* what, const std::string& id) {
  visit.Message(404, visit.Text("logins"), visit.Labelled(what, id));
}

std::string Result(const AdminVisit& visit, const Variant& ok) {
  return visit.Text(ok.ToText() == "1" ? "login_ok" : "login_failed");
}

// The two charts above the summary: the last days, and today's hours.
TemplateData Charts(AdminVisit& visit, Login& login) {
  const std::string days = std::to_string(Login::kCountedDays);
  const ChartWords per_day{
      Fill(visit.Text("chart_days"), {{"days", days}}), visit.Text("chart_day"),
      Fill(visit.Text("chart_days_summary"), {{"days", days}}),
      visit.Text("chart_bar")};
  const ChartWords per_hour{visit.Text("chart_hours"), visit.Text("chart_hour"),
                            visit.Text("chart_hours_summary"),
                            visit.Text("chart_bar")};
  TemplateData charts = List();
  ReserveItems(charts, 2);
  AppendItem(charts) =
      ChartData("day-chart", per_day, DayBars(login.GetDayCounts()));
  AppendItem(charts) =
      ChartData("hour-chart", per_hour, HourBars(login.GetHourCounts()));
  return charts;
}

void ShowSummary(AdminVisit& visit) {
  auto login = Create<Login>(visit.http());
  // Row 0 names the fields (person, name, last sign-in, last sign-out,
  // count); the rows hold them in that order.
  const int32_t page = PageAsked(visit);
  const VariantArray all =
      login->GetSummaryPage(FirstRow(page), kRowsPerPage + 1);
  const int32_t found = all.UBound(1);
  TemplateData data = visit.Data(visit.Text("logins"));
  TemplateData rows = List();
  ReserveItems(rows, static_cast<size_t>(std::min(found, kRowsPerPage)));
  for (int32_t r = 1; r <= std::min(found, kRowsPerPage); ++r) {
    TemplateData& row = AppendItem(rows);
    row.set("id", all(r, 0).ToText());
    row.set("name", all(r, 1).ToText());
    row.set("last", TimeText(all(r, 2)));
    row.set("out", TimeText(all(r, 3)));
    row.set("times", all(r, 4).ToText());
  }
  data["rows"] = std::move(rows);
  data.set("has_rows", TemplateData(found > 0));
  if (page > 1 || found > kRowsPerPage) {
    data.set("steps", Steps(visit, page, found > kRowsPerPage, [&](int32_t n) {
               return visit.page() + "?page=" + std::to_string(n);
             }));
  }
  data["charts"] = Charts(visit, *login);
  visit.Show("admin/logins", data);
}

void ShowPerson(AdminVisit& visit) {
  const std::string id = visit.Query("id");
  const auto n = ParseId(id);
  const auto person = n ? FindPerson(visit, *n) : std::nullopt;
  if (!person) {
    NotFound(visit, "no_such_person", id);
    return;
  }
  auto login = Create<Login>(visit.http());
  // Field first; a person without records gets the names row alone, whose
  // first bound is 0.
  const int32_t page = PageAsked(visit);
  const VariantArray records =
      login->GetPersonPage(Variant::Long(*n), FirstRow(page), kRowsPerPage + 1);
  const int32_t found = records.UBound(1) > 0 ? records.UBound(2) + 1 : 0;
  TemplateData data = visit.Data(visit.Labelled("history_of", person->name));
  data.set("person", person->name);
  data.set("account", person->account);
  data.set("department", person->department);
  TemplateData rows = List();
  if (found > 0) {
    for (int32_t r = 0; r < std::min(found, kRowsPerPage); ++r) {
      TemplateData row;
      row.set("id", records(kLoginID, r).ToText());
      row.set("time", TimeText(records(kLoginTime, r)));
      row.set("out", TimeText(records(kLoginOutTime, r)));
      row.set("account", records(kLoginAccount, r).ToText());
      row.set("result", Result(visit, records(kLoginOK, r)));
      row.set("ip", records(kLoginIP, r).ToText());
      row.set("browser", records(kLoginMemo, r).ToText());
      row.set("screen", records(kLoginScreen, r).ToText());
      rows.push_back(row);
    }
  }
  data.set("rows", rows);
  data.set("has_rows", TemplateData(!rows.is_empty_list()));
  if (page > 1 || found > kRowsPerPage) {
    data.set("steps", Steps(visit, page, found > kRowsPerPage, [&](int32_t p) {
               return visit.page() + "/person?id=" + std::to_string(*n) +
                      "&page=" + std::to_string(p);
             }));
  }
  visit.Show("admin/login_person", data);
}

void ShowRecord(AdminVisit& visit) {
  const std::string id = visit.Query("id");
  const auto n = ParseId(id);
  auto login = Create<Login>(visit.http());
  // One cell holding Empty when there is no such record.
  const VariantArray record = n ? login->GetData(*n) : VariantArray::OneDim(0);
  if (record.UBound(1) < kLoginColumns - 1) {
    NotFound(visit, "no_such_record", id);
    return;
  }
  TemplateData data = visit.Data(visit.Text("login_record") + " " + id);
  TemplateData fields = List();
  for (int c = 0; c < kLoginColumns; ++c) {
    TemplateData field;
    field.set("label", visit.Text(kLoginLabels[c]));
    field.set("value",
              c == kLoginOK ? Result(visit, record(c)) : TimeText(record(c)));
    fields.push_back(field);
  }
  data.set("fields", fields);
  const auto person = ParseId(record(kPersonID).ToText());
  if (person) {
    data.set("person_id", std::to_string(*person));
    const auto info = FindPerson(visit, *person);
    data.set("to_person",
             visit.Labelled("history_of",
                            info ? info->name : "#" + std::to_string(*person)));
  }
  visit.Show("admin/login_record", data);
}

constexpr const char* kWeekdays[] = {"wd_sun", "wd_mon", "wd_tue", "wd_wed",
                                     "wd_thu", "wd_fri", "wd_sat"};

struct MonthChoice {
  Month month;
  std::string start;
  std::string error;  // what was wrong with the typed values
};

MonthChoice Choose(const AdminVisit& visit) {
  MonthChoice choice{Month::Of(Date::Now()), "09:00", ""};
  const std::string month = visit.Query("month");
  if (!month.empty()) {
    if (const auto m = Month::Parse(month)) {
      choice.month = *m;
    } else {
      // What was typed is not shown again: the error says what is wanted.
      choice.error = visit.Text("bad_month");
    }
  }
  const std::string start = visit.Query("start");
  if (!start.empty()) {
    if (const auto s = ParseClock(start)) {
      choice.start = *s;
    } else {
      if (!choice.error.empty()) choice.error += " ";
      choice.error += visit.Text("bad_start");
    }
  }
  return choice;
}

// The month's calendar: everybody's rows, or with `page` that page of
// people (and the first person of the next page, when there is one).
std::vector<AttendanceDepartment> ReadMonth(AdminVisit& visit, Month month,
                                            std::optional<int32_t> page) {
  auto login = Create<Login>(visit.http());
  const Variant first =
      Variant::FromDate(Date::FromParts(month.year, month.month, 1));
  const Variant result =
      page ? login->GetMonthLoginPage(first, FirstRow(*page), kRowsPerPage + 1)
           : login->GetMonthLogin(first);
  const auto departments = DepartmentNames(visit);
  const std::string unnamed = visit.Text("department");
  return BuildAttendance(result.array(), month.Days(),
                         [&](const std::string& id) {
                           const auto it = departments.find(id);
                           return it == departments.end() || it->second.empty()
                                      ? unnamed + " " + id
                                      : it->second;
                         });
}

std::string MonthQuery(Month month, const std::string& start) {
  return "?month=" + month.Text() + "&start=" + start;
}

void ShowAttendance(AdminVisit& visit) {
  const MonthChoice choice = Choose(visit);
  const Month month = choice.month;
  const int days = month.Days();
  const int32_t page = PageAsked(visit);
  auto grid = ReadMonth(visit, month, page);
  // One person more than a page shows says that there is a next page.
  size_t people = 0;
  for (const AttendanceDepartment& dept : grid) people += dept.people.size();
  const bool more = people > static_cast<size_t>(kRowsPerPage);
  if (more) {
    grid.back().people.pop_back();
    if (grid.back().people.empty()) grid.pop_back();
  }

  TemplateData data = visit.Data(visit.Text("attendance") + " " + month.Text());
  if (page > 1 || more) {
    data.set("steps", Steps(visit, page, more, [&](int32_t n) {
               return visit.page() + MonthQuery(month, choice.start) +
                      "&page=" + std::to_string(n);
             }));
  }
  if (!choice.error.empty()) data.set("error", choice.error);
  data.set("month", month.Text());
  data.set("start", choice.start);
  data.set("prev", visit.page() + MonthQuery(month.Plus(-1), choice.start));
  data.set("next", visit.page() + MonthQuery(month.Plus(1), choice.start));
  data.set("csv", visit.page() + "/csv" + MonthQuery(month, choice.start));
  data.set("csv_name", "attendance-" + month.Text() + ".csv");
  data.set("span", std::to_string(days + 1));

  // The grid is built in place: a set or added item is a copy of all it
  // holds, and a page of people holds a cell per person and day.
  TemplateData header = List();
  ReserveItems(header, static_cast<size_t>(days));
  std::vector<bool> weekend;
  for (int d = 1; d <= days; ++d) {
    const int wd = month.Weekday(d);
    weekend.push_back(wd == 0 || wd == 6);
    TemplateData& day = AppendItem(header);
    day.set("day", std::to_string(d));
    day.set("weekday", visit.Text(kWeekdays[wd]));
    day.set("weekend", TemplateData(weekend.back()));
  }
  data["days"] = std::move(header);

  TemplateData departments = List();
  ReserveItems(departments, grid.size());
  int late_total = 0;
  for (const AttendanceDepartment& dept : grid) {
    TemplateData& d = AppendItem(departments);
    d.set("name", dept.name);
    TemplateData people = List();
    ReserveItems(people, dept.people.size());
    for (const AttendancePerson& person : dept.people) {
      TemplateData& p = AppendItem(people);
      p.set("id", person.id);
      p.set("name", person.name);
      TemplateData cells = List();
      ReserveItems(cells, static_cast<size_t>(days));
      for (int i = 0; i < days; ++i) {
        const std::string& time = person.times[static_cast<size_t>(i)];
        TemplateData& cell = AppendItem(cells);
        cell.set("time", time);
        std::string classes = weekend[static_cast<size_t>(i)] ? "weekend" : "";
        if (IsLate(time, choice.start)) {
          ++late_total;
          classes += classes.empty() ? "late" : " late";
        }
        if (!classes.empty()) cell.set("class", classes);
        if (!time.empty()) {
          cell.set("count",
                   std::to_string(person.counts[static_cast<size_t>(i)]));
        }
      }
      p["cells"] = std::move(cells);
    }
    d["people"] = std::move(people);
  }
  data["departments"] = std::move(departments);
  data.set("has_rows", TemplateData(!grid.empty()));
  data.set("late_total", std::to_string(late_total));
  visit.Show("admin/attendance", data);
}

void SendCsv(AdminVisit& visit) {
  const MonthChoice choice = Choose(visit);
  if (!choice.error.empty()) {
    visit.Message(400, visit.Text("attendance"), choice.error);
    return;
  }
  const auto grid = ReadMonth(visit, choice.month, std::nullopt);
  HttpResponse& response = visit.http().response();
  response.SetContentType("text/csv; charset=utf-8");
  response.Write(AttendanceCsv(grid, choice.month.Days(), choice.start,
                               visit.Text("department"), visit.Text("person"),
                               visit.Text("late_days")));
}

}  // namespace

void LoginsPage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (visit.post()) {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  } else if (rest.empty()) {
    ShowSummary(visit);
  } else if (rest == "/person") {
    ShowPerson(visit);
  } else if (rest == "/record") {
    ShowRecord(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

void AttendancePage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (visit.post()) {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  } else if (rest.empty()) {
    ShowAttendance(visit);
  } else if (rest == "/csv") {
    SendCsv(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace wrenhaven::web
