// The HTTP page host: one handler for every request, which serves static
// files or runs the page registered for the path with its page objects,
// session and connection, and answers with the page's buffered output, a
// redirect or the error page. Building the request, the session's scope
// and the answer are units of their own (request_builder.h,
// session_scope.h, page_answer.h), as are the static files
// (static_files.h), the operators' endpoints and metrics (monitor.h) and
// the request log (request_log.h).
#include "wrenhaven/http_host.h"

#include <httplib.h>
#include <spdlog/spdlog.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "host/connection_pool.h"
#include "host/front_door.h"
#include "host/monitor.h"
#include "host/origin.h"
#include "host/page_answer.h"
#include "host/request_builder.h"
#include "host/request_log.h"
#include "host/session_scope.h"
#include "host/static_files.h"
#include "host/tls_context.h"
#include "host/wire.h"
#include "wrenhaven/database_sessions.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// How often run-out sessions are looked for while the host serves.
constexpr auto kSweepEvery = std::chrono::seconds(30);

class HttpContext : public ScriptingContext {
 public:
  HttpContext(std::shared_ptr<HttpResponse> response,
              std::shared_ptr<HttpRequest> request,
              std::shared_ptr<Server> server,
              std::shared_ptr<Application> application,
              std::shared_ptr<HttpSession> session)
      : response_(std::move(response)),
        request_(std::move(request)),
        server_(std::move(server)),
        application_(std::move(application)),
        session_(std::move(session)) {}

  std::shared_ptr<Response> response() const override { return response_; }
  std::shared_ptr<Request> request() const override { return request_; }
  std::shared_ptr<Server> server() const override { return server_; }
  std::shared_ptr<Application> application() const override {
    return application_;
  }
  std::shared_ptr<Session> session() const override { return session_; }

 private:
  std::shared_ptr<HttpResponse> response_;
  std::shared_ptr<HttpRequest> request_;
  std::shared_ptr<Server> server_;
  std::shared_ptr<Application> application_;
  std::shared_ptr<HttpSession> session_;
};

class PageRun : public HttpPage {
 public:
  PageRun(host::ConnectionPool& pool, std::shared_ptr<HttpRequest> request,
          host::SessionScope& scope, std::shared_ptr<Server> server,
          std::shared_ptr<Application> application, bool https)
      : pool_(pool),
        scope_(scope),
        request_(std::move(request)),
        response_(std::make_shared<HttpResponse>()),
        session_(scope.session()),
        context_(std::make_shared<HttpContext>(
            response_, request_, std::move(server), std::move(application),
            session_)),
        https_(https) {}

  HttpRequest& request() override { return *request_; }
  HttpResponse& response() override { return *response_; }
  HttpSession& session() override { return *session_; }
  std::shared_ptr<ScriptingContext> context() override { return context_; }
  bool https() const override { return https_; }
  SessionStore* session_store() override { return &scope_.store(); }
  std::string session_key() const override { return scope_.key(); }
  std::optional<int64_t> rights_version() const override {
    return scope_.rights_version();
  }
  void SignedIn(SessionHolder holder) override {
    scope_.SignedIn(std::move(holder));
  }

  std::shared_ptr<Connection> connection() override {
    if (!conn_) conn_ = pool_.Acquire();
    return conn_;
  }

  std::shared_ptr<Component> CreateObject(std::string_view progid) override {
    std::shared_ptr<Component> object = wrenhaven::CreateObject(progid);
    if (object->FindMethod("OnStartPage") != nullptr) {
      std::vector<Variant> args{Variant::FromObject(context_)};
      object->Invoke("OnStartPage", args);
    }
    objects_.push_back(object);
    return object;
  }

