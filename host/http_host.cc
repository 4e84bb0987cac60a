// The HTTP page host: one handler for every request, which serves static
// files or runs the page registered for the path with its page objects,
// session and connection, and answers with the page's buffered output, a
// redirect or the error page.
#include "wrenhaven/http_host.h"

#include <httplib.h>
#include <spdlog/spdlog.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "host/connection_pool.h"
#include "host/origin.h"
#include "host/sessions.h"
#include "host/static_files.h"
#include "host/wire.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

using host::HtmlEscape;

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
          std::shared_ptr<HttpSession> session, std::shared_ptr<Server> server,
          std::shared_ptr<Application> application, bool https)
      : pool_(pool),
        request_(std::move(request)),
        response_(std::make_shared<HttpResponse>()),
        session_(std::move(session)),
        context_(std::make_shared<HttpContext>(
            response_, request_, std::move(server), std::move(application),
            session_)),
        https_(https) {}

  HttpRequest& request() override { return *request_; }
  HttpResponse& response() override { return *response_; }
  HttpSession& session() override { return *session_; }
  std::shared_ptr<ScriptingContext> context() override { return context_; }
  bool https() const override { return https_; }

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
    }
    conn_.reset();
    if (failure) throw *failure;
  }

  const std::shared_ptr<HttpResponse>& response_ptr() const {
    return response_;
  }

 private:
  host::ConnectionPool& pool_;
  std::shared_ptr<HttpRequest> request_;
  std::shared_ptr<HttpResponse> response_;
  std::shared_ptr<HttpSession> session_;
  std::shared_ptr<HttpContext> context_;
  std::shared_ptr<Connection> conn_;
  std::vector<std::shared_ptr<Component>> objects_;
  bool https_;
};

// Control characters in a logged path would forge log lines.
std::string LogSafe(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string PlainPage(std::string_view title, std::string_view message) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
         HtmlEscape(title) +
         "</title><style>body{font:15px/1.5 system-ui,sans-serif;margin:3em "
         "auto;max-width:40em;color:#222}h1{font-size:1.3em}"
         "p.detail{background:#f6f6f6;border-left:4px solid #b33;padding:"
         ".6em 1em;white-space:pre-wrap}</style></head><body><h1>" +
         HtmlEscape(title) + "</h1><p class=\"detail\">" + HtmlEscape(message) +
         "</p><p><a href=\"/\" target=\"_top\">Sign-in page</a></p>"
         "</body></html>\n";
}

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Raise(ErrorCode::kHost, "Cannot read " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// cpp-httplib 0.11 listens with a backlog of 5: a burst of browsers
// connecting at once (each opens several connections) overflows it, and
// the kernel drops connections that were already under way. Listening
// again on the bound socket widens the queue.
class Listener : public httplib::Server {
 public:
  bool WidenBacklog(int backlog) {
    const socket_t sock = svr_sock_;
    return sock != INVALID_SOCKET && ::listen(sock, backlog) == 0;
  }
};

}  // namespace

struct HttpHost::Impl {
  Impl(HttpHostOptions opts, ConnectionFactory connections,
       std::unique_ptr<SessionStore> store)
      : options(std::move(opts)),
        pool(std::move(connections),
             static_cast<size_t>(options.workers > 0 ? options.workers : 1)),
        sessions(store ? std::move(store)
                       : MakeMemorySessionStore(options.session_limits)),
        statics(options.static_dir),
        application(std::make_shared<Application>()),
        server_object(std::make_shared<Server>()) {}

  void Handle(const httplib::Request& req, httplib::Response& res);
  void ServeStatic(const httplib::Request& req, httplib::Response& res,
                   std::string_view relative);
  const PageHandler* FindPage(const std::string& path) const;
  std::shared_ptr<HttpRequest> BuildRequest(const httplib::Request& req,
                                            const host::ClientOrigin& origin);
  std::string SessionCookie(const std::string& value, bool https,
                            bool expire) const;

  HttpHostOptions options;
  host::ConnectionPool pool;
  std::unique_ptr<SessionStore> sessions;
  host::StaticFiles statics;
  std::shared_ptr<Application> application;
  std::shared_ptr<Server> server_object;
  std::vector<std::pair<std::string, PageHandler>> exact;
  std::vector<std::pair<std::string, PageHandler>> prefixes;

  Listener server;
  std::atomic<int> port{0};
  std::atomic<bool> run_entered{false};
  std::atomic<bool> run_returned{false};
  std::atomic<bool> stop_requested{false};
};

const PageHandler* HttpHost::Impl::FindPage(const std::string& path) const {
  for (const auto& [p, handler] : exact) {
    if (p == path) return &handler;
  }
  const PageHandler* best = nullptr;
  size_t best_length = 0;
  for (const auto& [p, handler] : prefixes) {
    if (path.compare(0, p.size(), p) == 0 && p.size() >= best_length) {
      best = &handler;
      best_length = p.size();
    }
  }
  return best;
}

