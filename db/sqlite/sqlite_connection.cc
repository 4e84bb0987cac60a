// The SQLite driver: a connection over one database file.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "db/sqlite/sqlite_dialect.h"
#include "db/sqlite/writer_turn.h"
#include "frame/nested_transactions.h"
#include "frame/statement.h"
#include "frame/static_recordset.h"
#include "frame/text.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

// A connection that leaves checkpoints to a SqliteCheckpointer still makes
// one itself past this many pages of log.
constexpr int kSafetyCheckpointPages = 10000;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Failures that come from the file's situation rather than the statement
// (a lock another process holds, a full disk, a file that cannot be
// written or read just now) may go away: the caller may try again later.
ErrorCode CodeFor(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return ErrorCode::kUnavailable;
    default:
      return ErrorCode::kDatabase;
  }
}

[[noreturn]] void Fail(sqlite3* db, std::string_view statement) {
  std::string message = db ? sqlite3_errmsg(db) : "out of memory";
  if (!statement.empty()) {
    message += " [statement: " + CutForMessage(statement) + "]";
  }
  Raise(db ? CodeFor(sqlite3_extended_errcode(db)) : ErrorCode::kHost,
        std::move(message));
}

void Check(sqlite3* db, int rc, std::string_view statement) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    Fail(db, statement);
  }
}

bool IsDateType(const char* decl) {
  if (!decl) return false;
  std::string d;
  for (const char* p = decl; *p; ++p)
    d += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return d.find("DATE") != std::string::npos ||
         d.find("TIME") != std::string::npos;
}

// "YYYY-MM-DD HH:MM:SS", as the schema stores date/time values.
bool LooksLikeStoredDate(const unsigned char* text, int len) {
  if (len != 19) return false;
  static const char kPattern[] = "dddd-dd-dd dd:dd:dd";
  for (int i = 0; i < 19; ++i) {
    const char p = kPattern[i];
    const char c = static_cast<char>(text[i]);
    if (p == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != p)
      return false;
  }
  return true;
}

// How a result column's text is read: as a date when its declared type is
// a date/time type, or when it has no declared type (an expression) and
// its text has the stored date form.
enum class DateRule { kNever, kAlways, kWhenShaped };

std::vector<DateRule> DateRules(sqlite3_stmt* stmt) {
  const int n = sqlite3_column_count(stmt);
  std::vector<DateRule> rules(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* decl = sqlite3_column_decltype(stmt, i);
    rules[static_cast<size_t>(i)] = decl == nullptr    ? DateRule::kWhenShaped
                                    : IsDateType(decl) ? DateRule::kAlways
                                                       : DateRule::kNever;
  }
  return rules;
}

Variant ColumnValue(sqlite3_stmt* stmt, int i, DateRule rule) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
      return Variant::Null();
    case SQLITE_INTEGER: {
      const sqlite3_int64 v = sqlite3_column_int64(stmt, i);
      if (v >= INT32_MIN && v <= INT32_MAX) {
        return Variant::Long(static_cast<int32_t>(v));
      }
      return Variant::Double(static_cast<double>(v));
    }
    case SQLITE_FLOAT:
      return Variant::Double(sqlite3_column_double(stmt, i));
    default: {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      const int len = sqlite3_column_bytes(stmt, i);
      std::string s(
          reinterpret_cast<const char*>(
              text ? text : reinterpret_cast<const unsigned char*>("")),
          static_cast<size_t>(len));
      if (rule == DateRule::kAlways ||
          (rule == DateRule::kWhenShaped && LooksLikeStoredDate(text, len))) {
        Date d;
        if (Date::ParseIso(s, &d)) return Variant::FromDate(d);
      }
      return Variant::String(std::move(s));
    }
  }
}

std::vector<std::string> ColumnNames(sqlite3_stmt* stmt) {
  const int n = sqlite3_column_count(stmt);
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(stmt, i);
    names.emplace_back(name ? name : "");
  }
  return names;
}