  // Calls OnEndPage on the objects, newest first, and lets them go; the
  // connection goes back to the pool after a page that went well. Raises
  // the first OnEndPage failure once every object has been ended.
  void Finish(bool page_ok) {
    std::optional<Error> failure;
    for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) {
      if ((*it)->FindMethod("OnEndPage") == nullptr) continue;
      try {
        std::vector<Variant> none;
        (*it)->Invoke("OnEndPage", none);
      } catch (const Error& e) {
        if (!failure) failure = e;
      }
    }
    objects_.clear();
    if (page_ok && !failure) {
      pool_.Release(std::move(conn_));
    } else {
      pool_.Discard(std::move(conn_));
    }
    if (failure) throw *failure;
  }

  ~PageRun() override { pool_.Discard(std::move(conn_)); }

  const std::shared_ptr<HttpResponse>& response_ptr() const {
    return response_;
  }

 private:
  host::ConnectionPool& pool_;
  host::SessionScope& scope_;
  std::shared_ptr<HttpRequest> request_;
  std::shared_ptr<HttpResponse> response_;
  std::shared_ptr<HttpSession> session_;
  std::shared_ptr<HttpContext> context_;
  std::shared_ptr<Connection> conn_;
  std::vector<std::shared_ptr<Component>> objects_;
  bool https_;
};

constexpr auto kHealthLimit = std::chrono::seconds(1);

struct Page {
  PageHandler handler;
  PageKind kind = PageKind::kOther;
};

// cpp-httplib 0.11 listens with a backlog of 5: a burst of browsers
// connecting at once (each opens several connections) overflows it, and
// the kernel drops connections that were already under way. Listening
// again on the bound socket widens the queue.
//
// The library accepts; every accepted socket then goes to the front door
// (host/front_door.h), which hands complete requests back to Serve on one
// of its workers.
class Listener : public httplib::Server {
 public:
  bool WidenBacklog(int backlog) {
    const socket_t sock = svr_sock_;
    return sock != INVALID_SOCKET && ::listen(sock, backlog) == 0;
  }
  void set_door(host::FrontDoor* door) { door_ = door; }
  bool Serve(httplib::Stream& stream, bool last, bool& closed) {
    return process_request(stream, last, closed, nullptr);
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    door_->Admit(sock);
    return true;
  }

  host::FrontDoor* door_ = nullptr;
};

// Runs each accepted socket's hand-over at once, on the accepting thread:
// handing over only queues the socket.
class HandOver : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

host::DoorLimits LimitsOf(const HttpHostOptions& o) {
  host::DoorLimits limits;
  const auto seconds = [](int n) {
    return std::chrono::milliseconds(std::chrono::seconds(n > 0 ? n : 1));
  };
  limits.head_deadline = seconds(o.head_seconds);
  limits.keep_alive = seconds(o.keep_alive_seconds);
  limits.io_timeout = seconds(o.io_seconds);
  limits.max_head_bytes = o.max_head_bytes;
  limits.max_header_line = o.max_header_line;
  limits.max_headers = o.max_headers;
  limits.max_body_bytes = o.max_body_bytes;
  limits.max_connections = o.max_connections;
  limits.max_per_address = o.max_connections_per_address;
  limits.keep_alive_requests = static_cast<size_t>(
      o.keep_alive_requests > 0 ? o.keep_alive_requests : 1);
  limits.workers = static_cast<size_t>(o.workers > 0 ? o.workers : 1);
  limits.unlimited_peers = o.trusted_proxies;
  return limits;
}

std::unique_ptr<host::TlsContext> TlsOf(const HttpHostOptions& o) {
  if (o.tls_cert_file.empty() && o.tls_key_file.empty()) return nullptr;
  if (o.tls_cert_file.empty() || o.tls_key_file.empty()) {
    Raise(ErrorCode::kHost,
          "HTTPS needs both a certificate file and a key file");
  }
  return std::make_unique<host::TlsContext>(o.tls_cert_file, o.tls_key_file);
}

}  // namespace