std::shared_ptr<HttpRequest> HttpHost::Impl::BuildRequest(
    const httplib::Request& req, const host::ClientOrigin& origin) {
  const size_t question = req.target.find('?');
  const std::string query_string =
      question == std::string::npos ? "" : req.target.substr(question + 1);

  std::vector<HttpItem> form;
  const std::string content_type = req.get_header_value("Content-Type");
  if (req.method == "POST") {
    if (content_type.rfind("application/x-www-form-urlencoded", 0) == 0) {
      form = host::ParseUrlEncoded(req.body);
    } else if (req.is_multipart_form_data()) {
      for (const auto& [name, part] : req.files) {
        if (part.filename.empty()) form.push_back({part.name, part.content});
      }
    }
  }

  std::vector<HttpItem> cookies;
  const size_t cookie_headers = req.get_header_value_count("Cookie");
  for (size_t i = 0; i < cookie_headers; ++i) {
    for (HttpItem& item :
         host::ParseCookieHeader(req.get_header_value("Cookie", i))) {
      cookies.push_back(std::move(item));
    }
  }

  std::string server_name = req.get_header_value("Host");
  if (!server_name.empty() && server_name.front() == '[') {
    server_name = server_name.substr(0, server_name.find(']') + 1);
  } else {
    server_name = server_name.substr(0, server_name.find(':'));
  }
  if (server_name.empty()) server_name = req.local_addr;

  std::vector<HttpItem> vars = {
      {"REQUEST_METHOD", req.method},
      {"REMOTE_ADDR", origin.address},
      {"REMOTE_HOST", origin.address},
      {"QUERY_STRING", query_string},
      {"PATH_INFO", req.path},
      {"SCRIPT_NAME", req.path},
      {"URL", req.path},
      {"SERVER_NAME", server_name},
      {"SERVER_PORT", std::to_string(req.local_port)},
      {"SERVER_PROTOCOL", req.version},
      {"LOCAL_ADDR", req.local_addr},
      {"HTTPS", origin.https ? "on" : "off"},
      {"CONTENT_TYPE", content_type},
      {"CONTENT_LENGTH", std::to_string(req.body.size())},
  };
  for (const auto& [name, value] : req.headers) {
    const std::string var = host::HeaderVariableName(name);
    bool seen = false;
    for (HttpItem& item : vars) {
      if (item.name == var) {
        item.value += ", " + value;
        seen = true;
        break;
      }
    }
    if (!seen) vars.push_back({var, value});
  }
  return std::make_shared<HttpRequest>(
      req.method, req.path, host::ParseUrlEncoded(query_string),
      std::move(form), std::move(cookies), std::move(vars));
}

std::string HttpHost::Impl::SessionCookie(const std::string& value, bool https,
                                          bool expire) const {
  std::string header = options.session_cookie + "=" + value + "; Path=/";
  if (expire) header += "; Max-Age=0";
  header += "; HttpOnly; SameSite=Lax";
  if (https) header += "; Secure";
  return header;
}

void HttpHost::Impl::ServeStatic(const httplib::Request& req,
                                 httplib::Response& res,
                                 std::string_view relative) {
  const auto file = statics.Resolve(relative);
  if (req.method != "GET" && req.method != "HEAD") {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content(
        PlainPage("Method not allowed", "Files are only fetched with GET."),
        "text/html; charset=utf-8");
  } else if (!file) {
    res.status = 404;
    res.set_content(PlainPage("Not found", "There is no such file."),
                    "text/html; charset=utf-8");
  } else {
    res.status = 200;
    res.set_header("Cache-Control", "public, max-age=300");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(ReadWholeFile(*file),
                    host::StaticFiles::ContentType(*file));
  }
}

