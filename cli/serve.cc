// wrenhaven serve: the office system over HTTP, until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "cli/commands.h"
#include "web/office_pages.h"
#include "wrenhaven/database_sessions.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/retention.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::cli {
namespace {

struct ServeOptions {
  std::string db = "office.db";
  std::string listen = "127.0.0.1:8080";
  bool demo = false;
  std::vector<std::string> trusted_proxies;
  int session_minutes = 20;
  std::string static_dir;
  int workers = HttpHostOptions{}.workers;
  int keep_alive_seconds = HttpHostOptions{}.keep_alive_seconds;
  bool quiet = false;
  std::string log_format = "combined";
  bool log_query = false;
  std::vector<std::string> monitor_from;
  // "memory" or "db"; empty: db for a PostgreSQL server, memory otherwise.
  std::string sessions;
  SignInOptions sign_in;
  bool allow_demo_passwords = false;
  // What one request and one client may hold.
  size_t max_body_kib = 1024;
  int head_seconds = 10;
  size_t max_connections = 4096;
  size_t max_per_address = 256;
  size_t db_connections = 0;  // 0: by the database (DatabaseConnections)
  int db_wait_ms = 5000;
  std::string tls_cert;
  std::string tls_key;
  // Login records older than this many days are deleted once a day; 0
  // keeps them all. With a folder, each day's are written there first.
  int keep_login_days = 0;
  std::string keep_logins_export;
};

// The pages' database connections: as given, or 16 on PostgreSQL (two
// servers stay below its default max_connections of 100) and one per
// worker on SQLite, whose connections cost a file handle each.
size_t DatabaseConnections(const ServeOptions& o) {
  if (o.db_connections > 0) return o.db_connections;
  if (IsPostgresAddress(o.db)) return 16;
  return static_cast<size_t>(std::max(1, o.workers));
}

// Each open connection is a descriptor: the soft limit is raised to the
// hard one, and the host keeps what it accepts below it (with room for the
// database, the log and the files it serves).
size_t ConnectionsTheProcessCanHold(size_t wanted) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return wanted;
  if (files.rlim_cur < files.rlim_max) {
    rlimit raised = files;
    raised.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
  }
  if (files.rlim_cur == RLIM_INFINITY) return wanted;
  const auto room = static_cast<size_t>(files.rlim_cur);
  return room <= 128 ? 16 : std::min(wanted, room - 128);
}

bool IsLoopback(const std::string& address) {
  return address == "::1" || address == "localhost" ||
         address.starts_with("127.");
}

// How often the SQLite log is copied back into the file: at a few thousand
// sign-ins a second the log stays at a few megabytes.
constexpr std::chrono::milliseconds kCheckpointInterval{20};

// "127.0.0.1:8080", "[::1]:8080", ":8080" (every address).
void SplitListen(const std::string& listen, std::string* address, int* port) {
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    throw CommandError("--listen takes ADDRESS:PORT, not \"" + listen + "\"");
  }
  std::string host = listen.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) host = "0.0.0.0";
  const std::string digits = listen.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(digits) > 65535) {
    throw CommandError("--listen has no valid port in \"" + listen + "\"");
  }
  *address = host;
  *port = std::stoi(digits);
}

