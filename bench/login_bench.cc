// Login over the embedded database.
//
// Sign-in: a whole LoginMain page (fresh page objects, a new instance, the
// person query, the password check, the role query and the login record)
// against an office of 10 000 people, hashed at the least cost so that the
// figure is what the statements and the page cost. Beside it, at the
// standard cost, a wrong password and an unknown account: both verify one
// hash, so their times must agree within a few per cent.
//
// Login records: GetMonthLogin and GetAllData over 1 000 000 records of
// three years, with the bare statements beside them. Building that file
// takes a while, so it is kept in the temporary folder under a name made of
// kRecordsVersion and the schema's own text; a schema change (a new index)
// or a new generator version builds a fresh one.
//
//   login_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "wrenhaven/dialect.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sign_in.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

namespace fs = std::filesystem;
using Collection = Request::Collection;

// Bump when the generated login records change.
constexpr std::string_view kRecordsVersion = "v1";

constexpr int kPeople = 10000;
// People whose password is hashed at the standard cost for the failure
// benchmarks (hashing all 10 000 would take minutes).
constexpr int kStandardPeople = 8;
constexpr int kDepartments = 40;
constexpr int kRoles = 20;
constexpr int kRecords = 1000000;
constexpr int kFirstYear = 2021;
constexpr int kYears = 3;

constexpr char kAddress[] = "10.0.0.8";
constexpr char kBrowser[] = "Mozilla/5.0 (X11; Linux x86_64; rv:109.0)";
constexpr char kScreen[] = "1920*1080";

// The per-person summary exactly as Login sends it.
constexpr char kSummary[] =
    "SELECT HR_Login.PersonID,personName, MAX(loginTime) AS "
    "lastTime,MAX(loginOutTime) as outTime, COUNT(*) AS Times FROM "
    "HR_Login,HR_person  where HR_Login.personID=HR_Person.personID and "
    "LoginOK=1 GROUP BY HR_Login.PersonID,personName ORDER BY MAX(loginTime) "
    "DESC";

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

std::string FreshTempPath(const std::string& stem) {
  std::string path = TempDir() + "/" + stem + "-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  return path;
}

void RemoveDatabase(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::remove((path + suffix).c_str());
  }
}

// A database file removed when the owner goes away.
class TempDatabase {
 public:
  explicit TempDatabase(std::string path) : path_(std::move(path)) {}
  ~TempDatabase() { RemoveDatabase(path_); }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct RawDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using RawDb = std::unique_ptr<sqlite3, RawDbCloser>;

[[noreturn]] void RawFail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

// The file opened as OpenSqlite opens it: same flags, same settings.
RawDb OpenRaw(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  RawDb db(raw);
  if (rc != SQLITE_OK) RawFail(raw, "cannot open " + path);
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), 5000);
  for (const char* pragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA foreign_keys=ON",
        "PRAGMA synchronous=NORMAL"}) {
    if (sqlite3_exec(db.get(), pragma, nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
      RawFail(db.get(), pragma);
    }
  }
  return db;
}

void RawExec(sqlite3* db, const std::string& statement) {
  if (sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    RawFail(db, statement);
  }
}

std::string Padded(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%05d", n);
  return buf;
}

// Person n (1 to kPeople) signs in as userNNNNN with password pwNNNNN.
std::string Account(int n) { return "user" + Padded(n); }
std::string Password(int n) { return "pw" + Padded(n); }

// Departments, roles and kPeople people, each with one role and every
// second one with another, written in one transaction.
void AddPeople(Connection& conn) {
  conn.Begin();
  conn.Execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i "
      "< " +
      std::to_string(kDepartments) +
      ") INSERT INTO HR_Dept (DeptID, DeptName) SELECT i, 'Department ' || i "
      "FROM n");
  conn.Execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i "
      "< " +
      std::to_string(kRoles) +
      ") INSERT INTO SYS_Role (RoleID, RoleName, RoleLevel) SELECT i, "
      "'Role ' || i, '1' FROM n");
  conn.Execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i "
      "< " +
      std::to_string(kPeople) +
      ") INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) SELECT i, printf('user%05d', i), "
      "printf('pw%05d', i), 'Person ' || i, i % " +
      std::to_string(kDepartments) + " + 1, 'J' || (i % 7) FROM n");
  conn.Execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i "
      "< " +
      std::to_string(kPeople) +
      ") INSERT INTO SYS_PersonRole (PersonID, RoleID) SELECT i, i % 20 + 1 "
      "FROM n UNION ALL SELECT i, (i % 20 + 10) % 20 + 1 FROM n WHERE i % 2 = "
      "0");
  conn.Commit();
}

