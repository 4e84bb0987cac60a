#include "testing/test_db.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "wrenhaven/dialect.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sign_in.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {

std::vector<std::string> TestDatabases() {
  std::vector<std::string> dbs = {"sqlite"};
  const char* pg = std::getenv("WRENHAVEN_TEST_POSTGRES");
  if (pg && *pg) dbs.push_back("postgresql");
  return dbs;
}

namespace {

// A schema name no other test uses, on this server or any other process.
std::string FreshSchemaName() {
  static std::atomic<int> counter{0};
  std::random_device random;
  char buf[64];
  std::snprintf(buf, sizeof buf, "wh_test_%ld_%d_%08x",
                static_cast<long>(getpid()), counter++,
                static_cast<unsigned>(random()));
  return buf;
}

// The address with the schema first on the search path, as a connection
// option, so it holds for every connection made from it (a reconnection
// too).
std::string WithSearchPath(const std::string& address,
                           const std::string& schema) {
  if (address.rfind("postgresql://", 0) == 0 ||
      address.rfind("postgres://", 0) == 0) {
    return address + (address.find('?') == std::string::npos ? "?" : "&") +
           "options=-csearch_path%3D" + schema;
  }
  return address + " options='-csearch_path=" + schema + "'";
}

}  // namespace

TestDb::TestDb(std::string_view database, bool demo) {
  // Test suites sign in thousands of times: the first test database of a
  // process makes password hashing as cheap as it goes. A test that wants
  // another cost sets it after this.
  static const bool fast_hashing = [] {
    SignInPolicy policy = CurrentSignInPolicy();
    policy.cost = PasswordCost::ForTests();
    SetSignInPolicy(policy);
    return true;
  }();
  (void)fast_hashing;
  if (database == "postgresql") {
    // A schema of its own on the configured server; the connection finds
    // the tables there first.
    const char* address = std::getenv("WRENHAVEN_TEST_POSTGRES");
    if (!address || !*address) {
      throw std::runtime_error(
          "no PostgreSQL server: set WRENHAVEN_TEST_POSTGRES to its address");
    }
    path_ = FreshSchemaName();
    OpenPostgres(address)->Execute("CREATE SCHEMA " + path_);
    try {
      address_ = WithSearchPath(address, path_);
      conn_ = OpenPostgres(address_);
      CreateSchema(*conn_);
      if (demo) LoadDemoData(*conn_);
    } catch (...) {
      OpenPostgres(address)->Execute("DROP SCHEMA " + path_ + " CASCADE");
      throw;
    }
    return;
  }
  if (database != "sqlite") {
    throw std::runtime_error("no test database of kind " +
                             std::string(database));
  }
  const char* dir = std::getenv("TMPDIR");
  std::string pattern =
      std::string(dir ? dir : "/tmp") + "/wrenhaven-test-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  path_ = pattern;
  conn_ = OpenSqlite(path_);
  CreateSchema(*conn_);
  if (demo) LoadDemoData(*conn_);
}

TestDb::~TestDb() {
  if (conn_ && conn_->dialect().name() == "postgresql") {
    try {
      conn_->Execute("DROP SCHEMA " + path_ + " CASCADE");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "cannot drop the test schema %s: %s\n",
                   path_.c_str(), e.what());
    }
    return;
  }
  conn_.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::remove((path_ + suffix).c_str());
  }
}

std::string TestDb::Day(int days_back) const {
  const std::string n = std::to_string(-days_back);
  return Scalar(conn_->dialect().name() == "postgresql"
                    ? "SELECT to_char(LOCALTIMESTAMP + interval '" + n +
                          " days', 'YYYY-MM-DD')"
                    : "SELECT date('now','localtime','" + n + " days')")
      .ToText();
}

std::function<std::shared_ptr<Connection>()> TestDb::Connections() const {
  if (!address_.empty()) {
    return [address = address_] { return OpenPostgres(address); };
  }
  return [path = path_] { return OpenSqlite(path, false); };
}

Variant TestDb::Scalar(const std::string& query) const {
  auto rs = conn_->Open(query, CursorType::kStatic);
  if (rs->Eof()) return Variant();
  return rs->Value(0);
}

}  // namespace wrenhaven