bool IsPostgresAddress(std::string_view db) {
  return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

// With --demo, a new (empty) database gets the tables and the demo office.
// An office whose demo accounts still have their public passwords is
// offered on this machine only, unless told otherwise.
void PrepareDatabase(const ServeOptions& o, const std::string& address) {
  auto conn = OpenDatabase(o.db, /*create=*/o.demo);
  try {
    if (o.demo) {
      CreateSchema(*conn);
      auto rs =
          conn->Open("SELECT COUNT(*) FROM HR_person", CursorType::kStatic);
      const bool empty = rs->Value(0).ToLong() == 0;
      rs->Close();
      if (empty) LoadDemoData(*conn);
    }
    if (!IsLoopback(address) && !o.allow_demo_passwords &&
        HoldsDemoPasswords(*conn)) {
      throw CommandError(
          "the office has demo accounts with their public passwords; it is "
          "served on a loopback address only (change those passwords with "
          "`wrenhaven passwords --set`, or give --allow-demo-passwords)");
    }
  } catch (const Error& e) {
    throw CommandError(e.what());
  }
}

// Deletes the login records older than --keep-logins days at the start and
// then once a day, in the batches of `wrenhaven logins --prune`, each
// day's written first to a file of the export folder when one is given.
class LoginKeeper {
 public:
  LoginKeeper(const ServeOptions& o, ConnectionFactory connections)
      : days_(o.keep_login_days),
        folder_(o.keep_logins_export),
        connections_(std::move(connections)),
        thread_([this] { Loop(); }) {}
  ~LoginKeeper() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  void Loop() {
    while (true) {
      KeepOnce();
      std::unique_lock<std::mutex> lock(mutex_);
      if (wake_.wait_for(lock, std::chrono::hours(24),
                         [this] { return stop_; })) {
        return;
      }
    }
  }
  void KeepOnce() {
    RetentionOptions options;
    options.before = Date{Date::Now().serial - days_}.ToIso();
    options.prune = true;
    // A server that is told to stop ends the work between two batches.
    options.progress = [this](int64_t, int64_t) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) Raise(ErrorCode::kHost, "the server is stopping");
    };
    if (!folder_.empty()) {
      std::string name = "logins-before-" + options.before + ".csv";
      for (char& c : name) {
        if (c == ' ') c = '_';
        if (c == ':') c = '-';
      }
      options.export_path = (std::filesystem::path(folder_) / name).string();
    }
    try {
      const RetentionResult r = KeepRecords(*connections_(), options);
      spdlog::info(
          "Deleted {} login records older than {}{}", r.deleted, options.before,
          folder_.empty() ? ""
                          : " after writing them to " + options.export_path);
    } catch (const std::exception& e) {
      spdlog::error("Old login records were not deleted: {}", e.what());
    }
  }

  const int days_;
  const std::string folder_;
  const ConnectionFactory connections_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the members above are ready
};