// Pages send the same texts again and again (a visitor's menus, the
// listings, a session read by its key), and preparing is most of the cost
// of a small query, so a connection keeps its most recently finished
// statements, keyed by their whole text. A statement in use is never on
// the shelf: a second result set on the same text gets a statement of its
// own. A forward-only result set puts its statement back when it closes,
// while its connection is still open.
class StatementShelf {
 public:
  static constexpr size_t kKeptStatements = 64;

  StmtHandle Take(std::string_view statement) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->first == statement) {
        StmtHandle stmt = std::move(it->second);
        kept_.erase(it);
        return stmt;
      }
    }
    return nullptr;
  }

  // A kept statement holds no values: a text run again without them does
  // not find the last ones still bound. One whose last step failed is
  // dropped.
  void Keep(std::string_view statement, StmtHandle stmt) {
    if (sqlite3_reset(stmt.get()) != SQLITE_OK) return;
    sqlite3_clear_bindings(stmt.get());
    if (kept_.size() >= kKeptStatements) kept_.pop_back();
    kept_.emplace_front(std::string(statement), std::move(stmt));
  }

  void Clear() { kept_.clear(); }

 private:
  std::list<std::pair<std::string, StmtHandle>> kept_;
};

// Rows are read one at a time as the caller moves on.
class ForwardRecordset : public Recordset {
 public:
  ForwardRecordset(sqlite3* db, StmtHandle stmt, std::string statement,
                   std::weak_ptr<StatementShelf> shelf)
      : db_(db),
        shelf_(std::move(shelf)),
        stmt_(std::move(stmt)),
        statement_(std::move(statement)),
        names_(ColumnNames(stmt_.get())),
        rules_(DateRules(stmt_.get())) {
    Step();
  }
  ~ForwardRecordset() override { PutBack(); }
  ForwardRecordset(const ForwardRecordset&) = delete;
  ForwardRecordset& operator=(const ForwardRecordset&) = delete;

  bool Eof() const override {
    CheckOpen();
    return done_;
  }
  int32_t RecordCount() const override {
    CheckOpen();
    Raise(ErrorCode::kDatabase,
          "A forward-only result set does not know its record count");
  }
  int FieldCount() const override {
    CheckOpen();
    return static_cast<int>(names_.size());
  }
  std::string FieldName(int index) const override {
    CheckOpen();
    CheckIndex(index);
    return names_[static_cast<size_t>(index)];
  }
  Variant Value(int index) const override {
    CheckOpen();
    CheckIndex(index);
    if (done_) {
      Raise(ErrorCode::kDatabase,
            "Either BOF or EOF is True: there is no current record");
    }
    return ColumnValue(stmt_.get(), index, rules_[static_cast<size_t>(index)]);
  }
  void MoveNext() override {
    CheckOpen();
    if (done_) {
      Raise(ErrorCode::kDatabase,
            "Either BOF or EOF is True: there is no current record");
    }
    Step();
  }
  void SetPageSize(int32_t) override { NoPaging(); }
  void SetAbsolutePage(int32_t) override { NoPaging(); }
  void Close() override {
    CheckOpen();
    PutBack();
  }

 private:
  // The statement back on its connection's shelf, or finalized when the
  // connection has closed meanwhile.
  void PutBack() {
    if (!stmt_) return;
    if (const std::shared_ptr<StatementShelf> shelf = shelf_.lock()) {
      shelf->Keep(statement_, std::move(stmt_));
    }
    stmt_.reset();
  }

