// Login over the embedded database: a whole sign-in (person query, role
// query, login record) and the login-record queries over a month of
// records (10 000 sign-ins of the demo office's ten people).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

using Collection = Request::Collection;

// A demo office in a temporary file, removed at the end.
class Office {
 public:
  explicit Office(int records) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir ? dir : "/tmp") + "/wrenhaven-bench-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    close(fd);
    conn_ = OpenSqlite(path_);
    CreateSchema(*conn_);
    LoadDemoData(*conn_);
    // May 2003, spread over the whole month and every hour of the day.
    conn_->Execute(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE "
        "i < " +
        std::to_string(records - 1) +
        ") INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
        "LoginIP, loginTime) SELECT i % 10 + 1, 'x', '******', 1, "
        "'10.0.0.8', datetime('2003-05-01 00:00:00', '+' || "
        "(i * 7919 % 2678400) || ' seconds') FROM n");
  }
  ~Office() {
    conn_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::remove((path_ + suffix).c_str());
    }
  }
  const std::shared_ptr<Connection>& conn() const { return conn_; }

 private:
  std::string path_;
  std::shared_ptr<Connection> conn_;
};

std::shared_ptr<MemoryContext> Post(const char* name, const char* pwd) {
  auto ctx = std::make_shared<MemoryContext>();
  MemoryRequest& req = *ctx->request_obj;
  req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
  req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
  req.Set(Collection::kServerVariables, "HTTP_USER_AGENT",
          "Mozilla/5.0 (X11; Linux x86_64)");
  req.Set(Collection::kForm, "LoginName", name);
  req.Set(Collection::kForm, "LoginPwd", pwd);
  req.Set(Collection::kForm, "Screen", "1920*1080");
  return ctx;
}

// One page: a new instance bound to a fresh page, as the host does it.
void SignIn(benchmark::State& state, const char* pwd) {
  Office office(1000);
  for (auto _ : state) {
    auto ctx = Post("ann", pwd);
    Login login;
    login.OnStartPage(ctx);
    login.SetConn(office.conn());
    login.LoginMain();
    login.OnEndPage();
    benchmark::DoNotOptimize(ctx->response_obj->written().size());
  }
}

void BM_SignInSuccess(benchmark::State& state) { SignIn(state, "ann123"); }
void BM_SignInFailure(benchmark::State& state) { SignIn(state, "wrong"); }

void BM_GetAllData(benchmark::State& state) {
  Office office(static_cast<int>(state.range(0)));
  Login login;
  login.SetConn(office.conn());
  for (auto _ : state) benchmark::DoNotOptimize(login.GetAllData());
}

void BM_GetPersonData(benchmark::State& state) {
  Office office(static_cast<int>(state.range(0)));
  Login login;
  login.SetConn(office.conn());
  const Variant person = Variant::Long(3);
  for (auto _ : state) benchmark::DoNotOptimize(login.GetPersonData(person));
}

void BM_GetMonthLogin(benchmark::State& state) {
  Office office(static_cast<int>(state.range(0)));
  Login login;
  login.SetConn(office.conn());
  const Variant may = Variant::String("2003-05-15");
  for (auto _ : state) benchmark::DoNotOptimize(login.GetMonthLogin(may));
}

void BM_GetData(benchmark::State& state) {
  Office office(10000);
  Login login;
  login.SetConn(office.conn());
  int32_t id = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(login.GetData(id % 10000 + 1));
    ++id;
  }
}

BENCHMARK(BM_SignInSuccess)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignInFailure)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAllData)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetPersonData)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetMonthLogin)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetData)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace wrenhaven

BENCHMARK_MAIN();
