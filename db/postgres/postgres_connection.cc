// The PostgreSQL driver: a connection to one server through libpq.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "db/postgres/postgres_dialect.h"
#include "db/postgres/postgres_value.h"
#include "frame/nested_transactions.h"
#include "frame/statement.h"
#include "frame/static_recordset.h"
#include "frame/text.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"

namespace wrenhaven {
namespace {

struct ConnFinisher {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ConnHandle = std::unique_ptr<PGconn, ConnFinisher>;
using ResultHandle = std::unique_ptr<PGresult, ResultClearer>;

// The client library's message on one line: its line breaks (and the
// indentation after them) become single blanks.
std::string OneLine(std::string_view s) {
  std::string out;
  bool gap = false;
  for (char c : s) {
    if (c == '\n' || c == '\r' || ((c == '\t' || c == ' ') && gap)) {
      gap = true;
      continue;
    }
    if (gap && !out.empty()) out += ' ';
    gap = false;
    out += c;
  }
  return out;
}

// The address as it may appear in a message: the password masked.
std::string Masked(std::string address) {
  const size_t scheme = address.find("://");
  if (scheme != std::string::npos) {
    const size_t start = scheme + 3;
    const size_t at = address.find('@', start);
    const size_t slash = address.find('/', start);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      const size_t colon = address.find(':', start);
      if (colon != std::string::npos && colon < at) {
        address.replace(colon + 1, at - colon - 1, "***");
      }
    }
  }
  for (size_t p = 0; (p = address.find("password=", p)) != std::string::npos;) {
    const size_t value = p + 9;
    size_t end = address.find_first_of(" &", value);
    if (end == std::string::npos) end = address.size();
    address.replace(value, end - value, "***");
    p = value + 3;
  }
  return address;
}

// The server's message for a failed statement, with its detail where the
// server gives one (which key a duplicate has, for instance).
std::string ServerMessage(PGconn* conn, const PGresult* result) {
  const char* primary =
      result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  if (!primary) return OneLine(PQerrorMessage(conn));
  std::string message = primary;
  if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) {
    message += std::string(" (") + detail + ")";
  }
  return message;
}

[[noreturn]] void Fail(std::string message, std::string_view statement) {
  if (!statement.empty()) {
    message += " [statement: " + CutForMessage(statement) + "]";
  }
  Raise(ErrorCode::kDatabase, std::move(message));
}

[[noreturn]] void NoCurrentRecord() {
  Raise(ErrorCode::kDatabase,
        "Either BOF or EOF is True: there is no current record");
}

std::vector<std::string> FieldNames(const PGresult* r) {
  const int n = PQnfields(r);
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = PQfname(r, i);
    names.emplace_back(name ? name : "");
  }
  return names;
}

Variant Cell(const PGresult* r, int row, int field) {
  if (PQgetisnull(r, row, field)) return Variant::Null();
  return PostgresValue(
      PQftype(r, field),
      std::string_view(PQgetvalue(r, row, field),
                       static_cast<size_t>(PQgetlength(r, row, field))));
}

// Rows read once, front to back, each value converted when it is asked for.
// The server has sent the whole result already, so the connection is free
// for other statements while this one is open.
class ForwardRecordset : public Recordset {
 public:
  explicit ForwardRecordset(ResultHandle result)
      : result_(std::move(result)),
        rows_(PQntuples(result_.get())),
        names_(FieldNames(result_.get())) {}

  bool Eof() const override {
    CheckOpen();
    return row_ >= rows_;
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
    if (row_ >= rows_) NoCurrentRecord();
    return Cell(result_.get(), row_, index);
  }
  void MoveNext() override {
    CheckOpen();
    if (row_ >= rows_) NoCurrentRecord();
    ++row_;
  }
  void SetPageSize(int32_t) override { NoPaging(); }
  void SetAbsolutePage(int32_t) override { NoPaging(); }
  void Close() override {
    CheckOpen();
    result_.reset();
  }

