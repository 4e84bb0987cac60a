// A SQLite database in a temporary file with the office schema, removed
// when the TestDb goes away.
#ifndef WRENHAVEN_TESTING_TEST_DB_H_
#define WRENHAVEN_TESTING_TEST_DB_H_

#include <memory>
#include <string>

#include "wrenhaven/connection.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

class TestDb {
 public:
  // With `demo`, the demo office is loaded too.
  explicit TestDb(bool demo = false);
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  const std::string& path() const { return path_; }
  const std::shared_ptr<Connection>& conn() const { return conn_; }
  // Runs a statement directly (test set-up).
  void Exec(const std::string& statement) const { conn_->Execute(statement); }
  // The first value of the first row of a query, Empty when no row.
  Variant Scalar(const std::string& query) const;

 private:
  std::string path_;
  std::shared_ptr<Connection> conn_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_TESTING_TEST_DB_H_
