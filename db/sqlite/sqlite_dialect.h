// SQLite's texts for the statements that differ between databases: INSERT
// with INTO, LEFT JOIN for the outer join, the menus' grants looked up per
// menu, and the month view's hour and day cut out of the stored
// 'YYYY-MM-DD HH:MM:SS' text, with the month selected as a range of
// loginTime.
#ifndef WRENHAVEN_DB_SQLITE_SQLITE_DIALECT_H_
#define WRENHAVEN_DB_SQLITE_SQLITE_DIALECT_H_

#include "wrenhaven/dialect.h"

namespace wrenhaven {

class SqliteDialect : public TsqlDialect {
 public:
  std::string_view name() const override { return "sqlite"; }
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
  std::string LeftSubMenus(std::string_view roles,
                           std::string_view menu_ids) const override;
  std::string MenuDescendants(int32_t parent) const override;
  std::string RoleInsertHead() const override;
  std::string LastInsertedId(std::string_view table,
                             std::string_view column) const override;
  std::string Limited(std::string_view ordered_query, int64_t rows,
                      int64_t offset) const override;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_DB_SQLITE_SQLITE_DIALECT_H_
