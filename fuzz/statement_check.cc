// Statement assembly under values from outside. Each input names a target
// (its first byte) and the values to hand it (the rest, split at 0x1F).
// The target runs once with those values and once with harmless values of
// the same form ("a" for a text, "1" with the same sign for a number, the
// same count of 1s for a role list, "" for ""), on a connection that
// records what it is sent. Every statement sent must have the token
// structure of its harmless twin, and SQLite, on a database with the
// office tables, must prepare it as one statement with the same number of
// parameters and result columns.
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/sqlite/sqlite_dialect.h"
#include "frame/statement.h"
#include "frame/static_recordset.h"
#include "frame/text.h"
#include "fuzz/checks.h"
#include "fuzz/sql_tokens.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sign_in.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::fuzz {
namespace {

// Records every statement; queries find no row. The statements are
// SQLite's, so SQLite can judge them.
class RecordingConnection : public Connection {
 public:
  void Execute(std::string_view statement) override {
    sent.emplace_back(statement);
  }
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType) override {
    sent.emplace_back(statement);
    return std::make_unique<StaticRecordset>(std::vector<std::string>{},
                                             std::vector<Variant>{});
  }
  const Dialect& dialect() const override { return dialect_; }
  void Begin() override { ++depth_; }
  void Commit() override { Close(); }
  void Rollback() override { Close(); }
  int transaction_depth() const override { return depth_; }

  std::vector<std::string> sent;

 private:
  void Close() {
    if (depth_ == 0) Raise(ErrorCode::kDatabase, "No transaction is open");
    --depth_;
  }
  SqliteDialect dialect_;
  int depth_ = 0;
};

// A database file with the office tables, made once per process, and a
// read-only handle on it that prepares statements without running them.
sqlite3* OfficeTables() {
  static sqlite3* db = [] {
    char folder[] = "/tmp/wrenhaven-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    const std::string path = std::string(folder) + "/office.db";
    {
      std::shared_ptr<Connection> conn = OpenSqlite(path);
      CreateSchema(*conn);
    }
    // Copied into memory, so that nothing but this process's handle
    // remains once the file is gone.
    sqlite3* file = nullptr;
    sqlite3* handle = nullptr;
    sqlite3_backup* copy = nullptr;
    if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK ||
        sqlite3_open(":memory:", &handle) != SQLITE_OK ||
        (copy = sqlite3_backup_init(handle, "main", file, "main")) == nullptr ||
        sqlite3_backup_step(copy, -1) != SQLITE_DONE ||
        sqlite3_backup_finish(copy) != SQLITE_OK) {
      std::fprintf(stderr, "cannot copy the office tables of %s\n",
                   path.c_str());
      std::abort();
    }
    sqlite3_close(file);
    for (const char* suffix : {"", "-wal", "-shm"}) {
      unlink((path + suffix).c_str());
    }
    rmdir(folder);
    return handle;
  }();
  return db;
}

struct Prepared {
  std::string error;  // "" when SQLite prepared it as one statement
  int parameters = 0;
  int columns = 0;
};

Prepared Prepare(const std::string& sql) {
  Prepared out;
  sqlite3* db = OfficeTables();
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(),
                                    static_cast<int>(sql.size()), &stmt, &tail);
  if (rc != SQLITE_OK) {
    out.error = sqlite3_errmsg(db);
  } else if (stmt == nullptr) {
    out.error = "no statement at all";
  } else {
    out.parameters = sqlite3_bind_parameter_count(stmt);
    out.columns = sqlite3_column_count(stmt);
    for (const char* p = tail; p < sql.data() + sql.size(); ++p) {
      if (*p != ' ' && *p != ';' && *p != '\n' && *p != '\t' && *p != '\r') {
        out.error = "text after the first statement";
        break;
      }
    }
  }
  sqlite3_finalize(stmt);
  if (out.error.empty() && !sqlite3_complete((sql + ";").c_str())) {
    out.error = "sqlite3_complete finds no complete statement";
  }
  return out;
}

// What a target did: the statements sent, and how it ended.
struct Outcome {
  std::vector<std::string> sent;
  bool raised = false;  // an Error, as the page would see it
  std::string foreign;  // any other exception: a fault
};

enum class Form { kText, kRoleList };

struct Target {
  const char* name;
  std::vector<Form> fields;
  std::function<void(RecordingConnection&, const std::vector<std::string>&)>
      run;
};

