// The administration page of sessions, /admin/sessions, over HTTP with
// 10,000 signed-in sessions (1,000 accounts, ten sessions each) in the
// store, as an administrator sees it: the first page of the whole list
// (50 rows), and the list of one account (ten rows). Each with the memory
// store (0) and the database store on SQLite (1).
//
//   sessions_bench --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true
//
// The host serves on a free port of 127.0.0.1; each iteration is one
// request on a kept-alive connection.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <thread>

#include "host/sessions.h"
#include "testing/test_db.h"
#include "web/office_pages.h"
#include "wrenhaven/database_sessions.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven {
namespace {

constexpr int kSessions = 10000;
constexpr int kAccounts = 1000;

struct Office {
  explicit Office(bool in_database) : db("sqlite", /*demo=*/true) {
    HttpHostOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.workers = 4;
    options.log_requests = false;
    const ConnectionFactory connections = db.Connections();
    std::unique_ptr<SessionStore> store =
        in_database
            ? MakeDatabaseSessionStore(connections, options.session_limits)
            : MakeMemorySessionStore(options.session_limits);
    const auto now = SessionClock::now();
    for (int i = 0; i < kSessions; ++i) {
      const int person = 100 + i % kAccounts;
      SessionStore::Entry entry;
      entry.values = {{"PersonID", Variant::Long(person)}};
      entry.created = now - std::chrono::seconds(i);
      entry.holder = {
          std::to_string(person), "user" + std::to_string(i % kAccounts),
          1000 + i,
          "10.1." + std::to_string(i / 256 % 256) + "." +
              std::to_string(i % 256),
          "Mozilla/5.0 (X11; Linux x86_64) bench/" + std::to_string(i)};
      store->Save(host::NewSessionId(), std::move(entry));
    }
    host = std::make_unique<HttpHost>(options, connections, std::move(store));
    web::AddOfficePages(*host);
    port = host->Bind();
    thread = std::thread([this] { host->Run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    const auto signed_in =
        client->Post("/", "LoginName=ann&LoginPwd=ann123&oldwin=true",
                     "application/x-www-form-urlencoded");
    if (!signed_in || signed_in->status != 302) {
      Raise(ErrorCode::kHost, "The administrator could not sign in");
    }
    for (size_t i = 0; i < signed_in->get_header_value_count("Set-Cookie");
         ++i) {
      const std::string c = signed_in->get_header_value("Set-Cookie", i);
      if (c.rfind("WRENHAVEN_SESSION=", 0) == 0)
        cookie = c.substr(0, c.find(';'));
    }
  }
  ~Office() {
    client.reset();
    host->Stop();
    thread.join();
  }

  TestDb db;
  std::unique_ptr<HttpHost> host;
  int port = 0;
  std::thread thread;
  std::unique_ptr<httplib::Client> client;
  std::string cookie;
};

std::unique_ptr<Office> offices[2];

Office& OfficeFor(int which) {
  if (!offices[which]) offices[which] = std::make_unique<Office>(which == 1);
  return *offices[which];
}

void Fetch(benchmark::State& state, const std::string& path, size_t rows) {
  Office& office = OfficeFor(static_cast<int>(state.range(0)));
  const httplib::Headers headers = {{"Cookie", office.cookie},
                                    {"Accept-Language", "en"}};
  size_t shown = 0;
  for (auto _ : state) {
    const auto r = office.client->Get(path.c_str(), headers);
    if (!r || r->status != 200) {
      state.SkipWithError("the page did not answer 200");
      return;
    }
    shown = 0;
    for (size_t at = r->body.find("<tr data-key="); at != std::string::npos;
         at = r->body.find("<tr data-key=", at + 1)) {
      ++shown;
    }
    benchmark::DoNotOptimize(r->body.data());
  }
  if (shown != rows) state.SkipWithError("the page listed the wrong rows");
  state.counters["rows"] = static_cast<double>(shown);
}

void BM_SessionsPage(benchmark::State& state) {
  Fetch(state, "/admin/sessions", 50);
}
void BM_SessionsPageByAccount(benchmark::State& state) {
  Fetch(state, "/admin/sessions?account=user500", 10);
}

BENCHMARK(BM_SessionsPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionsPageByAccount)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wrenhaven

int main(int argc, char** argv) {
  spdlog::set_level(spdlog::level::warn);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  for (auto& office : wrenhaven::offices) office.reset();
  benchmark::Shutdown();
  return 0;
}