struct HttpHost::Impl {
  Impl(HttpHostOptions opts, ConnectionFactory connections,
       std::unique_ptr<SessionStore> store)
      : options(std::move(opts)),
        factory(connections),
        pool(connections, options.database_connections, options.database_wait),
        sessions(store ? std::move(store)
                       : MakeMemorySessionStore(
                             options.session_limits, &SessionClock::now,
                             MakeSignOutRecorder(connections))),
        statics(options.static_dir),
        application(std::make_shared<Application>()),
        server_object(std::make_shared<Server>()),
        traffic(metrics),
        health(factory, kHealthLimit) {
    host::AddHostGauges(metrics, *sessions, pool);
  }

  void Handle(const httplib::Request& req, httplib::Response& res);
  void ServeStatic(const httplib::Request& req, httplib::Response& res,
                   std::string_view relative);
  // /healthz and /metrics, for the clients allowed to see them.
  void ServeMonitor(const httplib::Request& req,
                    const host::ClientOrigin& origin, httplib::Response& res,
                    std::optional<host::Failure>& failure);
  void WriteLogLine(const httplib::Request& req,
                    const host::ClientOrigin& origin,
                    const httplib::Response& res, PageKind kind,
                    std::chrono::system_clock::time_point arrived,
                    std::chrono::nanoseconds took,
                    const std::optional<host::Failure>& failure) const;
  // Runs a page with its request, session and connection and answers with
  // what it left; `failure` is set when it failed.
  void RunPage(const PageHandler& handler, const httplib::Request& req,
               const host::ClientOrigin& origin, httplib::Response& res,
               std::optional<host::Failure>& failure);
  const Page* FindPage(const std::string& path) const;
  // Until Stop: ends the run-out sessions every kSweepEvery, so that their
  // sign-out is recorded even when nobody asks for them.
  void SweepSessions();

  HttpHostOptions options;
  ConnectionFactory factory;  // the pool's, for the health check too
  host::ConnectionPool pool;
  std::unique_ptr<SessionStore> sessions;
  host::StaticFiles statics;
  std::shared_ptr<Application> application;
  std::shared_ptr<Server> server_object;
  std::vector<std::pair<std::string, Page>> exact;
  std::vector<std::pair<std::string, Page>> prefixes;
  std::function<bool(HttpPage&)> monitor_gate;
  Metrics metrics;
  host::Traffic traffic;
  host::HealthCheck health;

  Listener server;
  // Declared after the server: the door's workers run its requests, and go
  // first.
  std::unique_ptr<host::TlsContext> tls;
  std::unique_ptr<host::FrontDoor> door;
  std::atomic<int> port{0};
  std::atomic<bool> run_entered{false};
  std::atomic<bool> run_returned{false};
  std::atomic<bool> stop_requested{false};
  std::mutex sweep_mutex;
  std::condition_variable sweep_wake;
  bool sweep_stop = false;
};

void HttpHost::Impl::SweepSessions() {
  std::unique_lock<std::mutex> lock(sweep_mutex);
  while (
      !sweep_wake.wait_for(lock, kSweepEvery, [this] { return sweep_stop; })) {
    lock.unlock();
    try {
      sessions->Sweep();
    } catch (const std::exception& e) {
      spdlog::error("Run-out sessions could not be ended: {}",
                    host::LogSafe(e.what()));
    }
    lock.lock();
  }
}

const Page* HttpHost::Impl::FindPage(const std::string& path) const {
  for (const auto& [p, page] : exact) {
    if (p == path) return &page;
  }
  const Page* best = nullptr;
  size_t best_length = 0;
  for (const auto& [p, page] : prefixes) {
    if (path.compare(0, p.size(), p) == 0 && p.size() >= best_length) {
      best = &page;
      best_length = p.size();
    }
  }
  return best;
}