// ---------------------------------------------------------------------------
// Sign-in

// The office of 10 000 people, built once per program; every benchmark run
// signs in on a copy of its own, so the records one run writes never reach
// the next.
const std::string& OfficeTemplate() {
  static const TempDatabase office(FreshTempPath("wrenhaven-office"));
  static const bool built = [] {
    std::shared_ptr<Connection> conn = OpenSqlite(office.path());
    CreateSchema(*conn);
    AddPeople(*conn);
    HashStoredPasswords(*conn, PasswordCost::ForTests());
    return true;  // closing checkpoints the log into the file
  }();
  static_cast<void>(built);
  return office.path();
}

std::string CopyOfOffice() {
  const std::string path = FreshTempPath("wrenhaven-signin");
  fs::copy_file(OfficeTemplate(), path, fs::copy_options::overwrite_existing);
  return path;
}

// The person signing in at the n-th iteration: spread over the whole table.
int PersonAt(int64_t n) { return static_cast<int>(n * 7919 % kPeople) + 1; }

struct Credentials {
  std::string account;
  std::string password;
};

std::vector<Credentials> AllCredentials(bool right_password) {
  std::vector<Credentials> all;
  all.reserve(kPeople);
  for (int i = 0; i < kPeople; ++i) {
    const int person = PersonAt(i);
    all.push_back({Account(person),
                   right_password ? Password(person) : "wrong" + Padded(i)});
  }
  return all;
}

std::shared_ptr<MemoryContext> PostedForm(const Credentials& c) {
  auto ctx = std::make_shared<MemoryContext>();
  MemoryRequest& req = *ctx->request_obj;
  req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
  req.Set(Collection::kServerVariables, "REMOTE_ADDR", kAddress);
  req.Set(Collection::kServerVariables, "HTTP_USER_AGENT", kBrowser);
  req.Set(Collection::kForm, "LoginName", c.account);
  req.Set(Collection::kForm, "LoginPwd", c.password);
  req.Set(Collection::kForm, "Screen", kScreen);
  return ctx;
}

// One sign-in page as the host runs it. Returns whether the main window
// was opened; raises when the page saw an error.
bool LibrarySignIn(const std::shared_ptr<Connection>& conn,
                   const Credentials& c) {
  auto ctx = PostedForm(c);
  Login login;
  login.OnStartPage(ctx);
  login.SetConn(conn);
  login.LoginMain();
  login.OnEndPage();
  const std::string error = login.GetError();
  if (!error.empty()) throw std::runtime_error(error);
  return ctx->response_obj->ended();
}