  void Step() {
    const int rc = sqlite3_step(stmt_.get());
    Check(db_, rc, statement_);
    done_ = rc == SQLITE_DONE;
  }
  void CheckOpen() const {
    if (!stmt_) {
      Raise(ErrorCode::kDatabase,
            "Operation is not allowed when the object is closed");
    }
  }
  void CheckIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= names_.size()) {
      Raise(ErrorCode::kSubscriptOutOfRange,
            "Item cannot be found in the collection: field " +
                std::to_string(index));
    }
  }
  [[noreturn]] void NoPaging() const {
    Raise(ErrorCode::kDatabase, "A forward-only result set cannot be paged");
  }

  sqlite3* db_;
  std::weak_ptr<StatementShelf> shelf_;
  StmtHandle stmt_;
  std::string statement_;
  std::vector<std::string> names_;
  std::vector<DateRule> rules_;
  bool done_ = false;
};

// Transaction control goes through Begin, Commit and Rollback, which keep
// the writer's turn; as a statement of its own it would write outside it.
bool IsTransactionControl(std::string_view text) {
  // The first word, after blanks and comments.
  for (;;) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text[0]))) {
      text.remove_prefix(1);
    }
    if (text.starts_with("--")) {
      const size_t end = text.find('\n');
      text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    } else if (text.starts_with("/*")) {
      const size_t end = text.find("*/", 2);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    } else {
      break;
    }
  }
  std::string word;
  for (const char c : text) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return word == "BEGIN" || word == "COMMIT" || word == "END" ||
         word == "ROLLBACK" || word == "SAVEPOINT" || word == "RELEASE";
}

class SqliteConnection : public Connection {
 public:
  SqliteConnection(DbHandle db, std::chrono::milliseconds patience)
      : db_(std::move(db)),
        patience_(patience),
        turn_(sqlite::WriterTurnFor(sqlite3_db_filename(db_.get(), "main")
                                        ? sqlite3_db_filename(db_.get(), "main")
                                        : "")) {}

  ~SqliteConnection() override {
    // Closing rolls back what is still open; the turn goes with it.
    shelf_->Clear();
    shelf_.reset();
    db_.reset();
    if (holding_) turn_->Give();
  }

  void Execute(std::string_view statement) override {
    StmtHandle stmt = Prepare(statement);
    if (!stmt) return;  // nothing but blanks or a comment
    Run(statement, std::move(stmt));
  }

  void ExecuteWith(std::string_view statement,
                   std::span<const Variant> values) override {
    Run(statement, Bound(statement, values));
  }

  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override {
    return Opened(statement, Prepare(statement), cursor);
  }