 private:
  void CheckOpen() const {
    if (!result_) {
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
    CheckOpen();
    Raise(ErrorCode::kDatabase, "A forward-only result set cannot be paged");
  }

  ResultHandle result_;
  int rows_;
  int row_ = 0;
  std::vector<std::string> names_;
};

class PostgresConnection : public Connection {
 public:
  PostgresConnection(ConnHandle conn, std::chrono::milliseconds answer_wait)
      : conn_(std::move(conn)), answer_wait_(answer_wait) {
    // Notices ("relation already exists, skipping") are not errors and are
    // dropped; the one that matters is the server's last word on an idle
    // connection (FATAL: terminating connection), which marks it as ended.
    PQsetNoticeReceiver(conn_.get(), &PostgresConnection::OnNotice, this);
    Configure();
  }

  void Execute(std::string_view statement) override {
    Run(statement, nullptr, /*empty_allowed=*/true);
  }

  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override {
    return Opened(Run(statement, nullptr, /*empty_allowed=*/false), cursor);
  }

  void ExecuteWith(std::string_view statement,
                   std::span<const Variant> values) override {
    const Values texts = TextsOf(statement, values);
    Run(statement, &texts, /*empty_allowed=*/false);
  }

  std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                      std::span<const Variant> values,
                                      CursorType cursor) override {
    const Values texts = TextsOf(statement, values);
    return Opened(Run(statement, &texts, /*empty_allowed=*/false), cursor);
  }

  const Dialect& dialect() const override { return dialect_; }

  void Begin() override {
    nesting_.Begin([this](std::string_view text) { Control(text); },
                   "BEGIN TRANSACTION");
  }

  // The server answers COMMIT of a transaction that an error has aborted
  // with ROLLBACK, and no error: that is a failed commit.
  void Commit() override {
    const bool outermost = nesting_.depth() == 1;
    try {
      nesting_.Commit(
          [this, outermost](std::string_view text) {
            ResultHandle result = Control(text);
            if (outermost &&
                std::string_view(PQcmdStatus(result.get())) != "COMMIT") {
              Raise(ErrorCode::kDatabase,
                    "The transaction could not be committed: an earlier "
                    "statement of it failed, and the database undid all of "
                    "it");
            }
          },
          "COMMIT TRANSACTION");
    } catch (...) {
      Settle();
      throw;
    }
  }

  void Rollback() override {
    try {
      nesting_.Rollback([this](std::string_view text) { Control(text); },
                        "ROLLBACK TRANSACTION");
    } catch (...) {
      Settle();
      throw;
    }
  }

  int transaction_depth() const override { return nesting_.depth(); }

 private:
  std::unique_ptr<Recordset> Opened(ResultHandle result, CursorType cursor) {
    if (cursor == CursorType::kForwardOnly) {
      return std::make_unique<ForwardRecordset>(std::move(result));
    }
    const PGresult* r = result.get();
    std::vector<std::string> names = FieldNames(r);
    const int rows = PQntuples(r);
    const int fields = PQnfields(r);
    std::vector<Variant> cells;
    cells.reserve(static_cast<size_t>(rows) * static_cast<size_t>(fields));
    for (int row = 0; row < rows; ++row) {
      for (int f = 0; f < fields; ++f) cells.push_back(Cell(r, row, f));
    }
    return std::make_unique<StaticRecordset>(std::move(names),
                                             std::move(cells));
  }

  // The values of a statement as the server is sent them: text, or null
  // for NULL, each read by the server as a literal of the type its place
  // asks for.
  struct Values {
    std::vector<StatementValue> values;
    std::vector<const char*> texts;
  };

