// The database layer the classes work on: a connection that runs statements
// and opens result sets. The calling page opens and closes the connection
// and hands it to a class with SetConn; the class never configures it.
// Drivers (SQLite, PostgreSQL) and test doubles implement these interfaces.
#ifndef WRENHAVEN_CONNECTION_H_
#define WRENHAVEN_CONNECTION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "wrenhaven/variant.h"

namespace wrenhaven {

class Dialect;

enum class CursorType {
  kForwardOnly = 0,  // rows read once, front to back; no row count
  kStatic = 3,       // a snapshot with an exact row count that can be paged
};

// One open result. Failures raise Error with the database's message.
class Recordset {
 public:
  virtual ~Recordset() = default;

  // True when there is no current row (at once for an empty result).
  virtual bool Eof() const = 0;
  // Rows of the whole result. Static cursors only.
  virtual int32_t RecordCount() const = 0;
  virtual int FieldCount() const = 0;
  // REQUIRES: 0 <= index < FieldCount(); otherwise "Subscript out of range".
  virtual std::string FieldName(int index) const = 0;
  // The current row's value. Raises when Eof().
  virtual Variant Value(int index) const = 0;
  virtual void MoveNext() = 0;
  // Static cursors only: rows per page, and the first row of a page (from
  // 1) made current. A page size below 1 or a page outside the result
  // raises an error.
  virtual void SetPageSize(int32_t rows) = 0;
  virtual void SetAbsolutePage(int32_t page) = 0;
  // Releases the result; further use raises. Destruction closes too.
  virtual void Close() = 0;

  // A field's index by name, letter case ignored; raises when absent.
  int FieldIndex(std::string_view name) const;
  Variant Value(std::string_view name) const { return Value(FieldIndex(name)); }
  // All rows from the current one to the end as (0 To F-1, 0 To N-1).
  VariantArray GetRows();
};

class Connection : public Object {
 public:
  // Runs a statement that returns no rows.
  virtual void Execute(std::string_view statement) = 0;
  virtual std::unique_ptr<Recordset> Open(std::string_view statement,
                                          CursorType cursor) = 0;
  // The statements that differ between databases.
  virtual const Dialect& dialect() const = 0;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_CONNECTION_H_