void UseTestPolicy() {
  static std::once_flag once;
  std::call_once(once, [] {
    SignInPolicy policy = CurrentSignInPolicy();
    policy.cost = PasswordCost::ForTests();
    SetSignInPolicy(policy);  // the limits stay on: their statements too
  });
}

// The pairs that the classes' add and change statements use.
constexpr NullMarker kValuesPairs[] = {
    {",,", ",NULL,"}, {"(,", "(NULL,"}, {",)", ",NULL)"}};
constexpr NullMarker kSetPairs[] = {{"=,", "=null,"},
                                    {"= where", "= null where"}};

Variant Text(const std::string& s) { return Variant::String(s); }

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"the person statement from the builder",
       {Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         Statement s;
         s.Text("Select * from HR_person where personAccount='")
             .Quoted(Text(v[0]))
             .Text("'");
         db.Execute(s.Finish());
       }},
      {"a values list with bare and quoted values",
       {Form::kText, Form::kText, Form::kText, Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         Statement s;
         s.Text(
              "Insert Into SYS_Menu(FunID,MenuParentID,MenuName,MenuTip) "
              "values(")
             .Bare(Text(v[0]), "FunID")
             .Text(",")
             .Bare(Text(v[1]), "MenuParentID")
             .Text(",'")
             .Quoted(Text(v[2]))
             .Text("','")
             .Quoted(Text(v[3]))
             .Text("')");
         db.Execute(s.Finish(kValuesPairs));
       }},
      {"a set list with bare and quoted values",
       {Form::kText, Form::kText, Form::kText, Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         // As the classes do: the row to change must be named.
         if (v[3].empty()) Raise(ErrorCode::kInvalidArgument, "no ID");
         Statement s;
         s.Text("update SYS_Menu set FunID=")
             .Bare(Text(v[0]), "FunID")
             .Text(",MenuName='")
             .Quoted(Text(v[1]))
             .Text("',MenuOrder=")
             .Bare(Text(v[2]), "MenuOrder")
             .Text(" where MenuID=")
             .Bare(Text(v[3]), "ID");
         db.Execute(s.Finish(kSetPairs));
       }},
      {"a sign-in",
       {Form::kText, Form::kText, Form::kText, Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         UseTestPolicy();
         auto ctx = std::make_shared<MemoryContext>();
         MemoryRequest& req = *ctx->request_obj;
         using C = Request::Collection;
         req.Set(C::kServerVariables, "REQUEST_METHOD", "POST");
         req.Set(C::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
         req.Set(C::kServerVariables, "HTTP_USER_AGENT", v[3]);
         req.Set(C::kForm, "LoginName", v[0]);
         req.Set(C::kForm, "LoginPwd", v[1]);
         req.Set(C::kForm, "Screen", v[2]);
         Login login;
         login.OnStartPage(ctx);
         login.SetConn(std::shared_ptr<Connection>(&db, [](Connection*) {}));
         login.LoginMain();
       }},
      {"the menus of a visitor's roles",
       {Form::kRoleList},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         auto ctx = std::make_shared<MemoryContext>();
         ctx->session_obj->Set("RoleID", Text(v[0]));
         Menu menu;
         menu.OnStartPage(ctx);
         menu.SetConn(std::shared_ptr<Connection>(&db, [](Connection*) {}));
         menu.GetTopMenu();
         menu.GetLeftMenu(1);
       }},
      {"a new menu",
       {Form::kText, Form::kText, Form::kText, Form::kText, Form::kText,
        Form::kText, Form::kText, Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         Menu menu;
         menu.SetConn(std::shared_ptr<Connection>(&db, [](Connection*) {}));
         menu.AddData(Text(v[0]), Text(v[1]), Text(v[2]), Text(v[3]),
                      Text(v[4]), Text(v[5]), Text(v[6]), Text(v[7]));
       }},
      {"a changed menu",
       {Form::kText, Form::kText, Form::kText, Form::kText, Form::kText,
        Form::kText, Form::kText, Form::kText, Form::kText},
       [](RecordingConnection& db, const std::vector<std::string>& v) {
         Menu menu;
         menu.SetConn(std::shared_ptr<Connection>(&db, [](Connection*) {}));
         menu.UpdateData(Text(v[0]), Text(v[1]), Text(v[2]), Text(v[3]),
                         Text(v[4]), Text(v[5]), Text(v[6]), Text(v[7]),
                         Text(v[8]));
       }},
  };
  return targets;
}