void HttpHost::Impl::ServeStatic(const httplib::Request& req,
                                 httplib::Response& res,
                                 std::string_view relative) {
  const host::StaticFiles::Found file = statics.Find(relative);
  if (req.method != "GET" && req.method != "HEAD") {
    host::AnswerPlain(405, "Method not allowed",
                      "Files are only fetched with GET.", res);
    res.set_header("Allow", "GET, HEAD");
  } else if (!file) {
    host::AnswerPlain(404, "Not found", "There is no such file.", res);
  } else {
    host::StaticFiles::Answer(file, req, res);
  }
  // cpp-httplib compresses text answers again (with brotli or gzip) when
  // the request's Accept-Encoding allows it, whatever Content-Encoding the
  // answer already has; it reads the header only after this handler. The
  // request it hands over is its own, not a constant, so the header may be
  // dropped here: a static answer goes out exactly as chosen above.
  const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
}

void HttpHost::Impl::ServeMonitor(const httplib::Request& req,
                                  const host::ClientOrigin& origin,
                                  httplib::Response& res,
                                  std::optional<host::Failure>& failure) {
  if (req.method != "GET" && req.method != "HEAD") {
    host::AnswerPlain(405, "Method not allowed",
                      "This address is only read with GET.", res);
    res.set_header("Allow", "GET, HEAD");
    return;
  }
  const bool health_asked = req.path == options.health_path;
  // What the endpoint answers, made only for those allowed to see it.
  const auto answer = [this, health_asked](auto&& write) {
    if (health_asked) {
      const host::HealthCheck::Result result = health.Run();
      write(result.healthy ? 200 : 503, "application/json",
            host::HealthCheck::Json(result));
    } else {
      write(200, std::string(Metrics::kContentType), metrics.Text());
    }
  };
  bool allowed = host::IsLoopback(origin.address);
  for (const std::string& address : options.monitor_addresses) {
    allowed = allowed || address == origin.address;
  }
  if (allowed) {
    answer([&res](int status, const std::string& type, std::string body) {
      res.status = status;
      res.set_header("Cache-Control", "no-store");
      res.set_content(body, type);
    });
    return;
  }
  if (!monitor_gate) {
    host::AnswerPlain(403, "Forbidden",
                      "This address is open to the operators only.", res);
    return;
  }
  // Anyone else is a visitor, whose session decides.
  const PageHandler gated = [&](HttpPage& page) {
    HttpResponse& out = page.response();
    if (!monitor_gate(page)) {
      out.SetStatus(403);
      out.SetContentType("text/plain; charset=utf-8");
      out.Write("This address is open to the operators only.\n");
      return;
    }
    answer([&out](int status, const std::string& type, std::string body) {
      out.SetStatus(status);
      out.SetContentType(type);
      out.Write(body);
    });
  };
  RunPage(gated, req, origin, res, failure);
}