void HttpHost::Impl::Handle(const httplib::Request& req,
                            httplib::Response& res) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> forwarded_for;
  const size_t xff = req.get_header_value_count("X-Forwarded-For");
  for (size_t i = 0; i < xff; ++i) {
    forwarded_for.push_back(req.get_header_value("X-Forwarded-For", i));
  }
  const host::ClientOrigin origin = host::ResolveClient(
      req.remote_addr, forwarded_for, req.get_header_value("X-Forwarded-Proto"),
      options.trusted_proxies);
  std::string failure;

  try {
    const std::string& prefix = options.static_prefix;
    const PageHandler* page_handler = nullptr;
    if (!prefix.empty() && req.path.compare(0, prefix.size(), prefix) == 0) {
      ServeStatic(req, res, std::string_view(req.path).substr(prefix.size()));
    } else if ((page_handler = FindPage(req.path)) == nullptr) {
      res.status = 404;
      res.set_content(
          PlainPage("Not found", "There is no page at this address."),
          "text/html; charset=utf-8");
    } else {
      // The visitor's session, when the cookie names a live one.
      std::string session_id;
      std::optional<SessionStore::Entry> stored;
      bool cookie_sent = false;
      for (const HttpItem& c :
           host::ParseCookieHeader(req.get_header_value("Cookie"))) {
        if (c.name != options.session_cookie) continue;
        cookie_sent = true;
        if (host::IsSessionId(c.value) && (stored = sessions->Load(c.value))) {
          session_id = c.value;
        }
        break;
      }
      auto session = std::make_shared<HttpSession>(
          stored ? std::move(stored->values)
                 : std::vector<std::pair<std::string, Variant>>{});

      PageRun page(pool, BuildRequest(req, origin), session, server_object,
                   application, origin.https);
      bool ok = true;
      try {
        (*page_handler)(page);
      } catch (const std::bad_alloc&) {
        ok = false;
        failure = "Out of memory";
      } catch (const std::exception& e) {
        ok = false;
        failure = e.what();
      }
      try {
        page.Finish(ok);
      } catch (const std::exception& e) {
        if (ok) failure = e.what();
        ok = false;
      }

      // What the page did to the session is kept, even when it failed
      // part way.
      if (session->abandoned()) {
        if (!session_id.empty()) sessions->Remove(session_id);
        if (cookie_sent) {
          res.set_header("Set-Cookie", SessionCookie("", origin.https, true));
        }
      } else if (session->renew_requested() ||
                 (session_id.empty() && session->modified())) {
        if (!session_id.empty()) sessions->Remove(session_id);
        const std::string fresh = host::NewSessionId();
        sessions->Save(
            fresh, SessionStore::Entry{session->values(), SessionClock::now()});
        res.set_header("Set-Cookie", SessionCookie(fresh, origin.https, false));
      } else if (session->modified()) {
        sessions->Save(session_id,
                       SessionStore::Entry{session->values(), stored->created});
      }

      HttpResponse& out = page.response();
      for (const HttpResponse::Cookie& c : out.cookies()) {
        res.set_header("Set-Cookie", host::PageCookieHeader(c, origin.https));
      }
      if (ok) {
        for (const auto& [name, value] : out.headers()) {
          res.set_header(name, value);
        }
      }
      res.set_header("Cache-Control", "no-store");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("X-Frame-Options", "SAMEORIGIN");
      res.set_header("Referrer-Policy", "same-origin");
      if (!ok) {
        res.status = 500;
        res.set_content(PlainPage("The page could not be shown", failure),
                        "text/html; charset=utf-8");
      } else if (out.redirect()) {
        res.status = 302;
        res.set_header("Location", host::SafeLocation(*out.redirect()));
      } else {
        res.status = out.status();
        const std::string& type = out.content_type();
        res.set_content(out.output(),
                        HasLineBreak(type) ? "text/html; charset=utf-8" : type);
      }
    }
  } catch (const std::exception& e) {
    failure = e.what();
    res = httplib::Response();
    res.status = 500;
    res.set_content(PlainPage("The page could not be shown", failure),
                    "text/html; charset=utf-8");
  }

  if (options.log_requests) {
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    spdlog::info("{} \"{} {}\" {} {} {:.1f}ms", origin.address, req.method,
                 LogSafe(req.path), res.status, res.body.size(), ms);
  }
  if (!failure.empty()) {
    spdlog::error("{} \"{} {}\" failed: {}", origin.address, req.method,
                  LogSafe(req.path), LogSafe(failure));
  }
}

HttpHost::HttpHost(HttpHostOptions options, ConnectionFactory connections,
                   std::unique_ptr<SessionStore> sessions)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(connections),
                                   std::move(sessions))) {
  Impl& impl = *impl_;
  const size_t workers =
      static_cast<size_t>(impl.options.workers > 0 ? impl.options.workers : 1);
  impl.server.new_task_queue = [workers] {
    return new httplib::ThreadPool(workers);
  };
  impl.server.set_tcp_nodelay(true);
  impl.server.set_keep_alive_timeout(impl.options.keep_alive_seconds);
  impl.server.set_keep_alive_max_count(
      static_cast<size_t>(impl.options.keep_alive_requests));
  impl.server.set_payload_max_length(impl.options.max_body_bytes);
  impl.server.set_read_timeout(10);
  impl.server.set_write_timeout(10);
  const auto handle = [&impl](const httplib::Request& req,
                              httplib::Response& res) {
    impl.Handle(req, res);
  };
  // Every path, line breaks included, comes to Handle.
  impl.server.Get("[\\s\\S]*", handle);
  impl.server.Post("[\\s\\S]*", handle);
}

HttpHost::~HttpHost() { Stop(); }

void HttpHost::AddPage(std::string path, PageHandler handler) {
  impl_->exact.emplace_back(std::move(path), std::move(handler));
}

void HttpHost::AddPages(std::string prefix, PageHandler handler) {
  impl_->prefixes.emplace_back(std::move(prefix), std::move(handler));
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
  impl.run_entered = true;
  if (!impl.stop_requested) impl.server.listen_after_bind();
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
