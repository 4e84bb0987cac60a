// The HTTP page host: serves pages written against the page objects of
// wrenhaven/page.h (see wrenhaven/http_page.h) to browsers, with sessions,
// a pool of database connections and a folder of static files, and the
// operators' endpoints: a health check and metrics (wrenhaven/metrics.h).
//
//   HttpHost host(options, [] { return OpenSqlite(path); });
//   host.AddPage("/", SignInPage);
//   host.Run();  // until Stop()
//
// Each request runs on one of the host's worker threads. Pages get their
// database connection from the pool; the classes borrow it through SetConn
// and never open or close one.
#ifndef WRENHAVEN_HTTP_HOST_H_
#define WRENHAVEN_HTTP_HOST_H_

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/http_page.h"
#include "wrenhaven/metrics.h"
#include "wrenhaven/session_store.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// Makes a new database connection; raises when it cannot.
using ConnectionFactory = std::function<std::shared_ptr<Connection>()>;

// What a path leads to, for the host's metrics and request log. Static
// files are kStatic by themselves; a page is kOther unless added as
// another kind.
enum class PageKind { kStatic, kSignIn, kMainWindow, kAdmin, kFeature, kOther };
inline constexpr int kPageKinds = 6;

// One line per request (see README.md, "Request log"): the Apache combined
// format with the duration in microseconds at the end, or one JSON object.
enum class RequestLogFormat { kCombined, kJson };

struct HttpHostOptions {
  std::string address = "127.0.0.1";
  int port = 8080;  // 0 picks a free port (see HttpHost::port)
  // Files under this folder are served below `static_prefix`; "" serves
  // none.
  std::string static_dir;
  std::string static_prefix = "/static/";
  // Peers whose X-Forwarded-For (and X-Forwarded-Proto) are believed.
  std::vector<std::string> trusted_proxies;
  // Used for the default memory store.
  SessionLimits session_limits;
  // An HTTP token; HttpHost raises kHost for any other name.
  std::string session_cookie = "WRENHAVEN_SESSION";
  // Worker threads. A worker serves one request at a time; connections
  // wait for their next request (and for the whole of its head) without
  // one, but for a worker's short linger after an answer (at most half the
  // workers linger). 64 on two cores, by measurement: with 16 clients
  // asking back to back for a static file, 8 workers reached about 0.72 of
  // a bare thread-per-connection server's rate, 16 about 0.8, 32 about
  // 0.88 and 64 about 0.92: fewer workers hand more connections back to
  // the poller, and a worker lingering, or blocked in a page on the
  // database or a password verification, holds no processor. An idle
  // thread costs its stack's address space and little memory.
  int workers = 64;
  int keep_alive_seconds = 5;
  int keep_alive_requests = 100;
  // A longer body is answered 413 (from its Content-Length, before it is
  // read; a chunked one as soon as it passes the limit).
  size_t max_body_bytes = 1 << 20;
  // The request line and headers must be complete this long after the
  // connection opened (or, on a kept-alive one, after their first byte
  // arrived): 408 otherwise. The body then has `io_seconds`.
  int head_seconds = 10;
  int io_seconds = 10;
  // Larger or more numerous headers are answered 431.
  size_t max_head_bytes = 32 * 1024;
  size_t max_header_line = 8 * 1024;
  size_t max_headers = 100;
  // Open connections in all and from one peer address (trusted proxies are
  // not counted per address); one past either is answered 503 and closed.
  size_t max_connections = 4096;
  size_t max_connections_per_address = 256;
  // Page connections to the database open at once; a page that finds all
  // of them lent waits up to `database_wait` and then gets 503 with
  // Retry-After.
  size_t database_connections = 16;
  std::chrono::milliseconds database_wait{5000};
  // PEM files: with both, the host serves HTTPS only (and cookies are
  // Secure); raises kHost when they cannot be used.
  std::string tls_cert_file;
  std::string tls_key_file;
  // One line per request, in `log_format`, handed to `log_writer` (without
  // one, to spdlog's default logger). The path is logged without its query
  // string unless `log_query_strings`; even then never that of a post or
  // of the sign-in page, and never a form value.
  bool log_requests = true;
  RequestLogFormat log_format = RequestLogFormat::kCombined;
  bool log_query_strings = false;
  std::function<void(const std::string& line)> log_writer;
  // The operators' endpoints ("" turns one off): the health check (200
  // when the database answers within a second, else 503) and the metrics
  // in the Prometheus text format. Open to loopback clients and to
  // `monitor_addresses` (client addresses as the trusted proxies decide),
  // to others only when the gate (HttpHost::SetMonitorGate) lets them.
  std::string health_path = "/healthz";
  std::string metrics_path = "/metrics";
  std::vector<std::string> monitor_addresses;
};

using PageHandler = std::function<void(HttpPage&)>;

class HttpHost {
 public:
  // `sessions` defaults to a memory store with options.session_limits.
  // Raises kHost when options.session_cookie is not an HTTP token.
  HttpHost(HttpHostOptions options, ConnectionFactory connections,
           std::unique_ptr<SessionStore> sessions = nullptr);
  ~HttpHost();  // stops serving first
  HttpHost(const HttpHost&) = delete;
  HttpHost& operator=(const HttpHost&) = delete;

  // A page for one exact path ("/MyOffice/").
  void AddPage(std::string path, PageHandler handler,
               PageKind kind = PageKind::kOther);
  // A page for every path that starts with `prefix` ("/apps/"); the
  // longest matching prefix wins, an exact page over any prefix.
  // REQUIRES: pages are added before Bind.
  void AddPages(std::string prefix, PageHandler handler,
                PageKind kind = PageKind::kOther);

  // Who else may read the operators' endpoints: runs as a page (with the
  // visitor's session and a connection) for a client that is neither
  // loopback nor one of options.monitor_addresses; false answers 403.
  // REQUIRES: set before Bind.
  void SetMonitorGate(std::function<bool(HttpPage&)> gate);

  // The host's metrics, to which pages may add their own. The host keeps
  // requests and durations per page kind, sessions open and the database
  // connections in use and waiting.
  Metrics& metrics();

  // The address of each static file by its name ("office.css" gives
  // "/static/office.0123456789ab.css"), for pages to refer to: the
  // fingerprinted address is cached by browsers for a year.
  std::vector<std::pair<std::string, std::string>> StaticAddresses() const;

  // Binds the listening socket and returns the port. Raises kHost when the
  // address cannot be bound.
  int Bind();
  // Serves until Stop(); binds first when Bind was not called. Raises kHost
  // when serving cannot start.
  void Run();
  // Safe from any thread; Run returns soon after.
  void Stop();
  // The bound port (0 before Bind).
  int port() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_HTTP_HOST_H_