void HttpHost::Impl::RunPage(const PageHandler& handler,
                             const httplib::Request& req,
                             const host::ClientOrigin& origin,
                             httplib::Response& res,
                             std::optional<host::Failure>& failure) {
  std::shared_ptr<HttpRequest> request = host::BuildRequest(req, origin);
  if (!host::HoldsOnlyText(*request)) {
    host::AnswerPlain(400, "Bad request",
                      "The request holds text that is not UTF-8", res);
    return;
  }
  host::SessionScope scope(*sessions, options.session_cookie,
                           request->items(Request::Collection::kCookies));
  PageRun page(pool, std::move(request), scope, server_object, application,
               origin.https);
  std::exception_ptr error;
  try {
    handler(page);
  } catch (...) {
    error = std::current_exception();
  }
  try {
    page.Finish(!error);
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  const std::optional<std::string> session_cookie =
      scope.Close(!error, origin.https);
  if (error) {
    failure = host::FailureOf(error);
    host::AnswerFailure(*failure, res);
  } else {
    host::AnswerPage(page.response(), session_cookie, origin.https, res);
  }
}

void HttpHost::Impl::Handle(const httplib::Request& req,
                            httplib::Response& res) {
  const auto started = std::chrono::steady_clock::now();
  const auto arrived = std::chrono::system_clock::now();
  const host::ClientOrigin origin =
      host::OriginOf(req, options.trusted_proxies, tls != nullptr);
  std::optional<host::Failure> failure;
  PageKind kind = PageKind::kOther;
  try {
    const std::string& prefix = options.static_prefix;
    const Page* page = nullptr;
    if (!prefix.empty() && req.path.compare(0, prefix.size(), prefix) == 0) {
      kind = PageKind::kStatic;
      ServeStatic(req, res, std::string_view(req.path).substr(prefix.size()));
    } else if ((!options.health_path.empty() &&
                req.path == options.health_path) ||
               (!options.metrics_path.empty() &&
                req.path == options.metrics_path)) {
      ServeMonitor(req, origin, res, failure);
    } else if ((page = FindPage(req.path)) == nullptr) {
      host::AnswerPlain(404, "Not found", "There is no page at this address.",
                        res);
    } else {
      kind = page->kind;
      RunPage(page->handler, req, origin, res, failure);
    }
  } catch (...) {
    failure = host::FailureOf(std::current_exception());
    res = httplib::Response();
    host::AnswerFailure(*failure, res);
  }
  host::AddSecurityHeaders(res);

  const auto took = std::chrono::steady_clock::now() - started;
  traffic.Record(kind, res.status, took);
  if (options.log_requests) {
    WriteLogLine(req, origin, res, kind, arrived, took, failure);
  }
  if (failure) {
    spdlog::error("{} \"{} {}\" failed, reference {}: {}", origin.address,
                  req.method, host::LogSafe(req.path), failure->reference,
                  host::LogSafe(failure->text));
  }
}

void HttpHost::Impl::WriteLogLine(
    const httplib::Request& req, const host::ClientOrigin& origin,
    const httplib::Response& res, PageKind kind,
    std::chrono::system_clock::time_point arrived,
    std::chrono::nanoseconds took,
    const std::optional<host::Failure>& failure) const {
  host::RequestRecord record;
  record.time = arrived;
  record.client = origin.address;
  record.method = req.method;
  record.target = req.target;
  record.version = req.version;
  record.status = res.status;
  record.bytes = req.method == "HEAD" ? 0 : res.body.size();
  const std::string referer = req.get_header_value("Referer");
  const std::string agent = req.get_header_value("User-Agent");
  record.referer = referer;
  record.user_agent = agent;
  record.duration = std::chrono::duration_cast<std::chrono::microseconds>(took);
  record.kind = kind;
  if (failure) record.reference = failure->reference;
  // A form's values never reach the log: a post's query string is left out
  // as the sign-in page's is.
  record.query = options.log_query_strings && req.method != "POST" &&
                 kind != PageKind::kSignIn;
  const std::string line = host::LogLine(options.log_format, record);
  if (options.log_writer) {
    options.log_writer(line);
  } else {
    spdlog::info("{}", line);
  }
}

namespace {

const HttpHostOptions& Checked(const HttpHostOptions& options) {
  if (!host::IsToken(options.session_cookie)) {
    Raise(ErrorCode::kHost, "The session cookie's name must be an HTTP token");
  }
  for (const std::string& address : options.monitor_addresses) {
    if (!host::IsIpAddress(address)) {
      Raise(ErrorCode::kHost,
            "A client allowed to the operators' endpoints "
            "must be given by its IP address");
    }
  }
  return options;
}

}  // namespace

HttpHost::HttpHost(HttpHostOptions options, ConnectionFactory connections,
                   std::unique_ptr<SessionStore> sessions)
    : impl_(std::make_unique<Impl>(Checked(options), std::move(connections),
                                   std::move(sessions))) {
  Impl& impl = *impl_;
  impl.tls = TlsOf(impl.options);
  impl.door = std::make_unique<host::FrontDoor>(
      LimitsOf(impl.options),
      [&impl](httplib::Stream& stream, bool last, bool& closed) {
        return impl.server.Serve(stream, last, closed);
      },
      impl.tls ? impl.tls->get() : nullptr);
  impl.server.set_door(impl.door.get());
  impl.server.new_task_queue = [] { return new HandOver(); };
  impl.server.set_tcp_nodelay(true);
  impl.server.set_keep_alive_timeout(impl.options.keep_alive_seconds);
  impl.server.set_keep_alive_max_count(
      static_cast<size_t>(impl.options.keep_alive_requests));
  impl.server.set_payload_max_length(impl.options.max_body_bytes);
  const auto handle = [&impl](const httplib::Request& req,
                              httplib::Response& res) {
    impl.Handle(req, res);
  };
  // Every path, line breaks included, comes to Handle.
  impl.server.Get("[\\s\\S]*", handle);
  impl.server.Post("[\\s\\S]*", handle);
  // The answers cpp-httplib gives itself (another method, a request line it
  // cannot read) carry the security headers too.
  impl.server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
        host::AddSecurityHeaders(res);
        return httplib::Server::HandlerResponse::Unhandled;
      }));
}