  static Values TextsOf(std::string_view statement,
                        std::span<const Variant> values) {
    CheckMarks(statement, values.size());
    Values out;
    out.values.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      out.values.push_back(ValueOfMark(values[i], i + 1));
    }
    for (const StatementValue& v : out.values) {
      out.texts.push_back(
          v.form == StatementValue::Form::kNull ? nullptr : v.text.c_str());
    }
    return out;
  }

  ResultHandle Control(std::string_view text) {
    return Run(text, nullptr, /*empty_allowed=*/false);
  }

  // Outside any transaction on the server, no level is open here either.
  void Settle() {
    const PGTransactionStatusType status = PQtransactionStatus(conn_.get());
    if (status == PQTRANS_IDLE || status == PQTRANS_UNKNOWN) nesting_.Reset();
  }

  // Dates in the form the driver reads.
  void Configure() { Run("SET DateStyle TO ISO, YMD", nullptr, false); }

  // Quotes are the only escape inside a text literal the statements make
  // (a backslash is an ordinary character) only while the server reads
  // strings the standard way. That is the server's setting, not one this
  // driver makes per connection (a pooler in between may hand over a
  // connection that another client changed): the server reports it, and a
  // statement is not sent while it is off.
  void RequireStandardStrings() {
    const char* setting =
        PQparameterStatus(conn_.get(), "standard_conforming_strings");
    if (setting == nullptr || std::string_view(setting) != "on") {
      Raise(ErrorCode::kDatabase,
            "The database server reads strings with "
            "standard_conforming_strings off, which this office cannot run "
            "with: its statements would be read differently. Turn it on for "
            "the database (ALTER DATABASE ... SET standard_conforming_strings "
            "= on) or the server");
    }
  }

  // A connection the server has closed (a restart, an administrator) is
  // made again before the next statement, with the same address and
  // settings. A loss noticed while a statement was under way fails that
  // statement, which is not repeated: it may have run.
  void Reconnect() {
    ended_ = false;
    prepared_.clear();  // the server forgot them with the old connection
    PQreset(conn_.get());
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      Raise(ErrorCode::kUnavailable,
            "The connection to the database was lost and cannot be made "
            "again: " +
                OneLine(PQerrorMessage(conn_.get())));
    }
    Configure();
  }

  // What the server sent while the connection was idle is read without
  // waiting: a server that shut down or ended this connection has said so,
  // or closed the socket, and the connection is then known to be gone
  // before a statement is sent into it.
  // True when the connection is gone: closed, or ended by the server.
  bool NoticeLoss() {
    if (PQstatus(conn_.get()) != CONNECTION_OK) return true;
    pollfd socket{PQsocket(conn_.get()), POLLIN, 0};
    if (socket.fd >= 0 && poll(&socket, 1, 0) > 0) {
      // Reading marks a closed socket; parsing hands a message the server
      // sent unasked to OnNotice.
      if (PQconsumeInput(conn_.get()) == 1) PQisBusy(conn_.get());
    }
    return ended_ || PQstatus(conn_.get()) != CONNECTION_OK;
  }

  static void OnNotice(void* self, const PGresult* notice) {
    const char* severity =
        PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    if (severity != nullptr && (std::string_view(severity) == "FATAL" ||
                                std::string_view(severity) == "PANIC")) {
      static_cast<PostgresConnection*>(self)->ended_ = true;
    }
  }

  // `values` null: the text is the whole statement, and nothing is bound.
  ResultHandle Run(std::string_view statement, const Values* values,
                   bool empty_allowed) {
    if (NoticeLoss()) {
      // A transaction does not survive the connection it was begun on: its
      // later statements must not run on a new one as if nothing was lost.
      if (nesting_.depth() > 0) {
        nesting_.Reset();
        Raise(ErrorCode::kUnavailable,
              "The connection to the database was lost during a "
              "transaction; the database undid all of it");
      }
      Reconnect();
    }
    RequireStandardStrings();
    if (statement.find('\0') != std::string_view::npos) {
      // The client library sends a C string: everything after a NUL would
      // be lost without a word. The message shows where it stood.
      std::string shown;
      for (char c : statement) {
        if (c == '\0') {
          shown += "\\0";
        } else {
          shown += c;
        }
      }
      Fail("A statement cannot contain a NUL character", shown);
    }
    const std::string text(statement);
    ResultHandle result =
        values ? ExchangePrepared(text, values->texts) : Exchange(text);
    switch (result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR) {
      case PGRES_COMMAND_OK:
      case PGRES_TUPLES_OK:
        return result;
      case PGRES_EMPTY_QUERY:
        if (empty_allowed) return result;
        Fail("The statement is empty", statement);
      default:
        if (PQstatus(conn_.get()) == CONNECTION_BAD) {
          // The database went away under the statement: trying again later
          // may succeed.
          Raise(ErrorCode::kUnavailable,
                "The connection to the database was lost: " +
                    ServerMessage(conn_.get(), result.get()));
        }
        Fail(ServerMessage(conn_.get(), result.get()), statement);
    }
  }

  // Sends one statement through the extended protocol, which the server
  // refuses to run when the text holds more than one statement, so a value
  // can never smuggle in a second one. Nothing is bound: the text is the
  // whole statement.
  ResultHandle Exchange(const std::string& text) {
    return Answer(PQsendQueryParams(conn_.get(), text.c_str(), 0, nullptr,
                                    nullptr, nullptr, nullptr, 0));
  }

  // The texts sent with values are prepared once per connection, under a
  // name of their own, and then only their values are sent: the server
  // parses and plans a statement of the main window once, not on every
  // request. The most recently used kPreparedKept stay prepared; a text
  // whose preparation failed is not kept.
  static constexpr size_t kPreparedKept = 64;

  ResultHandle ExchangePrepared(const std::string& text,
                                const std::vector<const char*>& values) {
    PGconn* const c = conn_.get();
    const int count = static_cast<int>(values.size());
    auto kept = std::find_if(prepared_.begin(), prepared_.end(),
                             [&](const auto& p) { return p.first == text; });
    if (kept != prepared_.end()) {
      prepared_.splice(prepared_.begin(), prepared_, kept);
    } else {
      // An aborted transaction refuses every statement but its end: the
      // statement fails as any other would, with the server's word.
      if (PQtransactionStatus(c) == PQTRANS_INERROR) {
        return Answer(PQsendQueryParams(c, text.c_str(), count, nullptr,
                                        values.data(), nullptr, nullptr, 0));
      }
      if (prepared_.size() >= kPreparedKept) {
        ResultHandle dropped =
            Exchange("DEALLOCATE " + prepared_.back().second);
        if (!dropped || PQresultStatus(dropped.get()) != PGRES_COMMAND_OK) {
          return dropped;
        }
        prepared_.pop_back();
      }
      const std::string name = "wrenhaven_" + std::to_string(++names_made_);
      ResultHandle made =
          Answer(PQsendPrepare(c, name.c_str(), text.c_str(), count, nullptr));
      if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) return made;
      prepared_.emplace_front(text, name);
    }
    return Answer(PQsendQueryPrepared(c, prepared_.front().second.c_str(),
                                      count, values.data(), nullptr, nullptr,
                                      0));
  }

  // Waits for the answer to what was just sent (`sent` is the client
  // library's word on sending it) at most answer_wait_: a server that
  // stops answering where TCP cannot tell (a network cut behind a proxy
  // that still acknowledges) fails the statement as unavailable, and the
  // connection is made again for the next one. Null when nothing could be
  // sent.
  ResultHandle Answer(int sent) {
    PGconn* const c = conn_.get();
    if (sent != 1) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + answer_wait_;
    while (PQisBusy(c) == 1) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd socket{PQsocket(c), POLLIN, 0};
      const int ready = left.count() > 0
                            ? poll(&socket, 1, static_cast<int>(left.count()))
                            : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        ended_ = true;
        nesting_.Reset();
        Raise(ErrorCode::kUnavailable,
              "The database did not answer within " +
                  std::to_string(answer_wait_.count() / 1000) +
                  " seconds; the connection is made again for the next "
                  "statement");
      }
      if (ready < 0 || PQconsumeInput(c) != 1) break;
    }
    ResultHandle first;
    while (PGresult* r = PQgetResult(c)) {
      if (!first) {
        first.reset(r);
      } else {
        PQclear(r);
      }
    }
    return first;
  }

  ConnHandle conn_;
  const std::chrono::milliseconds answer_wait_;
  PostgresDialect dialect_;
  NestedTransactions nesting_;
  bool ended_ = false;  // the server said it ends this connection
  // Prepared texts and their names, the most recently used first.
  std::list<std::pair<std::string, std::string>> prepared_;
  uint64_t names_made_ = 0;
};

}  // namespace