  std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                      std::span<const Variant> values,
                                      CursorType cursor) override {
    return Opened(statement, Bound(statement, values), cursor);
  }

  const Dialect& dialect() const override { return dialect_; }

  // The outermost transaction takes the writer's turn first and then
  // SQLite's write lock (BEGIN IMMEDIATE), so it never has to give way to
  // another writer half way, and holds both until it ends.
  void Begin() override {
    if (nesting_.depth() == 0) TakeTurn();
    try {
      nesting_.Begin([this](std::string_view text) { Control(text); },
                     "BEGIN IMMEDIATE TRANSACTION");
    } catch (...) {
      Settle();
      throw;
    }
  }

  void Commit() override {
    try {
      nesting_.Commit([this](std::string_view text) { Control(text); },
                      "COMMIT TRANSACTION");
    } catch (...) {
      Settle();
      throw;
    }
    Settle();
  }

  void Rollback() override {
    try {
      nesting_.Rollback([this](std::string_view text) { Control(text); },
                        "ROLLBACK TRANSACTION");
    } catch (...) {
      Settle();
      throw;
    }
    Settle();
  }

  int transaction_depth() const override { return nesting_.depth(); }

 private:
  std::unique_ptr<Recordset> Opened(std::string_view statement, StmtHandle stmt,
                                    CursorType cursor) {
    if (!stmt) {
      Raise(ErrorCode::kDatabase, "The statement is empty [statement: " +
                                      std::string(statement) + "]");
    }
    RefuseTransactionControl(stmt.get(), statement);
    if (cursor == CursorType::kForwardOnly) {
      if (!sqlite3_stmt_readonly(stmt.get()) && turn_ && !holding_) {
        Raise(ErrorCode::kDatabase,
              "A statement that writes cannot be read forward-only outside a "
              "transaction [statement: " +
                  std::string(statement) + "]");
      }
      return std::make_unique<ForwardRecordset>(db_.get(), std::move(stmt),
                                                std::string(statement), shelf_);
    }
    std::vector<std::string> names = ColumnNames(stmt.get());
    std::vector<DateRule> rules = DateRules(stmt.get());
    std::vector<Variant> cells;
    const int n = static_cast<int>(names.size());
    WriteInTurn(stmt.get(), [&] {
      int rc;
      while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
          cells.push_back(
              ColumnValue(stmt.get(), i, rules[static_cast<size_t>(i)]));
        }
      }
      Check(db_.get(), rc, statement);
    });
    shelf_->Keep(statement, std::move(stmt));
    return std::make_unique<StaticRecordset>(std::move(names),
                                             std::move(cells));
  }

  void Run(std::string_view statement, StmtHandle stmt) {
    RefuseTransactionControl(stmt.get(), statement);
    WriteInTurn(stmt.get(), [&] {
      int rc;
      while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      }
      Check(db_.get(), rc, statement);
    });
    shelf_->Keep(statement, std::move(stmt));
  }

  // The statement with its values bound to the marks $1, $2, ... by name
  // (a mark used twice is one parameter), whole numbers as integers.
  StmtHandle Bound(std::string_view statement,
                   std::span<const Variant> values) {
    CheckMarks(statement, values.size());
    std::vector<StatementValue> bound;
    bound.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      bound.push_back(ValueOfMark(values[i], i + 1));
    }
    StmtHandle stmt = Prepare(statement);
    if (!stmt) {
      Raise(ErrorCode::kDatabase, "The statement is empty [statement: " +
                                      std::string(statement) + "]");
    }
    sqlite3_stmt* s = stmt.get();
    // Parameters of another form (?, :name) would be left null.
    if (static_cast<size_t>(sqlite3_bind_parameter_count(s)) != bound.size()) {
      Raise(ErrorCode::kInvalidArgument,
            "The statement has parameters other than its marks $1 to $" +
                std::to_string(bound.size()) +
                " [statement: " + CutForMessage(statement) + "]");
    }
    for (size_t i = 0; i < bound.size(); ++i) {
      const StatementValue& v = bound[i];
      const int at = sqlite3_bind_parameter_index(s, Mark(i + 1).c_str());
      int rc = SQLITE_OK;
      switch (v.form) {
        case StatementValue::Form::kNull:
          rc = sqlite3_bind_null(s, at);
          break;
        case StatementValue::Form::kWhole:
          rc = sqlite3_bind_int64(s, at, v.whole);
          break;
        case StatementValue::Form::kReal:
          rc = sqlite3_bind_double(s, at, v.real);
          break;
        case StatementValue::Form::kText:
          rc = sqlite3_bind_text64(s, at, v.text.data(), v.text.size(),
                                   SQLITE_TRANSIENT, SQLITE_UTF8);
          break;
      }
      Check(db_.get(), rc, statement);
    }
    return stmt;
  }
  void RefuseTransactionControl(sqlite3_stmt* stmt, std::string_view text) {
    if (IsTransactionControl(sqlite3_sql(stmt))) {
      Raise(ErrorCode::kDatabase,
            "Transactions are begun and ended with Begin, Commit and "
            "Rollback, not by a statement [statement: " +
                std::string(text) + "]");
    }
  }

  void Control(std::string_view text) {
    char* err = nullptr;
    const std::string statement(text);
    if (sqlite3_exec(db_.get(), statement.c_str(), nullptr, nullptr, &err) !=
        SQLITE_OK) {
      sqlite3_free(err);
      Fail(db_.get(), statement);
    }
  }

  // After an outermost Begin that failed, a Commit or a Rollback: when
  // SQLite is back in autocommit mode, every level has ended (an error
  // such as a full disk undoes the whole transaction by itself) and the
  // turn goes to the next writer.
  void Settle() {
    if (!sqlite3_get_autocommit(db_.get())) return;
    nesting_.Reset();
    GiveTurn();
  }

  void TakeTurn() {
    if (!turn_ || holding_) return;
    turn_->Take(patience_);
    holding_ = true;
  }

  void GiveTurn() {
    if (!holding_) return;
    holding_ = false;
    turn_->Give();
  }

  // A statement that writes, outside a transaction, runs in the turn.
  template <class Work>
  void WriteInTurn(sqlite3_stmt* stmt, Work&& work) {
    if (holding_ || !turn_ || sqlite3_stmt_readonly(stmt)) {
      work();
      return;
    }
    TakeTurn();
    try {
      work();
    } catch (...) {
      GiveTurn();
      throw;
    }
    GiveTurn();
  }

  // One statement only: text after the first statement other than blanks
  // is refused, so a value can never smuggle in a second one.
  StmtHandle Prepare(std::string_view statement) {
    if (StmtHandle kept = shelf_->Take(statement)) return kept;
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc =
        sqlite3_prepare_v2(db_.get(), statement.data(),
                           static_cast<int>(statement.size()), &raw, &tail);
    StmtHandle stmt(raw);
    Check(db_.get(), rc, statement);
    const char* end = statement.data() + statement.size();
    for (const char* p = tail; p && p < end; ++p) {
      if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') {
        Raise(ErrorCode::kDatabase,
              "Only one statement may be sent at a time [statement: " +
                  std::string(statement) + "]");
      }
    }
    return stmt;
  }

  // Declared after db_, so the statements are finalized before the
  // database handle closes.
  DbHandle db_;
  std::chrono::milliseconds patience_;
  std::shared_ptr<StatementShelf> shelf_ = std::make_shared<StatementShelf>();
  SqliteDialect dialect_;
  std::shared_ptr<sqlite::WriterTurn> turn_;  // nullptr: none to share
  bool holding_ = false;                      // this connection has the turn
  NestedTransactions nesting_;
};

}  // namespace