HttpHost::~HttpHost() { Stop(); }

void HttpHost::AddPage(std::string path, PageHandler handler, PageKind kind) {
  impl_->exact.emplace_back(std::move(path), Page{std::move(handler), kind});
}

void HttpHost::AddPages(std::string prefix, PageHandler handler,
                        PageKind kind) {
  impl_->prefixes.emplace_back(std::move(prefix),
                               Page{std::move(handler), kind});
}

void HttpHost::SetMonitorGate(std::function<bool(HttpPage&)> gate) {
  impl_->monitor_gate = std::move(gate);
}

Metrics& HttpHost::metrics() { return impl_->metrics; }

std::vector<std::pair<std::string, std::string>> HttpHost::StaticAddresses()
    const {
  std::vector<std::pair<std::string, std::string>> out =
      impl_->statics.Fingerprints();
  for (auto& [name, address] : out) {
    address = impl_->options.static_prefix + address;
  }
  return out;
}

int HttpHost::Bind() {
  Impl& impl = *impl_;
  if (impl.port != 0) return impl.port;
  const std::string& address = impl.options.address;
  int bound = -1;
  if (impl.options.port == 0) {
    bound = impl.server.bind_to_any_port(address);
  } else if (impl.server.bind_to_port(address, impl.options.port)) {
    bound = impl.options.port;
  }
  if (bound <= 0 || !impl.server.WidenBacklog(SOMAXCONN)) {
    Raise(ErrorCode::kHost, "Cannot listen on " + address + ":" +
                                std::to_string(impl.options.port));
  }
  impl.port = bound;
  return bound;
}

void HttpHost::Run() {
  Impl& impl = *impl_;
  if (impl.port == 0) Bind();
  impl.door->Start();
  impl.run_entered = true;
  {
    std::lock_guard<std::mutex> lock(impl.sweep_mutex);
    impl.sweep_stop = false;
  }
  std::thread sweeper([&impl] { impl.SweepSessions(); });
  if (!impl.stop_requested) impl.server.listen_after_bind();
  impl.door->Stop();
  {
    std::lock_guard<std::mutex> lock(impl.sweep_mutex);
    impl.sweep_stop = true;
  }
  impl.sweep_wake.notify_all();
  sweeper.join();
  impl.run_returned = true;
}

void HttpHost::Stop() {
  Impl& impl = *impl_;
  impl.stop_requested = true;
  if (!impl.run_entered) return;
  // Run may be between its check and the start of listening.
  while (!impl.run_returned && !impl.server.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  impl.server.stop();
}

int HttpHost::port() const { return impl_->port; }

}  // namespace wrenhaven