namespace {

// The server options a connection starts with: the statement timeout,
// then those of the address (which may change it).
std::string StartupOptions(const std::string& address) {
  std::string options = "-c statement_timeout=30000";
  char* failure = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(address.c_str(), &failure);
  if (failure != nullptr) PQfreemem(failure);
  if (parsed == nullptr) return options;
  for (const PQconninfoOption* o = parsed; o->keyword != nullptr; ++o) {
    if (std::string_view(o->keyword) == "options" && o->val != nullptr &&
        *o->val != '\0') {
      options += ' ';
      options += o->val;
    }
  }
  PQconninfoFree(parsed);
  return options;
}

// How long a statement's answer is waited for: the statement timeout the
// options end with (milliseconds, or with a unit of s, min or ms; 30
// seconds when there is none or it is 0), and 5 seconds more for the
// server's own cancellation to arrive.
std::chrono::milliseconds AnswerWait(const std::string& options) {
  long long ms = 30000;
  const size_t at = options.rfind("statement_timeout=");
  if (at != std::string::npos) {
    const char* p =
        options.c_str() + at + std::string_view("statement_timeout=").size();
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(p, &end, 10);
    const std::string_view unit(end, std::strcspn(end, " '\\"));
    long long scale = unit == "s" ? 1000 : unit == "min" ? 60000 : 1;
    if (errno == 0 && end != p && n > 0 && n < 86400000 &&
        (unit.empty() || unit == "ms" || scale > 1)) {
      ms = n * scale;
    }
  }
  return std::chrono::milliseconds(std::min(ms, 86400000LL) + 5000);
}

}  // namespace