void SignInLibrary(benchmark::State& state, bool right_password) {
  SignInPolicy policy = CurrentSignInPolicy();
  policy.cost = PasswordCost::ForTests();
  policy.limits = SignInLimits::Off();
  SetSignInPolicy(policy);
  const std::vector<Credentials> all = AllCredentials(right_password);
  TempDatabase office(CopyOfOffice());
  std::shared_ptr<Connection> conn = OpenSqlite(office.path());
  size_t n = 0;
  for (auto _ : state) {
    try {
      if (LibrarySignIn(conn, all[n++ % all.size()]) != right_password) {
        state.SkipWithError("unexpected sign-in outcome");
        break;
      }
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SignInSuccess(benchmark::State& state) { SignInLibrary(state, true); }
void BM_SignInFailure(benchmark::State& state) { SignInLibrary(state, false); }

BENCHMARK(BM_SignInSuccess)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignInFailure)->Unit(benchmark::kMicrosecond);

// A failed sign-in at the standard cost: a wrong password for a person
// whose password is hashed at that cost, or an account nobody has. The
// limits are off, so only the check is measured.
void FailureAtStandardCost(benchmark::State& state, bool known_account) {
  TempDatabase office(CopyOfOffice());
  std::shared_ptr<Connection> conn = OpenSqlite(office.path());
  SignInPolicy policy = CurrentSignInPolicy();
  policy.cost = PasswordCost::Standard();
  policy.limits = SignInLimits::Off();
  SetSignInPolicy(policy);
  for (int person = 1; person <= kStandardPeople; ++person) {
    SetStoredPassword(*conn, Account(person), "long " + Password(person),
                      PasswordCost::Standard());
  }
  int64_t n = 0;
  for (auto _ : state) {
    const int person = static_cast<int>(n++ % kStandardPeople) + 1;
    const Credentials c{
        known_account ? Account(person) : "nobody" + Padded(person),
        "wrong" + Padded(person) + "x"};
    try {
      if (LibrarySignIn(conn, c)) {
        state.SkipWithError("a wrong password signed in");
        break;
      }
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  policy.cost = PasswordCost::ForTests();
  SetSignInPolicy(policy);
  state.SetItemsProcessed(state.iterations());
}

void BM_WrongPasswordStandardCost(benchmark::State& state) {
  FailureAtStandardCost(state, true);
}
void BM_UnknownAccountStandardCost(benchmark::State& state) {
  FailureAtStandardCost(state, false);
}
BENCHMARK(BM_WrongPasswordStandardCost)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30)
    ->UseRealTime();
BENCHMARK(BM_UnknownAccountStandardCost)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30)
    ->UseRealTime();

// ---------------------------------------------------------------------------
// Login records

// The schema as SQLite keeps it, so that a changed index names a new file.
std::string SchemaKey() {
  std::shared_ptr<Connection> conn = OpenSqlite(":memory:");
  CreateSchema(*conn);
  auto rs = conn->Open(
      "SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_master "
      "WHERE sql IS NOT NULL ORDER BY name)",
      CursorType::kStatic);
  const std::string schema = rs->Value(0).ToText();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016zx", std::hash<std::string>{}(schema));
  return buf;
}

// kRecords sign-ins of three years, in time order as they would have been
// written: about 900 a day, mostly between 07:00 and 10:00, one in twenty
// before 06:00, one in twenty-five failed (no person), and a sign-out time
// on most of the successful ones.
void AddRecords(sqlite3* db) {
  const char* insert =
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "LoginIP, LoginMemo, LoginScreen, loginTime, loginOutTime) "
      "VALUES (?, ?, '******', ?, ?, ?, ?, ?, ?)";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, insert, -1, &stmt, nullptr) != SQLITE_OK) {
    RawFail(db, insert);
  }
  std::mt19937_64 random(20210101);
  auto below = [&random](int n) {
    return static_cast<int>(random() % static_cast<uint64_t>(n));
  };
  const double first = Date::FromParts(kFirstYear, 1, 1).serial;
  const int days = static_cast<int>(
      Date::FromParts(kFirstYear + kYears, 1, 1).serial - first);

  struct Sign {
    int second;  // of the day
    int person;
  };
  std::vector<Sign> day_signs;
  RawExec(db, "BEGIN");
  for (int day = 0; day < days; ++day) {
    int year, month, dom, h, m, s;
    Date{first + day}.ToParts(&year, &month, &dom, &h, &m, &s);
    const int64_t from = static_cast<int64_t>(day) * kRecords / days;
    const int64_t to = static_cast<int64_t>(day + 1) * kRecords / days;
    day_signs.clear();
    for (int64_t i = from; i < to; ++i) {
      const int kind = below(100);
      int second;
      if (kind < 5) {
        second = below(6 * 3600);  // 00:00 to 05:59
      } else if (kind < 85) {
        second = 7 * 3600 + below(3 * 3600);  // 07:00 to 09:59
      } else {
        second = 10 * 3600 + below(12 * 3600);  // 10:00 to 21:59
      }
      day_signs.push_back({second, below(kPeople) + 1});
    }
    std::sort(day_signs.begin(), day_signs.end(),
              [](const Sign& a, const Sign& b) { return a.second < b.second; });
    for (const Sign& sign : day_signs) {
      const bool ok = below(25) != 0;
      auto stamp = [&](int second) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year,
                      month, dom, second / 3600, second / 60 % 60, second % 60);
        return std::string(buf);
      };
      const std::string account = Account(sign.person);
      const std::string address = "10.0." + std::to_string(sign.person / 256) +
                                  "." + std::to_string(sign.person % 256);
      const std::string in = stamp(sign.second);
      const std::string out =
          stamp(std::min(sign.second + 8 * 3600 + below(7200), 86399));
      if (ok) {
        sqlite3_bind_int(stmt, 1, sign.person);
      } else {
        sqlite3_bind_null(stmt, 1);
      }
      sqlite3_bind_text(stmt, 2, account.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(stmt, 3, ok ? 1 : 0);
      sqlite3_bind_text(stmt, 4, address.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(stmt, 5, kBrowser, -1, SQLITE_STATIC);
      sqlite3_bind_text(stmt, 6, kScreen, -1, SQLITE_STATIC);
      sqlite3_bind_text(stmt, 7, in.c_str(), -1, SQLITE_TRANSIENT);
      if (ok && below(10) < 7) {
        sqlite3_bind_text(stmt, 8, out.c_str(), -1, SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt, 8);
      }
      if (sqlite3_step(stmt) != SQLITE_DONE) RawFail(db, insert);
      sqlite3_reset(stmt);
    }
  }
  sqlite3_finalize(stmt);
  RawExec(db, "COMMIT");
}