int Serve(const ServeOptions& o, const std::string& executable) {
  HttpHostOptions options;
  SplitListen(o.listen, &options.address, &options.port);
  options.trusted_proxies = o.trusted_proxies;
  options.session_limits.idle = std::chrono::minutes(o.session_minutes);
  options.static_dir =
      o.static_dir.empty() ? web::DefaultStaticDir(executable) : o.static_dir;
  options.workers = o.workers;
  options.keep_alive_seconds = o.keep_alive_seconds;
  options.log_requests = !o.quiet;
  options.max_body_bytes = o.max_body_kib * 1024;
  options.head_seconds = o.head_seconds;
  options.max_connections = ConnectionsTheProcessCanHold(o.max_connections);
  options.max_connections_per_address = o.max_per_address;
  options.database_connections = DatabaseConnections(o);
  options.database_wait = std::chrono::milliseconds(o.db_wait_ms);
  options.tls_cert_file = o.tls_cert;
  options.tls_key_file = o.tls_key;
  options.log_format = o.log_format == "json" ? RequestLogFormat::kJson
                                              : RequestLogFormat::kCombined;
  options.log_query_strings = o.log_query;
  options.monitor_addresses = o.monitor_from;
  // Request lines go out bare, one per line, for the log tools to read;
  // the program's own messages keep their time and level.
  auto requests = spdlog::get("requests");
  if (!requests) requests = spdlog::stdout_logger_mt("requests");
  requests->set_pattern("%v");
  options.log_writer = [requests](const std::string& line) {
    requests->info("{}", line);
  };

  // The signals are taken by one thread of ours; every other thread, the
  // host's workers and the checkpointer included, inherits them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  ApplySignInOptions(o.sign_in);
  {
    // A sign-in holds its page's database connection while its password
    // is verified: on SQLite, whose pool has a connection per worker, at
    // most half of them may wait for a verification (more are refused at
    // once as unavailable), so that a flood of attempts leaves connections
    // for every other page. PostgreSQL's smaller pool is left to wait:
    // capping it would refuse ordinary bursts of sign-ins.
    SignInPolicy policy = CurrentSignInPolicy();
    const size_t room = std::max<size_t>(1, DatabaseConnections(o) / 2);
    if (!IsPostgresAddress(o.db) && policy.verifier_queue > room) {
      policy.verifier_queue = room;
      SetSignInPolicy(policy);
    }
  }
  PrepareDatabase(o, options.address);
  const std::string db = o.db;
  // The pages' connections keep the library's errors as they are: a
  // database that cannot be reached just now answers 503, not 500.
  ConnectionFactory connections = [db]() -> std::shared_ptr<Connection> {
    if (IsPostgresAddress(db)) return OpenPostgres(db);
    return OpenSqlite(db, /*create=*/false);
  };
  // A SQLite file: the write-ahead log is copied back into the file by a
  // thread of its own rather than by whichever sign-in's commit crosses
  // SQLite's threshold.
  std::unique_ptr<SqliteCheckpointer> checkpointer;
  if (!IsPostgresAddress(db)) {
    SqliteOptions sqlite_options;
    sqlite_options.create = false;
    sqlite_options.background_checkpoints = true;
    connections = [db, sqlite_options] {
      return OpenSqlite(db, sqlite_options);
    };
    try {
      checkpointer = std::make_unique<SqliteCheckpointer>(
          db, kCheckpointInterval,
          [](const std::string& message) { spdlog::error("{}", message); });
    } catch (const Error& e) {
      throw CommandError(e.what());
    }
  }
  const std::string sessions = !o.sessions.empty()
                                   ? o.sessions
                                   : (IsPostgresAddress(db) ? "db" : "memory");

  std::unique_ptr<HttpHost> host;
  try {
    host = std::make_unique<HttpHost>(
        options, connections,
        sessions == "db"
            ? MakeDatabaseSessionStore(connections, options.session_limits)
            : nullptr);
    web::AddOfficePages(*host);
    host->Bind();
  } catch (const Error& e) {
    throw CommandError(e.what());
  }
  spdlog::info(
      "Wrenhaven office on {}://{}:{}/ (database {}, static files {}, "
      "sessions in {})",
      options.tls_cert_file.empty() ? "http" : "https",
      options.address.find(':') != std::string::npos
          ? "[" + options.address + "]"
          : options.address,
      host->port(), MaskPassword(db),
      options.static_dir.empty() ? "none" : options.static_dir,
      sessions == "db" ? "the database" : "memory");

  std::unique_ptr<LoginKeeper> keeper;
  if (o.keep_login_days > 0) {
    keeper = std::make_unique<LoginKeeper>(o, connections);
  }

  std::thread watcher([&host, signals] {
    int received = 0;
    sigwait(&signals, &received);
    spdlog::info("Signal {} received, stopping", received);
    host->Stop();
  });
  try {
    host->Run();
  } catch (const Error& e) {
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    throw CommandError(e.what());
  }
  watcher.join();
  spdlog::info("Stopped");
  return 0;
}

}  // namespace

void AddServeCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand("serve", "Serve the office system over HTTP");
  auto o = std::make_shared<ServeOptions>();
  cmd->add_option("--db", o->db, "SQLite file (or PostgreSQL address)")
      ->capture_default_str();
  cmd->add_option("--listen", o->listen,
                  "ADDRESS:PORT to listen on (port 0: any free port)")
      ->capture_default_str();
  cmd->add_flag("--demo", o->demo,
                "Create the database with the demo office when it is new");
  cmd->add_option("--trusted-proxy", o->trusted_proxies,
                  "A proxy whose X-Forwarded-For is believed (repeatable)");
  cmd->add_option("--session-timeout", o->session_minutes,
                  "Minutes a session lasts unused")
      ->capture_default_str()
      ->check(CLI::Range(1, 24 * 60));
  cmd->add_option("--static", o->static_dir,
                  "Folder of static files (default: the one installed with "
                  "the program, or the source tree's)");
  cmd->add_option("--workers", o->workers,
                  "Worker threads (each serves one request at a time)")
      ->capture_default_str()
      ->check(CLI::Range(2, 1024));
  cmd->add_option("--keep-alive", o->keep_alive_seconds,
                  "Seconds an idle connection is kept open")
      ->capture_default_str()
      ->check(CLI::Range(1, 300));
  cmd->add_flag("--quiet", o->quiet, "Log no line per request");
  cmd->add_option("--log-format", o->log_format,
                  "Request log lines: combined (Apache's, with the duration "
                  "in microseconds last) or json (one object a line)")
      ->capture_default_str()
      ->check(CLI::IsMember({"combined", "json"}));
  cmd->add_flag("--log-query", o->log_query,
                "Log the query strings of requests other than posts and the "
                "sign-in page (by default only the path)");
  cmd->add_option("--monitor-from", o->monitor_from,
                  "A client address, besides loopback, that may read /healthz "
                  "and /metrics (repeatable)");
  cmd->add_option("--sessions", o->sessions,
                  "Where sessions live: memory (this process only) or db "
                  "(shared by every server on the database; the default for "
                  "PostgreSQL)")
      ->check(CLI::IsMember({"memory", "db"}));
  AddCostOptions(*cmd, o->sign_in);
  AddLimitOptions(*cmd, o->sign_in);
  cmd->add_option("--max-body", o->max_body_kib,
                  "Largest request body in KiB (larger: 413)")
      ->capture_default_str()
      ->check(CLI::Range(1, 1024 * 1024));
  cmd->add_option("--head-timeout", o->head_seconds,
                  "Seconds a request's line and headers may take to arrive "
                  "(then 408)")
      ->capture_default_str()
      ->check(CLI::Range(1, 600));
  cmd->add_option("--max-connections", o->max_connections,
                  "Open connections in all (past it: 503)")
      ->capture_default_str()
      ->check(CLI::Range(16, 1000000));
  cmd->add_option("--max-connections-per-address", o->max_per_address,
                  "Open connections from one client address, trusted "
                  "proxies not counted (past it: 503)")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--db-connections", o->db_connections,
                  "Database connections the pages may hold at once "
                  "(default: 16 on PostgreSQL, one per worker on SQLite)")
      ->check(CLI::Range(1, 1024));
  cmd->add_option("--db-wait", o->db_wait_ms,
                  "Milliseconds a page waits for a free database connection "
                  "(then 503)")
      ->capture_default_str()
      ->check(CLI::Range(1, 600000));
  auto* cert = cmd->add_option("--tls-cert", o->tls_cert,
                               "PEM certificate (chain): serve HTTPS")
                   ->check(CLI::ExistingFile);
  auto* key =
      cmd->add_option("--tls-key", o->tls_key, "PEM private key of --tls-cert")
          ->check(CLI::ExistingFile);
  cert->needs(key);
  key->needs(cert);
  cmd->add_option("--keep-logins", o->keep_login_days,
                  "Delete login records older than DAYS days, at the start "
                  "and then once a day (default: keep them all)")
      ->check(CLI::Range(1, 36500));
  cmd->add_option("--keep-logins-export", o->keep_logins_export,
                  "With --keep-logins: a folder where each day's deleted "
                  "records are written first (logins-before-TIME.csv)")
      ->check(CLI::ExistingDirectory);
  cmd->add_flag("--allow-demo-passwords", o->allow_demo_passwords,
                "Serve on an address beyond this machine even when demo "
                "accounts still have their public passwords");
  cmd->callback([=] {
    *action = [=]() -> int {
      if (!o->keep_logins_export.empty() && o->keep_login_days == 0) {
        throw CommandError("--keep-logins-export needs --keep-logins DAYS");
      }
      std::string exe;
      std::error_code ec;
      const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
      if (!ec) exe = self.string();
      return Serve(*o, exe);
    };
  });
}

}  // namespace wrenhaven::cli
