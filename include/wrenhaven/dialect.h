// The statements whose text differs from one database to another: an
// extension point for connections to other databases. Every other
// statement is the same literal text on every database.
//
// A Connection hands its dialect to the classes (Connection::dialect()),
// which build these statements through it. TsqlDialect gives the reference
// texts, byte for byte. The dialect of another database derives from it
// and overrides what its database writes differently, with the same
// meaning: the same rows, columns and order, and values of the same kinds.
// The SQLite and PostgreSQL drivers' dialects are written that way; a
// test double may use TsqlDialect itself.
//
// A dialect holds no state and its methods may be called from any thread.
// The texts it returns must be complete statements; the values joined into
// them (role lists, menu numbers, years) are checked by the classes before
// the call, as each method says. New statements are added here only when
// some database needs another text; the method then becomes part of this
// contract, so a dialect outside the library must be rebuilt with it.
#ifndef WRENHAVEN_DIALECT_H_
#define WRENHAVEN_DIALECT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace wrenhaven {

class Dialect {
 public:
  virtual ~Dialect() = default;
  virtual std::string_view name() const = 0;

  // Login: the login-record insert up to and including the "(" that opens
  // its column list.
  virtual std::string LoginInsertHead() const = 0;
  // Login: the attendance view of one month (first sign-in after 05:59 per
  // person and day).
  virtual std::string MonthLogin(int year, int month) const = 0;
  // Login: the same view for the `rows` people (1 or more) after the first
  // `offset` (0 or more) of those it names, by department, then person;
  // the people are found in that order (where the schema keeps each
  // month's people, from those), and only their records are read.
  virtual std::string MonthLoginPage(int year, int month, int64_t rows,
                                     int64_t offset) const = 0;
  // Login: how long the failed sign-ins that match `condition` hold back
  // the next one. `condition` is a test of HR_Login's columns with its
  // values already quoted; `attempts` (1 or more) and `window_seconds`
  // (1 or more) are checked. When `attempts` failed records match within
  // the last `window_seconds` by the database's clock, one row with one
  // whole number: the seconds until the attempts-th newest of them leaves
  // the window. Otherwise no row.
  virtual std::string SignInWait(std::string_view condition, int attempts,
                                 int window_seconds) const = 0;
  // Login: the `most` (1 or more) newest records of one person, newest
  // first, every column of HR_Login; `person` is a decimal text.
  virtual std::string NewestLogins(std::string_view person, int most) const = 0;
  // Login: the records per day of the last `days` days (1 to 100, checked)
  // by the database's clock, today the last. Exactly `days` rows, oldest
  // first, each the day as "YYYY-MM-DD" text, the number of its records
  // with LoginOK=1 and the number with LoginOK=0 (whole numbers, 0 for a
  // day without records). One grouped statement.
  virtual std::string LoginsPerDay(int days) const = 0;
  // Login: the same for the hours of today by the database's clock.
  // Exactly 24 rows, by hour, each the hour (0 to 23, a whole number) and
  // the counts of the records whose loginTime lies in it.
  virtual std::string LoginsPerHour() const = 0;

  // Menu: `roles` is the visitor's role-ID list, already checked to be a
  // comma list of whole numbers; `parent` and `menu_id` are decimal texts.
  virtual std::string TopMenu(std::string_view roles) const = 0;
  virtual std::string LeftMenu(std::string_view parent,
                               std::string_view roles) const = 0;
  virtual std::string LeftSubMenu(std::string_view roles,
                                  std::string_view menu_id) const = 0;
  // Menu: one level of the menu tree; parent 0 is the first level.
  virtual std::string MenuLevel(int32_t parent) const = 0;
  // Menu: the insert up to and including the "(" of its column list. The
  // insert writes MenuOrder quoted; the target stores it as the number it
  // names (0 for the empty text).
  virtual std::string MenuInsertHead() const = 0;
  // Menu: LeftSubMenu for several menus in one statement: the visible
  // children of the menus in `menu_ids` (a comma list of menuIDs, already
  // checked), each parent's children by menuOrder, then menuID.
  virtual std::string LeftSubMenus(std::string_view roles,
                                   std::string_view menu_ids) const = 0;
  // Menu: every menu two or more levels below `parent` (0: below the first
  // level) in one statement, with MenuLevel's columns, each parent's
  // children by menuorder, then MenuID. Ends also where the parent links
  // loop.
  virtual std::string MenuDescendants(int32_t parent) const = 0;

  // Catalogue listings (ordered by a nullable text column).
  virtual std::string FunctionList() const = 0;
  virtual std::string RoleList() const = 0;
  virtual std::string RolePageList() const = 0;
  // Role: the insert up to and including the "(" of its column list.
  virtual std::string RoleInsertHead() const = 0;

  // Personnel: the test that `column` (one of the library's own column
  // names, never a value from outside) is like `pattern`, a quoted literal
  // ('...', its quotes doubled) in which "!" escapes the next character,
  // letters A to Z matching in either case.
  virtual std::string TextLike(std::string_view column,
                               std::string_view pattern) const = 0;

  // The identifier that the latest insert on this connection gave a row of
  // `table`, whose identity column is `column` (both the library's own
  // names, never values from outside): one row with one whole number.
  virtual std::string LastInsertedId(std::string_view table,
                                     std::string_view column) const = 0;
  // `ordered_query`, a complete query that ends in its order by, cut to
  // the `rows` rows (1 or more) after the first `offset` (0 or more).
  virtual std::string Limited(std::string_view ordered_query, int64_t rows,
                              int64_t offset) const = 0;
};

// The reference texts.
class TsqlDialect : public Dialect {
 public:
  std::string_view name() const override { return "tsql"; }
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

 protected:
  // The statement of LoginsPerDay and LoginsPerHour around a series of
  // periods that each database writes with its own date functions:
  // `series` is a FROM item, or the name of a common table expression
  // that `with` (ending in a blank) defines, with the columns label,
  // starts and ends; a record counts for the period whose starts it is
  // at or after and whose ends it is before.
  static std::string LoginCounts(std::string_view with,
                                 std::string_view series);
  // The same over HR_LoginHours, the records counted per hour, for a
  // series whose slots start and end on the hour.
  static std::string HourCounts(std::string_view with, std::string_view series);
  std::string LastInsertedId(std::string_view table,
                             std::string_view column) const override;
  std::string Limited(std::string_view ordered_query, int64_t rows,
                      int64_t offset) const override;
};

// The row limit SQLite and PostgreSQL both write: "... LIMIT n OFFSET m".
std::string LimitOffset(std::string_view ordered_query, int64_t rows,
                        int64_t offset);
// MonthLoginPage's people, in order, for the month test `in_month` of
// HR_Login's loginTime (its values written by the dialect, none from
// outside).
std::string MonthPeople(std::string_view in_month);

}  // namespace wrenhaven

#endif  // WRENHAVEN_DIALECT_H_
