// What /admin/audit reads for one page on a trail of 100,000 rows: the
// count of the rows that pass the filters and the page of the newest 50,
// without a filter and with each filter alone.
//
//   audit_bench --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true
//
// The rows: one a minute from 2026-01-01 (about 70 days), 20 people in
// turn, the 15 kinds in turn. Filters: one person (5,000 rows), one kind
// (6,667 rows), the menu changes (20,000 rows), one day (1,440 rows). With
// WRENHAVEN_TEST_POSTGRES set, the same on PostgreSQL.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "testing/test_db.h"
#include "wrenhaven/audit.h"

namespace wrenhaven {
namespace {

constexpr int kRows = 100000;

void Fill(const TestDb& db) {
  const char* kinds[15];
  std::string texts[15];
  int k = 0;
  for (const AuditObject o :
       {AuditObject::kMenu, AuditObject::kFunction, AuditObject::kRole,
        AuditObject::kGrant, AuditObject::kPersonRole}) {
    for (const AuditAction a :
         {AuditAction::kAdd, AuditAction::kUpdate, AuditAction::kDelete}) {
      texts[k] = AuditKind(o, a);
      kinds[k] = texts[k].c_str();
      ++k;
    }
  }
  db.conn()->Begin();
  for (int start = 0; start < kRows; start += 500) {
    std::string insert =
        "insert into SYS_Audit (AuditTime,PersonID,PersonAccount,ClientIP,"
        "AuditKind,AuditTarget,BeforeValue,AfterValue) values ";
    for (int i = start; i < start + 500; ++i) {
      const int day = i / 1440;
      char time[40];
      std::snprintf(time, sizeof time, "2026-%02d-%02d %02d:%02d:00",
                    1 + day / 28, 1 + day % 28, (i / 60) % 24, i % 60);
      insert += std::string(i == start ? "" : ",") + "('" + time + "'," +
                std::to_string(1 + i % 20) + ",'p" + std::to_string(i % 20) +
                "','10.0.0." + std::to_string(i % 200) + "','" + kinds[i % 15] +
                "','" + std::to_string(i % 500) +
                "','{\"MenuID\":12,\"MenuName\":\"before\"}',"
                "'{\"MenuID\":12,\"MenuName\":\"after\"}')";
    }
    db.Exec(insert);
  }
  db.conn()->Commit();
}

const TestDb& Db(const std::string& database) {
  static std::unique_ptr<TestDb> dbs[2];
  std::unique_ptr<TestDb>& db = dbs[database == "sqlite" ? 0 : 1];
  if (!db) {
    db = std::make_unique<TestDb>(database);
    Fill(*db);
  }
  return *db;
}

void Listing(benchmark::State& state, const std::string& database,
             AuditFilter filter) {
  if (database == "postgresql" && TestDatabases().size() < 2) {
    state.SkipWithError("WRENHAVEN_TEST_POSTGRES names no server");
    return;
  }
  AuditTrail trail;
  trail.SetConn(Db(database).conn());
  int64_t rows = 0;
  for (auto _ : state) {
    rows = trail.Count(filter);
    const VariantArray page = trail.Rows(filter, 0, kAuditDefaultPageSize);
    benchmark::DoNotOptimize(page);
  }
  state.counters["matching"] = static_cast<double>(rows);
}

void Register() {
  const struct {
    const char* name;
    AuditFilter filter;
  } filters[] = {
      {"all", {}},
      {"person", {"7", "", "", ""}},
      {"kind", {"", "role.update", "", ""}},
      {"object", {"", "menu", "", ""}},
      {"day", {"", "", "2026-02-10", "2026-02-10"}},
  };
  for (const char* database : {"sqlite", "postgresql"}) {
    for (const auto& f : filters) {
      benchmark::RegisterBenchmark(
          (std::string("BM_AuditListing/") + database + "/" + f.name).c_str(),
          [database, filter = f.filter](benchmark::State& state) {
            Listing(state, database, filter);
          })
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace
}  // namespace wrenhaven

int main(int argc, char** argv) {
  wrenhaven::Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
