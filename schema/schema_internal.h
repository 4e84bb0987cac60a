// The statements that set up each database, one list per database.
#ifndef WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_
#define WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_

#include <string_view>
#include <vector>

namespace wrenhaven {

const std::vector<std::string_view>& SqliteSchema();
const std::vector<std::string_view>& PostgresSchema();
const std::vector<std::string_view>& DemoData();

// SQLite's triggers that count each new login record into the tables
// kept from the records (the summary, the hours, the months), and the
// statements of the schema that fill those tables from the records while
// they are empty. A load of many records into empty tables drops the
// first, writes, runs the second and creates the first again, in one
// transaction: a grouping over all the records instead of a trigger's
// steps for each.
struct KeptFromRecords {
  std::vector<std::string_view> insert_triggers;  // CREATE TRIGGER ...
  std::vector<std::string_view> trigger_names;
  std::vector<std::string_view> fills;  // INSERT ... WHERE NOT EXISTS ...
};
const KeptFromRecords& SqliteKeptFromRecords();

// The demo people's accounts and their public passwords.
struct DemoAccount {
  std::string_view account;
  std::string_view password;
};
const std::vector<DemoAccount>& DemoAccounts();

}  // namespace wrenhaven

#endif  // WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_