// The records file, built on first use and kept for later runs.
const std::string& RecordsFile() {
  static const std::string path = [] {
    const std::string stem = "wrenhaven-login-records-";
    const std::string name =
        stem + std::string(kRecordsVersion) + "-" + SchemaKey() + ".db";
    const std::string final_path = TempDir() + "/" + name;
    if (fs::exists(final_path)) return final_path;

    // Earlier versions are of no further use.
    for (const auto& entry : fs::directory_iterator(TempDir())) {
      const std::string file = entry.path().filename().string();
      if (file.rfind(stem, 0) == 0 && file.ends_with(".db")) {
        RemoveDatabase(entry.path().string());
      }
    }
    std::fprintf(stderr, "building %s (once)...\n", final_path.c_str());
    const std::string building =
        final_path + ".building-" + std::to_string(getpid());
    RemoveDatabase(building);
    {
      std::shared_ptr<Connection> conn = OpenSqlite(building);
      CreateSchema(*conn);
      AddPeople(*conn);
    }
    {
      RawDb db = OpenRaw(building);
      AddRecords(db.get());
    }  // the last close folds the log into the file
    fs::rename(building, final_path);
    return final_path;
  }();
  return path;
}

// Rows of a two-dimensional result, field first.
int64_t RowsOf(const VariantArray& a) {
  return a.bounds().size() == 2 ? a.bounds()[1].size() : 0;
}

void BM_GetMonthLogin(benchmark::State& state) {
  std::shared_ptr<Connection> conn = OpenSqlite(RecordsFile());
  Login login;
  login.SetConn(conn);
  const Variant june = Variant::String("2022-06-15");
  int64_t rows = 0;
  for (auto _ : state) {
    const Variant v = login.GetMonthLogin(june);
    const std::string error = login.GetError();
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    rows = RowsOf(v.array());
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_GetAllData(benchmark::State& state) {
  std::shared_ptr<Connection> conn = OpenSqlite(RecordsFile());
  Login login;
  login.SetConn(conn);
  int64_t rows = 0;
  for (auto _ : state) {
    const VariantArray a = login.GetAllData();
    const std::string error = login.GetError();
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    rows = a.bounds()[0].upper;  // row 0 holds the names
  }
  state.counters["rows"] = static_cast<double>(rows);
}

// A statement stepped through with every value read as text: what SQLite
// alone takes, without variants or result arrays.
int64_t StepThrough(sqlite3* db, const std::string& statement) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, statement.data(),
                         static_cast<int>(statement.size()), &stmt,
                         nullptr) != SQLITE_OK) {
    RawFail(db, statement);
  }
  const int n = sqlite3_column_count(stmt);
  int64_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) {
      benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
    }
    ++rows;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) RawFail(db, statement);
  return rows;
}

void BM_MonthLoginStatement(benchmark::State& state) {
  const std::string statement =
      OpenSqlite(":memory:")->dialect().MonthLogin(2022, 6);
  RawDb db = OpenRaw(RecordsFile());
  int64_t rows = 0;
  for (auto _ : state) rows = StepThrough(db.get(), statement);
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_SummaryStatement(benchmark::State& state) {
  RawDb db = OpenRaw(RecordsFile());
  int64_t rows = 0;
  for (auto _ : state) rows = StepThrough(db.get(), kSummary);
  state.counters["rows"] = static_cast<double>(rows);
}

BENCHMARK(BM_GetMonthLogin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonthLoginStatement)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAllData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryStatement)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wrenhaven

BENCHMARK_MAIN();