std::string MaskPassword(std::string address) {
  return Masked(std::move(address));
}

std::shared_ptr<Connection> OpenPostgres(const std::string& address) {
  if (address.find('\0') != std::string::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "A database address cannot contain a NUL character");
  }
  // The address may be a URI or keyword=value pairs. The settings before it
  // are defaults the address may change: a connection attempt gives up
  // after 5 seconds, and a server that stops answering (a cut network) is
  // noticed within about 10 seconds rather than a TCP timeout's minutes.
  // The client encoding follows the address so it wins and survives a
  // reconnection, as do the server options: a statement runs at most 30
  // seconds, unless the address's own options say otherwise.
  const std::string options = StartupOptions(address);
  const char* const keys[] = {
      "connect_timeout",  "keepalives_idle",  "keepalives_interval",
      "keepalives_count", "tcp_user_timeout", "dbname",
      "client_encoding",  "options",          nullptr};
  const char* const values[] = {
      "5",    "5", "1", "3", "10000", address.c_str(), "UTF8", options.c_str(),
      nullptr};
  ConnHandle conn(PQconnectdbParams(keys, values, /*expand_dbname=*/1));
  if (!conn) {
    Raise(ErrorCode::kDatabase,
          "Cannot open the database " + Masked(address) + ": out of memory");
  }
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    Raise(ErrorCode::kUnavailable, "Cannot open the database " +
                                       Masked(address) + ": " +
                                       OneLine(PQerrorMessage(conn.get())));
  }
  return std::make_shared<PostgresConnection>(std::move(conn),
                                              AnswerWait(options));
}

}  // namespace wrenhaven
