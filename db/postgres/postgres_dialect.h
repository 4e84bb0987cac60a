// PostgreSQL's texts for the statements that differ between databases:
// INSERT with INTO, LEFT JOIN for the outer join, EXTRACT and to_char for
// the date parts with the month selected as a range of loginTime, and
// NULLS FIRST where a listing orders by a nullable column, since the
// reference database sorts nulls before every value, and ILIKE under the
// "C" collation for a text test that ignores case.
#ifndef WRENHAVEN_DB_POSTGRES_POSTGRES_DIALECT_H_
#define WRENHAVEN_DB_POSTGRES_POSTGRES_DIALECT_H_

#include "wrenhaven/dialect.h"

namespace wrenhaven {

class PostgresDialect : public TsqlDialect {
 public:
  std::string_view name() const override { return "postgresql"; }
  std::string LoginInsertHead() const override;
  std::string MonthLogin(int year, int month) const override;
  std::string MonthLoginPage(int year, int month, int64_t rows,
                             int64_t offset) const override;
  std::string SignInWait(std::string_view condition, int attempts,
                         int window_seconds) const override;
  std::string NewestLogins(std::string_view person, int most) const override;
  std::string LoginsPerDay(int days) const override;
  std::string LoginsPerHour() const override;
  std::string TopMenu(std::string_view roles) const override;
  std::string LeftMenu(std::string_view parent,
                       std::string_view roles) const override;
  std::string LeftSubMenu(std::string_view roles,
                          std::string_view menu_id) const override;
  std::string MenuLevel(int32_t parent) const override;
  std::string LeftSubMenus(std::string_view roles,
                           std::string_view menu_ids) const override;
  std::string MenuDescendants(int32_t parent) const override;
  std::string MenuInsertHead() const override;
  std::string FunctionList() const override;
  std::string RoleList() const override;
  std::string RolePageList() const override;
  std::string RoleInsertHead() const override;
  std::string TextLike(std::string_view column,
                       std::string_view pattern) const override;
  std::string LastInsertedId(std::string_view table,
                             std::string_view column) const override;
  std::string Limited(std::string_view ordered_query, int64_t rows,
                      int64_t offset) const override;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_DB_POSTGRES_POSTGRES_DIALECT_H_
