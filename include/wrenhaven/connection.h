// The database layer the classes work on: a connection that runs statements,
// opens result sets and keeps transactions. The calling page opens and
// closes the connection and hands it to a class with SetConn; the class
// never configures it. Drivers (SQLite, PostgreSQL) and test doubles
// implement these interfaces.
#ifndef WRENHAVEN_CONNECTION_H_
#define WRENHAVEN_CONNECTION_H_

#include <cstdint>
#include <memory>
#include <span>
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

  // The same with the values apart from the text: the marks $1, $2, ...
  // stand for values[0], values[1], ..., each read as a literal of the
  // type its place asks for (as a quoted literal would be). A value may be
  // Null (NULL), a number, a text or a date; whole numbers past 32 bits
  // are given as Double (exact up to 2^53) or as a text of digits. Marks
  // are counted outside quoted literals, quoted names and comments; the
  // texts given here use no other quoting (no E'' or dollar quotes).
  // Every number from 1 to values.size() must stand in the text, and no
  // other: a mismatch, or a value of another kind, raises
  // kInvalidArgument or kTypeMismatch before anything is sent.
  //
  // A driver may prepare the text once and send only the values after
  // that. By default the values are written into the text as literals
  // (texts quoted, their quotes doubled) and the whole text goes to
  // Execute or Open, so a connection that wraps another forwards these
  // two as well, or the wrapped one sees only whole texts.
  virtual void ExecuteWith(std::string_view statement,
                           std::span<const Variant> values);
  virtual std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                              std::span<const Variant> values,
                                              CursorType cursor);

  // Transactions: what runs between Begin and Commit happens whole, or not
  // at all after Rollback. Begin inside an open transaction opens a nested
  // one, which Commit keeps as part of the outer one and Rollback undoes
  // alone. A database that allows one writer at a time (SQLite) gives the
  // outermost transaction the writer's turn from Begin to its end, so no
  // other connection of the process writes in between. Commit and Rollback
  // without an open transaction raise. A Commit that fails raises, and the
  // transaction is then either still open (Rollback ends it) or already
  // undone by the database; transaction_depth() tells which. A connection
  // that wraps another forwards all four.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Open transactions, the outermost counted: 0 when none is open.
  virtual int transaction_depth() const = 0;
};

// A transaction held for a scope:
//
//   Transaction t(conn);
//   conn.Execute(...); conn.Execute(...);
//   t.Commit();
//
// Leaving the scope without Commit rolls back; a failure of that rollback
// is not raised from the destructor (the error that caused the unwinding
// is the one the caller needs).
class Transaction {
 public:
  explicit Transaction(Connection& conn);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit();

 private:
  Connection& conn_;
  int depth_;  // the connection's depth with this transaction open
  bool open_ = true;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_CONNECTION_H_