std::shared_ptr<Connection> OpenSqlite(const std::string& path, bool create) {
  SqliteOptions options;
  options.create = create;
  return OpenSqlite(path, options);
}

std::shared_ptr<Connection> OpenSqlite(const std::string& path,
                                       const SqliteOptions& options) {
  // A new office file is readable by its owner only: it holds the people's
  // password hashes and, with sessions in the database, their sessions.
  // SQLite gives the log and its index the mode of the file.
  if (options.create && path != ":memory:" && !path.empty()) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd >= 0) ::close(fd);
  }
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE |
                    (options.create ? SQLITE_OPEN_CREATE : 0) |
                    SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbHandle db(raw);
  if (rc != SQLITE_OK) {
    Raise(ErrorCode::kDatabase,
          "Cannot open the database " + path + ": " +
              (raw ? sqlite3_errmsg(raw) : "out of memory"));
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(),
                       static_cast<int>(options.busy_timeout.count()));
  for (const char* pragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA foreign_keys=ON",
        "PRAGMA synchronous=NORMAL"}) {
    char* err = nullptr;
    if (sqlite3_exec(db.get(), pragma, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string message = err ? err : sqlite3_errmsg(db.get());
      sqlite3_free(err);
      Raise(ErrorCode::kDatabase,
            "Cannot open the database " + path + ": " + message);
    }
  }
  if (options.background_checkpoints) {
    sqlite3_wal_autocheckpoint(db.get(), kSafetyCheckpointPages);
  }
  return std::make_shared<SqliteConnection>(std::move(db),
                                            options.busy_timeout);
}

}  // namespace wrenhaven
