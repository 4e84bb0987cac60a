#include "testing/test_db.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {

std::vector<std::string> TestDatabases() {
  std::vector<std::string> dbs = {"sqlite"};
  const char* pg = std::getenv("WRENHAVEN_TEST_POSTGRES");
  if (pg && *pg) dbs.push_back("postgresql");
  return dbs;
}

TestDb::TestDb(std::string_view database, bool demo) {
  if (database != "sqlite") {
    throw std::runtime_error("no test database of kind " + std::string(database));
  }
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir ? dir : "/tmp") + "/wrenhaven-test-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  path_ = pattern;
  conn_ = OpenSqlite(path_);
  CreateSchema(*conn_);
  if (demo) LoadDemoData(*conn_);
}

TestDb::~TestDb() {
  conn_.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::remove((path_ + suffix).c_str());
  }
}

Variant TestDb::Scalar(const std::string& query) const {
  auto rs = conn_->Open(query, CursorType::kStatic);
  if (rs->Eof()) return Variant();
  return rs->Value(0);
}

}  // namespace wrenhaven