// A value of the same form that cannot change any statement.
std::string Harmless(const std::string& value, Form form) {
  if (value.empty()) return "";
  if (form == Form::kRoleList && IsWholeNumberList(value)) {
    std::string out;
    size_t start = 0;
    while (true) {
      const size_t comma = value.find(',', start);
      if (!out.empty()) out += ',';
      if (value[start] == '-' || value[start] == '+') out += value[start];
      out += '1';
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return out;
  }
  if (IsNumberText(value)) {
    return (value[0] == '-' || value[0] == '+') ? value.substr(0, 1) + "1"
                                                : "1";
  }
  return "a";
}

Outcome Run(const Target& target, const std::vector<std::string>& values) {
  Outcome out;
  RecordingConnection db;
  try {
    target.run(db, values);
  } catch (const Error&) {
    out.raised = true;
  } catch (const std::exception& e) {
    out.foreign = e.what();
  } catch (...) {
    out.foreign = "an exception that is no std::exception";
  }
  out.sent = std::move(db.sent);
  return out;
}

}  // namespace

std::string CompareStatements(const std::string& sql,
                              const std::string& reference) {
  if (std::string diff = CompareStructure(sql, reference); !diff.empty()) {
    return diff;
  }
  const Prepared a = Prepare(sql);
  const Prepared b = Prepare(reference);
  if (!b.error.empty()) {
    return "the harmless statement does not prepare: " + b.error;
  }
  if (!a.error.empty()) return "SQLite: " + a.error;
  if (a.parameters != b.parameters) {
    return "holds " + std::to_string(a.parameters) + " parameters, not " +
           std::to_string(b.parameters);
  }
  if (a.columns != b.columns) {
    return "answers " + std::to_string(a.columns) + " columns, not " +
           std::to_string(b.columns);
  }
  return "";
}

std::string CheckStatement(std::string_view input) {
  if (input.empty()) return "";
  const std::vector<Target>& targets = Targets();
  const Target& target =
      targets[static_cast<unsigned char>(input[0]) % targets.size()];
  std::vector<std::string> values =
      SplitFields(input.substr(1), target.fields.size());
  values.resize(target.fields.size());
  std::vector<std::string> harmless;
  for (size_t i = 0; i < values.size(); ++i) {
    harmless.push_back(Harmless(values[i], target.fields[i]));
  }

  const Outcome fuzzed = Run(target, values);
  const Outcome twin = Run(target, harmless);
  const std::string where = std::string(target.name) + ": ";
  if (!fuzzed.foreign.empty()) {
    return where +
           "failed with an exception that is no Error: " + fuzzed.foreign;
  }
  if (!twin.foreign.empty()) {
    return where + "the harmless values failed: " + twin.foreign;
  }
  if (!fuzzed.raised && !twin.raised &&
      fuzzed.sent.size() != twin.sent.size()) {
    return where + std::to_string(fuzzed.sent.size()) +
           " statements sent where the harmless values send " +
           std::to_string(twin.sent.size());
  }
  if (!fuzzed.raised && twin.raised) {
    return where + "accepted values whose harmless twins are refused";
  }
  const size_t n = std::min(fuzzed.sent.size(), twin.sent.size());
  for (size_t i = 0; i < n; ++i) {
    const std::string& sql = fuzzed.sent[i];
    const std::string& reference = twin.sent[i];
    const std::string statement = where + "statement " + std::to_string(i) +
                                  " [" + sql + "] against [" + reference +
                                  "]: ";
    if (std::string fault = CompareStatements(sql, reference); !fault.empty()) {
      return statement + fault;
    }
  }
  if (fuzzed.sent.size() > n) {
    return where + "sent a statement that the harmless values do not: [" +
           fuzzed.sent[n] + "]";
  }
  return "";
}

std::vector<std::string> SplitFields(std::string_view input, size_t max_parts) {
  std::vector<std::string> out;
  while (out.size() + 1 < max_parts) {
    const size_t cut = input.find('\x1F');
    if (cut == std::string_view::npos) break;
    out.emplace_back(input.substr(0, cut));
    input.remove_prefix(cut + 1);
  }
  out.emplace_back(input);
  return out;
}

}  // namespace wrenhaven::fuzz
