#include "tests/http/http_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace wrenhaven::testing {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TestHost::TestHost(HttpHostOptions options, ConnectionFactory connections,
                   const std::function<void(HttpHost&)>& add_pages,
                   std::unique_ptr<SessionStore> sessions) {
  options.address = "127.0.0.1";
  options.port = 0;
  options.workers = options.workers > 32 ? 32 : options.workers;
  host_ = std::make_unique<HttpHost>(std::move(options), std::move(connections),
                                     std::move(sessions));
  add_pages(*host_);
  port_ = host_->Bind();
  thread_ = std::thread([this] { host_->Run(); });
}

TestHost::~TestHost() {
  host_->Stop();
  thread_.join();
}

std::string Reply::Header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (SameName(n, name)) return v;
  }
  return "";
}

std::vector<std::string> Reply::All(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& [n, v] : headers) {
    if (SameName(n, name)) out.push_back(v);
  }
  return out;
}

std::string Reply::SetCookie(const std::string& cookie) const {
  for (const std::string& v : All("Set-Cookie")) {
    if (v.rfind(cookie + "=", 0) == 0) return v;
  }
  return "";
}

Browser::Browser(int port) : client_("127.0.0.1", port) {
  client_.set_keep_alive(false);
  client_.set_read_timeout(20, 0);
}

httplib::Headers Browser::WithCookies(const httplib::Headers& headers) const {
  httplib::Headers out = headers;
  std::string cookie;
  for (const auto& [name, value] : jar_) {
    if (!cookie.empty()) cookie += "; ";
    cookie += name + "=" + value;
  }
  if (!cookie.empty()) out.emplace("Cookie", cookie);
  return out;
}

Reply Browser::Keep(const httplib::Result& result) {
  if (!result) {
    throw std::runtime_error("no answer: " +
                             httplib::to_string(result.error()));
  }
  Reply reply{result->status, {}, result->body};
  for (const auto& [name, value] : result->headers) {
    reply.headers.emplace(name, value);
  }
  for (const std::string& set : reply.All("Set-Cookie")) {
    const size_t eq = set.find('=');
    const size_t semi = set.find(';');
    const std::string name = set.substr(0, eq);
    const std::string value = set.substr(eq + 1, semi - eq - 1);
    if (set.find("Max-Age=0") != std::string::npos) {
      jar_.erase(name);
    } else {
      jar_[name] = value;
    }
  }
  return reply;
}

Reply Browser::Get(const std::string& path, const httplib::Headers& headers) {
  return Keep(client_.Get(path.c_str(), WithCookies(headers)));
}

Reply Browser::Post(const std::string& path, const std::string& form,
                    const httplib::Headers& headers) {
  return Keep(client_.Post(path.c_str(), WithCookies(headers), form,
                           "application/x-www-form-urlencoded"));
}

std::string Browser::Cookie(const std::string& name) const {
  auto it = jar_.find(name);
  return it == jar_.end() ? "" : it->second;
}

namespace {

void SetReceiveTimeout(int fd, std::chrono::milliseconds wait) {
  timeval timeout{static_cast<time_t>(wait.count() / 1000),
                  static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

// A connection to the port of 127.0.0.1, from the loopback address `from`
// when one is given.
int Connect(int port, const std::string& from = "") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("no socket");
  if (!from.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (inet_pton(AF_INET, from.c_str(), &local.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd);
      throw std::runtime_error("cannot connect from " + from);
    }
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  SetReceiveTimeout(fd, std::chrono::seconds(20));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("cannot connect");
  }
  return fd;
}

void SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, 0);
    if (n <= 0) throw std::runtime_error("cannot send");
    sent += static_cast<size_t>(n);
  }
}

// Reads one answer: its headers, then Content-Length bytes (or to the end
// of the connection when it has none).
std::string ReadAnswer(int fd, std::string* pending) {
  std::string& buf = *pending;
  char chunk[4096];
  size_t head_end;
  while ((head_end = buf.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      std::string all = std::move(buf);
      buf.clear();
      return all;
    }
    buf.append(chunk, static_cast<size_t>(n));
  }
  const std::string head = buf.substr(0, head_end);
  const size_t cl = head.find("Content-Length: ");
  size_t want = std::string::npos;
  if (cl != std::string::npos) want = std::stoul(head.substr(cl + 16));
  // An interim answer (100 Continue) has no body.
  if (head.rfind("HTTP/1.1 1", 0) == 0) want = 0;
  const size_t total =
      want == std::string::npos ? std::string::npos : head_end + 4 + want;
  while (total == std::string::npos || buf.size() < total) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    buf.append(chunk, static_cast<size_t>(n));
  }
  const size_t cut = std::min(total, buf.size());
  std::string answer = buf.substr(0, cut);
  buf.erase(0, cut);
  return answer;
}

}  // namespace

std::string RawExchange(int port, const std::string& request) {
  return RawExchanges(port, {request}).at(0);
}

std::vector<std::string> RawExchanges(
    int port, const std::vector<std::string>& requests) {
  const int fd = Connect(port);
  std::vector<std::string> answers;
  std::string pending;
  try {
    for (const std::string& request : requests) {
      SendAll(fd, request);
      answers.push_back(ReadAnswer(fd, &pending));
    }
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
  return answers;
}

RawConnection::RawConnection(int port, const std::string& from)
    : fd_(Connect(port, from)) {}

RawConnection::~RawConnection() { close(fd_); }

bool RawConnection::Send(const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n =
        send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string RawConnection::Answer(std::chrono::milliseconds wait) {
  SetReceiveTimeout(fd_, wait);
  return ReadAnswer(fd_, &pending_);
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  char chunk[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    SetReceiveTimeout(fd_, std::max(left, std::chrono::milliseconds(1)));
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n == 0) return true;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return true;  // reset
    }
    if (n > 0) pending_.append(chunk, static_cast<size_t>(n));
  }
}

std::vector<std::string> HeaderLines(const std::string& raw) {
  std::vector<std::string> lines;
  const size_t end = raw.find("\r\n\r\n");
  size_t start = 0;
  while (start < end) {
    const size_t eol = raw.find("\r\n", start);
    lines.push_back(raw.substr(start, eol - start));
    start = eol + 2;
  }
  return lines;
}

std::string Form(
    const std::vector<std::pair<std::string, std::string>>& items) {
  std::string out;
  for (const auto& [name, value] : items) {
    if (!out.empty()) out += '&';
    out += httplib::detail::encode_query_param(name) + "=" +
           httplib::detail::encode_query_param(value);
  }
  return out;
}

std::string SignInBody(const std::string& name, const std::string& pwd) {
  return Form({{"LoginName", name},
               {"LoginPwd", pwd},
               {"Screen", "1280*800"},
               {"oldwin", "true"}});
}

}  // namespace wrenhaven::testing
