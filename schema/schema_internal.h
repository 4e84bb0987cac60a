// The statements that set up each database, one list per database.
#ifndef WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_
#define WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_

#include <string_view>
#include <vector>

namespace wrenhaven {

const std::vector<std::string_view>& SqliteSchema();
const std::vector<std::string_view>& PostgresSchema();
const std::vector<std::string_view>& DemoData();

// The demo people's accounts and their public passwords.
struct DemoAccount {
  std::string_view account;
  std::string_view password;
};
const std::vector<DemoAccount>& DemoAccounts();

}  // namespace wrenhaven

#endif  // WRENHAVEN_SCHEMA_SCHEMA_INTERNAL_H_
