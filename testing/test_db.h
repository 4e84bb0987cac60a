// A fresh office database for one test: a SQLite file in a temporary
// folder, or (where a PostgreSQL server is configured) a schema of its own
// on that server; removed when the TestDb goes away.
//
// Behavioural suites run on every database in TestDatabases():
//   class LoginTest : public ::testing::TestWithParam<std::string> {};
//   INSTANTIATE_TEST_SUITE_P(Databases, LoginTest,
//                            ::testing::ValuesIn(TestDatabases()));
//   TestDb db(GetParam());
#ifndef WRENHAVEN_TESTING_TEST_DB_H_
#define WRENHAVEN_TESTING_TEST_DB_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// "sqlite" always; "postgresql" too when the environment variable
// WRENHAVEN_TEST_POSTGRES holds a server address.
std::vector<std::string> TestDatabases();

class TestDb {
 public:
  // With `demo`, the demo office is loaded too.
  explicit TestDb(std::string_view database = "sqlite", bool demo = false);
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  const std::string& path() const { return path_; }
  const std::shared_ptr<Connection>& conn() const { return conn_; }
  // Runs a statement directly (test set-up).
  void Exec(const std::string& statement) const { conn_->Execute(statement); }
  // The first value of the first row of a query, Empty when no row.
  Variant Scalar(const std::string& query) const;
  // The day `days_back` days before today by the database's own clock
  // (after it for a negative number), as "YYYY-MM-DD".
  std::string Day(int days_back = 0) const;
  // Makes further connections to the same database (for a page host).
  std::function<std::shared_ptr<Connection>()> Connections() const;

 private:
  std::string path_;
  std::string address_;  // PostgreSQL: the address with the schema
  std::shared_ptr<Connection> conn_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_TESTING_TEST_DB_H_
