// The main window's data and the sign-in summary, on the demo office and
// on the large one (schema/large_office.h: 100,000 people, 2,000 menus,
// 200 roles, 1,000,000 login records).
//
//   main_window_bench --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true
//
// Main window: the top menu and the left menu under the first top entry
// for a visitor with the roles 1 to 20, as the page reads them:
//   BM_WindowBySlots   the baseline, as the page read them before: the two
//                      slots, then Menu.GetData for each sub-entry's texts;
//   BM_WindowTyped     TopMenuItems and LeftMenuItems, one statement each;
//   BM_WindowCached    through a MenuCache that holds both lists: the
//                      rights version is the one statement.
// Each reports the statements one window sends ("statements") and the
// entries it lists ("entries").
//
// Sign-in summary (Login.GetAllData) on the large office, beside reading a
// table that holds its result already (BM_SummaryResultOnly: what the
// result alone costs). With WRENHAVEN_TEST_POSTGRES set, the large office
// is built there too and the summary is measured with and without its
// index (HR_Login_summary) in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "schema/large_office.h"
#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "web/menu_cache.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/schema.h"

namespace wrenhaven {
namespace {

std::string Roles() {
  std::string roles;
  for (int r = 1; r <= 20; ++r) roles += (r > 1 ? "," : "") + std::to_string(r);
  return roles;
}

enum Office { kDemo = 0, kLarge = 1 };

// Built on first use, removed at exit.
const TestDb& Db(Office office, const std::string& database = "sqlite") {
  static std::unique_ptr<TestDb> dbs[2][2];
  const int which = database == "sqlite" ? 0 : 1;
  std::unique_ptr<TestDb>& db = dbs[which][office];
  if (!db) {
    db = std::make_unique<TestDb>(database, office == kDemo);
    if (office == kLarge) LoadLargeOffice(*db->conn());
  }
  return *db;
}

bool HavePostgres() {
  return std::getenv("WRENHAVEN_TEST_POSTGRES") != nullptr;
}

// A visitor's page objects and a Menu bound to them, on a counted
// connection.
struct Visitor {
  explicit Visitor(const TestDb& db)
      : conn(std::make_shared<TappedConnection>(db.conn())) {
    context->session_obj->Set("RoleID", Variant::String(Roles()));
    menu->OnStartPage(context);
    menu->SetConn(conn);
  }
  std::shared_ptr<TappedConnection> conn;
  std::shared_ptr<MemoryContext> context = std::make_shared<MemoryContext>();
  std::shared_ptr<Menu> menu = std::make_shared<Menu>();
};

void Report(benchmark::State& state, Visitor& v, size_t entries) {
  state.counters["statements"] =
      benchmark::Counter(static_cast<double>(v.conn->sent.size()),
                         benchmark::Counter::kAvgIterations);
  state.counters["entries"] = static_cast<double>(entries);
}

void BM_WindowBySlots(benchmark::State& state) {
  Visitor v(Db(static_cast<Office>(state.range(0))));
  size_t entries = 0;
  for (auto _ : state) {
    const VariantArray top = v.menu->GetTopMenu();
    const int32_t parent = top(0, 0).ToLong();
    const VariantArray left = v.menu->GetLeftMenu(parent);
    entries = static_cast<size_t>(top.UBound(1) + 1);
    for (int32_t r = 0; r < left.UBound(1); ++r) {
      ++entries;
      if (left(r, 4).ToLong() != parent) {
        benchmark::DoNotOptimize(v.menu->GetData(left(r, 0).ToLong()));
      }
    }
  }
  Report(state, v, entries);
}
BENCHMARK(BM_WindowBySlots)
    ->ArgName("large")
    ->Arg(kDemo)
    ->Arg(kLarge)
    ->Unit(benchmark::kMicrosecond);

void BM_WindowTyped(benchmark::State& state) {
  Visitor v(Db(static_cast<Office>(state.range(0))));
  size_t entries = 0;
  for (auto _ : state) {
    const web::WindowMenus w =
        web::ReadWindowMenus(*v.menu, *v.conn, nullptr, Roles(), "");
    entries = w.top->size() + w.left->size();
  }
  Report(state, v, entries);
}
BENCHMARK(BM_WindowTyped)
    ->ArgName("large")
    ->Arg(kDemo)
    ->Arg(kLarge)
    ->Unit(benchmark::kMicrosecond);

void BM_WindowCached(benchmark::State& state) {
  Visitor v(Db(static_cast<Office>(state.range(0))));
  web::MenuCache cache;
  web::ReadWindowMenus(*v.menu, *v.conn, &cache, Roles(), "");
  v.conn->sent.clear();
  size_t entries = 0;
  for (auto _ : state) {
    const web::WindowMenus w =
        web::ReadWindowMenus(*v.menu, *v.conn, &cache, Roles(), "");
    entries = w.top->size() + w.left->size();
  }
  Report(state, v, entries);
}
BENCHMARK(BM_WindowCached)
    ->ArgName("large")
    ->Arg(kDemo)
    ->Arg(kLarge)
    ->Unit(benchmark::kMicrosecond);

void Summary(benchmark::State& state, const TestDb& db) {
  Login login;
  login.SetConn(db.conn());
  int32_t rows = 0;
  for (auto _ : state) {
    const VariantArray all = login.GetAllData();
    rows = all.UBound(1);
  }
  state.counters["rows"] = rows;
}

void BM_Summary(benchmark::State& state) { Summary(state, Db(kLarge)); }
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond)->Iterations(3);

// The summary's rows read from a table that holds them, through the same
// connection and into the same shape of result.
void BM_SummaryResultOnly(benchmark::State& state) {
  const TestDb& db = Db(kLarge);
  db.Exec(
      "CREATE TABLE IF NOT EXISTS bench_summary AS SELECT HR_Login.PersonID "
      "AS PersonID,personName, MAX(loginTime) AS lastTime,MAX(loginOutTime) "
      "as outTime, COUNT(*) AS Times FROM HR_Login,HR_person where "
      "HR_Login.personID=HR_Person.personID and LoginOK=1 GROUP BY "
      "HR_Login.PersonID,personName");
  int32_t rows = 0;
  for (auto _ : state) {
    std::unique_ptr<Recordset> rs =
        db.conn()->Open("SELECT * FROM bench_summary ORDER BY lastTime DESC",
                        CursorType::kStatic);
    const int32_t n = rs->RecordCount();
    const int fields = rs->FieldCount();
    VariantArray all = VariantArray::TwoDim(n, fields - 1);
    for (int32_t r = 1; r <= n && !rs->Eof(); ++r) {
      for (int f = 0; f < fields; ++f) all(r, f) = rs->Value(f);
      rs->MoveNext();
    }
    rs->Close();
    rows = all.UBound(1);
  }
  state.counters["rows"] = rows;
}
BENCHMARK(BM_SummaryResultOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SummaryPostgres(benchmark::State& state) {
  if (!HavePostgres()) {
    state.SkipWithError("WRENHAVEN_TEST_POSTGRES is not set");
    return;
  }
  const TestDb& db = Db(kLarge, "postgresql");
  const bool indexed = state.range(0) == 1;
  db.Exec(indexed ? "CREATE INDEX IF NOT EXISTS HR_Login_summary ON "
                    "HR_Login(personID) INCLUDE (loginTime, loginOutTime) "
                    "WHERE LoginOK = 1"
                  : "DROP INDEX IF EXISTS HR_Login_summary");
  db.Exec("VACUUM ANALYZE HR_Login");
  Summary(state, db);
}
BENCHMARK(BM_SummaryPostgres)
    ->ArgName("indexed")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_WindowPostgres(benchmark::State& state) {
  if (!HavePostgres()) {
    state.SkipWithError("WRENHAVEN_TEST_POSTGRES is not set");
    return;
  }
  Visitor v(Db(kLarge, "postgresql"));
  const int how = static_cast<int>(state.range(0));
  web::MenuCache cache;
  size_t entries = 0;
  for (auto _ : state) {
    if (how == 0) {
      const VariantArray top = v.menu->GetTopMenu();
      const int32_t parent = top(0, 0).ToLong();
      const VariantArray left = v.menu->GetLeftMenu(parent);
      entries = static_cast<size_t>(top.UBound(1) + 1);
      for (int32_t r = 0; r < left.UBound(1); ++r) {
        ++entries;
        if (left(r, 4).ToLong() != parent) {
          benchmark::DoNotOptimize(v.menu->GetData(left(r, 0).ToLong()));
        }
      }
    } else {
      const web::WindowMenus w = web::ReadWindowMenus(
          *v.menu, *v.conn, how == 2 ? &cache : nullptr, Roles(), "");
      entries = w.top->size() + w.left->size();
    }
  }
  Report(state, v, entries);
}
// 0: by slots (the baseline), 1: typed, 2: cached.
BENCHMARK(BM_WindowPostgres)
    ->ArgName("way")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace wrenhaven

BENCHMARK_MAIN();
