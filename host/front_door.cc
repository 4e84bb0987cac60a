#include "host/front_door.h"

#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "frame/text.h"
#include "host/content_policy.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxChunkLine = 4096;
constexpr size_t kMaxTrailers = 8192;
// After refusing a body, what the client still sends is read and dropped
// for a moment, so that closing does not reset the connection before the
// client has read the refusal.
constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr size_t kDrainBytes = 16u << 20;

// Calls `line` with each header line of `head` (request line and blank
// line excluded), each without its line break, in order. The head is read
// as the library reads it: lines end at LF, and the first line that is
// exactly CRLF ends the head.
template <class Fn>
void ForEachHeaderLine(std::string_view head, Fn&& line) {
  size_t pos = head.find('\n');
  if (pos == std::string_view::npos) return;
  ++pos;
  while (pos < head.size()) {
    const size_t lf = head.find('\n', pos);
    if (lf == std::string_view::npos) return;
    std::string_view text = head.substr(pos, lf - pos);
    pos = lf + 1;
    if (text == "\r") return;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    line(text);
  }
}

// The name of a header line (what stands before its colon), or "" when the
// line has none.
std::string_view NameOf(std::string_view line) {
  const size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view()
                                         : line.substr(0, colon);
}

std::string_view ValueOf(std::string_view line) {
  const size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view()
                                         : TrimBlanks(line.substr(colon + 1));
}

bool IsFraming(std::string_view name) {
  return EqualsIgnoreCase(name, "Content-Length") ||
         EqualsIgnoreCase(name, "Transfer-Encoding") ||
         EqualsIgnoreCase(name, "Expect");
}

const char* Reason(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 417:
      return "Expectation Failed";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

const char* Explanation(int status) {
  switch (status) {
    case 408:
      return "The request did not arrive in time.\n";
    case 413:
      return "The request's body is larger than this server accepts.\n";
    case 417:
      return "The request's expectation cannot be met.\n";
    case 431:
      return "The request's headers are larger than this server accepts.\n";
    case 503:
      return "Too many connections are open; please try again in a "
             "moment.\n";
    default:
      return "The request is malformed.\n";
  }
}

std::string RefusalText(int status) {
  const std::string body = Explanation(status);
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " +
                     Reason(status) +
                     "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                     "Content-Length: " +
                     std::to_string(body.size()) +
                     "\r\nConnection: close\r\nCache-Control: no-store\r\n"
                     "X-Content-Type-Options: nosniff\r\n"
                     "X-Frame-Options: SAMEORIGIN\r\n"
                     "Referrer-Policy: same-origin\r\n"
                     "Content-Security-Policy: " +
                     std::string(kContentSecurityPolicy) + "\r\n";
  if (status == 503) text += "Retry-After: 5\r\n";
  return text + "\r\n" + body;
}

void NumericAddress(const sockaddr_storage& address, socklen_t length,
                    std::string* ip, int* port) {
  char host[NI_MAXHOST] = "";
  char service[NI_MAXSERV] = "";
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host,
                  sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    *ip = host;
    *port = std::atoi(service);
  }
}

void BlockBrokenPipes() {
  // A write to a connection the client closed fails with EPIPE in the
  // door's threads instead of ending the process (TLS writes go through
  // write(), which has no flag for it).
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

constexpr ssize_t kWouldBlock = -1;
constexpr ssize_t kFailed = -2;

// One accepted connection, plain or TLS, its socket non-blocking.
struct Conn {
  Conn(int socket, SSL* tls) : fd(socket), ssl(tls) {}
  ~Conn() {
    if (ssl != nullptr) {
      // The closing alert, as far as the socket takes it at once.
      if (SSL_is_init_finished(ssl)) SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    ::close(fd);
  }
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  ssize_t Read(char* into, size_t size) {
    if (ssl == nullptr) {
      const ssize_t n = ::recv(fd, into, size, 0);
      if (n >= 0) return n;
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        wait_for = POLLIN;
        return kWouldBlock;
      }
      return kFailed;
    }
    ERR_clear_error();
    const int n =
        SSL_read(ssl, into, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : TlsOutcome(n);
  }

  ssize_t Write(const char* from, size_t size) {
    if (ssl == nullptr) {
      const ssize_t n = ::send(fd, from, size, MSG_NOSIGNAL);
      if (n >= 0) return n;
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        wait_for = POLLOUT;
        return kWouldBlock;
      }
      return kFailed;
    }
    ERR_clear_error();
    const int n =
        SSL_write(ssl, from, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : TlsOutcome(n);
  }

  ssize_t TlsOutcome(int n) {
    switch (SSL_get_error(ssl, n)) {
      case SSL_ERROR_WANT_READ:
        wait_for = POLLIN;
        return kWouldBlock;
      case SSL_ERROR_WANT_WRITE:
        wait_for = POLLOUT;
        return kWouldBlock;
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      default:
        return kFailed;
    }
  }

  // Decrypted bytes the TLS layer holds that a poll would not announce.
  bool Buffered() const { return ssl != nullptr && SSL_pending(ssl) > 0; }

  const int fd;
  SSL* const ssl;
  std::string peer;
  int peer_port = 0;
  std::string local;
  int local_port = 0;
  bool counted = false;  // counts against its peer's connections
  short wait_for = POLLIN;
  // Bytes received and not yet part of a request served.
  std::string buffer;
  Clock::time_point deadline;
  bool begun = false;  // a byte of the next request has arrived
  size_t served = 0;
  // Refused: what the client still sends is dropped until it closes or the
  // deadline passes.
  bool closing = false;
};

enum class Arrival { kGot, kEnded, kLate };

// Waits until `deadline` for more bytes and appends them to the buffer.
Arrival ReadMore(Conn& c, Clock::time_point deadline) {
  char chunk[16384];
  for (;;) {
    if (!c.Buffered()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now());
      if (left.count() <= 0) return Arrival::kLate;
      pollfd p{c.fd, c.wait_for, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Arrival::kEnded;
      if (ready == 0) continue;
    }
    const ssize_t n = c.Read(chunk, sizeof chunk);
    if (n > 0) {
      c.buffer.append(chunk, static_cast<size_t>(n));
      return Arrival::kGot;
    }
    if (n != kWouldBlock) return Arrival::kEnded;
  }
}

// Writes all of `data`, waiting until `deadline` for the socket to take it.
bool WriteAll(Conn& c, const char* data, size_t size,
              Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t n = c.Write(data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n != kWouldBlock) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{c.fd, c.wait_for, 0};
    if (::poll(&p, 1, static_cast<int>(left.count()) + 1) < 0 &&
        errno != EINTR) {
      return false;
    }
  }
  return true;
}

// The request as the library reads it, and the client's socket for the
// answer.
class DoorStream : public httplib::Stream {
 public:
  DoorStream(Conn& c, std::string request, std::chrono::milliseconds timeout)
      : c_(c), request_(std::move(request)), timeout_(timeout) {}

  using httplib::Stream::write;

  bool is_readable() const override { return position_ < request_.size(); }
  bool is_writable() const override { return !failed_; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, request_.size() - position_);
    std::memcpy(ptr, request_.data() + position_, n);
    position_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (failed_ || !WriteAll(c_, ptr, size, Clock::now() + timeout_)) {
      failed_ = true;
      return -1;
    }
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.peer;
    port = c_.peer_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.local;
    port = c_.local_port;
  }
  socket_t socket() const override { return c_.fd; }

  bool failed() const { return failed_; }

 private:
  Conn& c_;
  const std::string request_;
  const std::chrono::milliseconds timeout_;
  size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace

int ReadHeadFacts(const std::string& head, size_t max_body, HeadFacts* facts) {
  *facts = HeadFacts();
  int status = 0;
  int lengths = 0;
  bool has_coding = false;
  ForEachHeaderLine(head, [&](std::string_view line) {
    const std::string_view name = NameOf(line);
    const std::string_view value = ValueOf(line);
    if (status != 0) return;
    if (EqualsIgnoreCase(name, "Content-Length")) {
      ++lengths;
      if (value.empty() || value.size() > 19 ||
          value.find_first_not_of("0123456789") != std::string_view::npos) {
        status = 400;
        return;
      }
      facts->has_length = true;
      facts->length = std::stoull(std::string(value));
    } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      if (has_coding || !EqualsIgnoreCase(value, "chunked")) {
        status = 400;
        return;
      }
      has_coding = true;
      facts->chunked = true;
    } else if (EqualsIgnoreCase(name, "Expect")) {
      if (!EqualsIgnoreCase(value, "100-continue")) {
        status = 417;
        return;
      }
      facts->expects_continue = true;
    }
  });
  if (status != 0) return status;
  if (lengths > 1 || (facts->chunked && facts->has_length)) return 400;
  if (facts->has_length && facts->length > max_body) return 413;
  return 0;
}

size_t HeadEnd(const std::string& bytes, const DoorLimits& limits,
               int* refusal) {
  *refusal = 0;
  size_t pos = 0;
  size_t lines = 0;
  while (pos < bytes.size()) {
    const size_t lf = bytes.find('\n', pos);
    const size_t length = (lf == std::string::npos ? bytes.size() : lf) - pos;
    // A line's bytes, its CR and LF included, as the library counts them.
    if (length >= limits.max_header_line) {
      *refusal = 431;
      return 0;
    }
    if (lf == std::string::npos) break;
    if (lines > 0 && length == 1 && bytes[pos] == '\r') {
      if (lf + 1 > limits.max_head_bytes) {
        *refusal = 431;
        return 0;
      }
      return lf + 1;
    }
    // The request line and each header line.
    if (++lines > limits.max_headers + 1) {
      *refusal = 431;
      return 0;
    }
    pos = lf + 1;
  }
  if (bytes.size() > limits.max_head_bytes) *refusal = 431;
  return 0;
}

std::string RewrittenHead(const std::string& head, size_t body_length) {
  const size_t first = head.find('\n') + 1;
  std::string out = head.substr(0, first);
  ForEachHeaderLine(head, [&](std::string_view line) {
    if (IsFraming(NameOf(line))) return;
    out.append(line);
    out += "\r\n";
  });
  out += "Content-Length: " + std::to_string(body_length) + "\r\n\r\n";
  return out;
}

int ChunkedBody::Feed(std::string& bytes) {
  size_t pos = 0;
  int result = kMore;
  while (result == kMore) {
    if (state_ == State::kSize || state_ == State::kTrailer) {
      const size_t eol = bytes.find("\r\n", pos);
      if (eol == std::string::npos) {
        if (bytes.size() - pos > kMaxChunkLine) result = 400;
        break;
      }
      const std::string_view line(bytes.data() + pos, eol - pos);
      pos = eol + 2;
      if (state_ == State::kTrailer) {
        trailer_bytes_ += line.size() + 2;
        if (line.empty()) {
          state_ = State::kDone;
          result = kDone;
        } else if (trailer_bytes_ > kMaxTrailers) {
          result = 400;
        }
        continue;
      }
      size_t digits = 0;
      unsigned long long size = 0;
      while (digits < line.size() &&
             std::isxdigit(static_cast<unsigned char>(line[digits]))) {
        const char c = line[digits];
        size = size * 16 + static_cast<unsigned long long>(
                               c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits > 15) break;
      }
      const std::string_view rest = line.substr(digits);
      if (digits == 0 || digits > 15 ||
          !(rest.empty() || rest.front() == ';' || rest.front() == ' ' ||
            rest.front() == '\t')) {
        result = 400;
      } else if (size == 0) {
        state_ = State::kTrailer;
      } else if (size > max_body_ - body_.size()) {
        result = 413;
      } else {
        remaining_ = static_cast<size_t>(size);
        state_ = State::kData;
      }
    } else if (state_ == State::kData) {
      const size_t take = std::min(remaining_, bytes.size() - pos);
      body_.append(bytes, pos, take);
      pos += take;
      remaining_ -= take;
      if (remaining_ > 0) break;
      state_ = State::kDataEnd;
    } else if (state_ == State::kDataEnd) {
      if (bytes.size() - pos < 2) break;
      if (bytes.compare(pos, 2, "\r\n") != 0) {
        result = 400;
      } else {
        pos += 2;
        state_ = State::kSize;
      }
    } else {
      result = kDone;
    }
  }
  bytes.erase(0, pos);
  return result;
}

struct FrontDoor::Impl {
  Impl(DoorLimits l, Runner r, SSL_CTX* tls)
      : limits(std::move(l)), runner(std::move(r)), ssl_ctx(tls) {}

  void PollLoop();
  void WorkLoop();
  // Reads what the connection has sent and hands it to a worker once its
  // head is complete; refuses or closes it when it must.
  void Advance(int fd);
  void CheckDeadlines();
  // Refuses a connection the poller holds and lets it linger.
  void RefuseWaiting(Conn& c, int status);
  // Takes a connection out of the poller and closes it.
  void Drop(int fd);
  void Register(std::unique_ptr<Conn> c);
  bool Serve(Conn& c);
  enum class Next { kServe, kHandBack, kClose };
  // After a kept-alive answer: waits on the worker for the next request's
  // head while nobody else needs the worker. kServe when the head is
  // complete; kHandBack with what arrived kept in the buffer; kClose when
  // the client closed. Sets `*called_away` when a connection waiting for
  // a worker called it away (the worker is already counted idle then).
  Next Linger(Conn& c, bool* called_away);
  // Under the mutex: whether a connection in `ready` has no idle worker to
  // take it, and clears a call nobody needs to answer any more.
  bool Unserved();
  // Back to the poller between requests.
  void Return(std::unique_ptr<Conn> c);
  void Close(std::unique_ptr<Conn> c);
  void Wake();
  // Makes `call_fd` readable.
  void Call();
  // A refusal written as far as the socket takes it at once.
  void RefuseNow(Conn& c, int status);
  // A refusal from a worker: written, then what follows dropped for a
  // moment.
  void Refuse(Conn& c, int status);
  bool Unlimited(const std::string& peer) const {
    return std::find(limits.unlimited_peers.begin(),
                     limits.unlimited_peers.end(),
                     peer) != limits.unlimited_peers.end();
  }

  const DoorLimits limits;
  const Runner runner;
  SSL_CTX* const ssl_ctx;

  int epoll_fd = -1;
  int wake_fd = -1;
  std::thread poller;
  std::vector<std::thread> workers;

  mutable std::mutex mutex;  // guards everything below
  bool started = false;
  bool stopping = false;
  size_t open = 0;
  std::map<std::string, size_t> per_address;
  std::vector<std::unique_ptr<Conn>> arriving;  // for the poller
  std::deque<std::unique_ptr<Conn>> ready;      // for the workers
  std::condition_variable ready_cv;
  // Workers waiting for `ready`, or on their way to it.
  size_t idle = 0;
  // Workers waiting for the next request of the connection they served.
  size_t lingering = 0;
  // `call_fd` is readable: lingering workers are called to `ready` (or to
  // stop).
  bool called = false;
  int call_fd = -1;
  std::atomic<size_t> hand_backs{0};

  // The poller's own.
  std::unordered_map<int, std::unique_ptr<Conn>> waiting;
  Clock::time_point next_check;
};

void FrontDoor::Impl::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_fd, &one, sizeof one);
}

void FrontDoor::Impl::Call() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(call_fd, &one, sizeof one);
}

void FrontDoor::Impl::Close(std::unique_ptr<Conn> c) {
  std::lock_guard<std::mutex> lock(mutex);
  --open;
  if (c->counted) {
    const auto it = per_address.find(c->peer);
    if (it != per_address.end() && --it->second == 0) per_address.erase(it);
  }
  c.reset();
}

void FrontDoor::Impl::RefuseNow(Conn& c, int status) {
  const std::string text = RefusalText(status);
  if (c.ssl == nullptr || SSL_is_init_finished(c.ssl)) {
    c.Write(text.data(), text.size());
  }
}

void FrontDoor::Impl::Refuse(Conn& c, int status) {
  const std::string text = RefusalText(status);
  if (!WriteAll(c, text.data(), text.size(),
                Clock::now() + limits.io_timeout)) {
    return;
  }
  if (c.ssl == nullptr) ::shutdown(c.fd, SHUT_WR);
  const auto until = Clock::now() + kDrainTime;
  size_t dropped = 0;
  while (dropped < kDrainBytes && ReadMore(c, until) == Arrival::kGot) {
    dropped += c.buffer.size();
    c.buffer.clear();
  }
}

void FrontDoor::Impl::Register(std::unique_ptr<Conn> c) {
  const int fd = c->fd;
  epoll_event event{};
  event.events = c->wait_for == POLLOUT ? EPOLLOUT : EPOLLIN;
  event.data.fd = fd;
  if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0) {
    Close(std::move(c));
    return;
  }
  waiting.emplace(fd, std::move(c));
  // A kept-alive connection may hold the next request already.
  Advance(fd);
}

void FrontDoor::Impl::RefuseWaiting(Conn& c, int status) {
  RefuseNow(c, status);
  c.closing = true;
  c.buffer.clear();
  c.deadline = Clock::now() + kDrainTime;
  ::shutdown(c.fd, SHUT_WR);
  if (c.wait_for != POLLIN) {
    c.wait_for = POLLIN;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = c.fd;
    ::epoll_ctl(epoll_fd, EPOLL_CTL_MOD, c.fd, &event);
  }
}

void FrontDoor::Impl::Drop(int fd) {
  const auto it = waiting.find(fd);
  if (it == waiting.end()) return;
  std::unique_ptr<Conn> c = std::move(it->second);
  waiting.erase(it);
  ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
  Close(std::move(c));
}

void FrontDoor::Impl::Advance(int fd) {
  const auto it = waiting.find(fd);
  if (it == waiting.end()) return;
  Conn& c = *it->second;
  bool ended = false;
  char chunk[16384];
  if (c.closing) {
    ssize_t n = 0;
    while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      Drop(fd);
    }
    return;
  }
  const short waited = c.wait_for;
  while (c.buffer.size() <= limits.max_head_bytes) {
    const ssize_t n = c.Read(chunk, sizeof chunk);
    if (n > 0) {
      c.buffer.append(chunk, static_cast<size_t>(n));
      continue;
    }
    ended = n != kWouldBlock;
    break;
  }
  if (c.wait_for != waited) {
    epoll_event event{};
    event.events = c.wait_for == POLLOUT ? EPOLLOUT : EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(epoll_fd, EPOLL_CTL_MOD, fd, &event);
  }
  if (!c.buffer.empty() && !c.begun) {
    c.begun = true;
    // A new connection's deadline runs from its opening.
    if (c.served > 0) c.deadline = Clock::now() + limits.head_deadline;
  }
  int refusal = 0;
  const size_t end = HeadEnd(c.buffer, limits, &refusal);
  if (refusal != 0 && !ended) {
    RefuseWaiting(c, refusal);
    return;
  }
  if (end == 0) {
    if (ended || refusal != 0) Drop(fd);
    return;
  }
  std::unique_ptr<Conn> taken = std::move(it->second);
  waiting.erase(it);
  ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
  bool call = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ready.push_back(std::move(taken));
    // No idle worker is left for it: a lingering one comes instead.
    call = lingering > 0 && ready.size() > idle && !called;
    called = called || call;
  }
  ready_cv.notify_one();
  if (call) Call();
}

void FrontDoor::Impl::CheckDeadlines() {
  const auto now = Clock::now();
  if (now < next_check) return;
  next_check = now + std::chrono::milliseconds(100);
  std::vector<int> late;
  for (const auto& [fd, c] : waiting) {
    if (now >= c->deadline) late.push_back(fd);
  }
  for (const int fd : late) {
    Conn& c = *waiting.at(fd);
    // Silence closes a connection that never began a request (a kept-alive
    // one, or one a browser opened ahead); a request begun is told.
    if (c.begun && !c.closing) {
      RefuseWaiting(c, 408);
    } else {
      Drop(fd);
    }
  }
}

void FrontDoor::Impl::PollLoop() {
  BlockBrokenPipes();
  epoll_event events[256];
  for (;;) {
    const int n = ::epoll_wait(epoll_fd, events, 256, 100);
    // The wake-up is taken before the connections that arrived: one handed
    // back after this read wakes the next wait at once, instead of waiting
    // out its 100 ms in the list.
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == wake_fd) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t r =
            ::read(wake_fd, &count, sizeof count);
      }
    }
    std::vector<std::unique_ptr<Conn>> taken;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) break;
      taken.swap(arriving);
    }
    for (std::unique_ptr<Conn>& c : taken) Register(std::move(c));
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd != wake_fd) Advance(events[i].data.fd);
    }
    CheckDeadlines();
  }
  for (auto& [fd, c] : waiting) Close(std::move(c));
  waiting.clear();
}

bool FrontDoor::Impl::Serve(Conn& c) {
  int refusal = 0;
  const size_t end = HeadEnd(c.buffer, limits, &refusal);
  const std::string head = c.buffer.substr(0, end);
  c.buffer.erase(0, end);
  HeadFacts facts;
  refusal = ReadHeadFacts(head, limits.max_body_bytes, &facts);
  if (refusal != 0) {
    Refuse(c, refusal);
    return false;
  }
  const auto deadline = Clock::now() + limits.io_timeout;
  if (facts.expects_continue &&
      (facts.chunked || facts.length > c.buffer.size())) {
    static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    if (!WriteAll(c, kContinue, sizeof kContinue - 1, deadline)) return false;
  }
  std::string body;
  if (facts.chunked) {
    ChunkedBody chunked(limits.max_body_bytes);
    for (;;) {
      const int fed = chunked.Feed(c.buffer);
      if (fed == ChunkedBody::kDone) break;
      if (fed != ChunkedBody::kMore) {
        Refuse(c, fed);
        return false;
      }
      const Arrival more = ReadMore(c, deadline);
      if (more == Arrival::kLate) RefuseNow(c, 408);
      if (more != Arrival::kGot) return false;
    }
    body = std::move(chunked.body());
  } else if (facts.length > 0) {
    const auto length = static_cast<size_t>(facts.length);
    while (c.buffer.size() < length) {
      const Arrival more = ReadMore(c, deadline);
      if (more == Arrival::kLate) RefuseNow(c, 408);
      if (more != Arrival::kGot) return false;
    }
    body = c.buffer.substr(0, length);
    c.buffer.erase(0, length);
  }
  DoorStream stream(c, RewrittenHead(head, body.size()) + body,
                    limits.io_timeout);
  body.clear();
  bool last = ++c.served >= limits.keep_alive_requests;
  {
    std::lock_guard<std::mutex> lock(mutex);
    last = last || stopping;
  }
  bool closed = false;
  const bool ok = runner(stream, last, closed);
  return ok && !closed && !last && !stream.failed();
}

bool FrontDoor::Impl::Unserved() {
  if (stopping || ready.size() > idle) return true;
  if (called) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(call_fd, &count, sizeof count);
    called = false;
  }
  return false;
}

FrontDoor::Impl::Next FrontDoor::Impl::Linger(Conn& c, bool* called_away) {
  *called_away = false;
  if (limits.linger.count() <= 0) return Next::kHandBack;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (Unserved() || !ready.empty() || lingering >= (limits.workers + 1) / 2) {
      return Next::kHandBack;
    }
    ++lingering;
  }
  // Within the keep-alive time, or the head's deadline once begun.
  const auto until =
      std::min<Clock::time_point>(Clock::now() + limits.linger, c.deadline);
  Next next = Next::kHandBack;
  char chunk[16384];
  for (;;) {
    if (!c.buffer.empty()) {
      if (!c.begun) {
        c.begun = true;
        c.deadline = Clock::now() + limits.head_deadline;
      }
      // A head past a limit goes back to the poller, which refuses it.
      int refusal = 0;
      if (HeadEnd(c.buffer, limits, &refusal) > 0) next = Next::kServe;
      if (next == Next::kServe || refusal != 0) break;
    }
    if (!c.Buffered()) {
      const auto left = until - Clock::now();
      if (left <= Clock::duration::zero()) break;
      const auto nanos =
          std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      const timespec wait{static_cast<time_t>(nanos / 1000000000),
                          static_cast<long>(nanos % 1000000000)};
      pollfd p[2] = {{c.fd, c.wait_for, 0}, {call_fd, POLLIN, 0}};
      const int n = ::ppoll(p, 2, &wait, nullptr);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (p[1].revents != 0) {
        std::lock_guard<std::mutex> lock(mutex);
        if (Unserved()) {
          // Counted idle at once, so that no other lingering worker
          // answers the same call.
          ++idle;
          *called_away = true;
          break;
        }
      }
      if (p[0].revents == 0) continue;
    }
    const ssize_t n = c.Read(chunk, sizeof chunk);
    if (n > 0) {
      c.buffer.append(chunk, static_cast<size_t>(n));
    } else if (n != kWouldBlock) {
      next = Next::kClose;
      break;
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  --lingering;
  return next;
}

void FrontDoor::Impl::Return(std::unique_ptr<Conn> c) {
  hand_backs.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!stopping) {
      arriving.push_back(std::move(c));
    }
  }
  if (c) {
    Close(std::move(c));
  } else {
    Wake();
  }
}

void FrontDoor::Impl::WorkLoop() {
  BlockBrokenPipes();
  bool counted_idle = false;
  for (;;) {
    std::unique_ptr<Conn> c;
    {
      std::unique_lock<std::mutex> lock(mutex);
      if (!counted_idle) ++idle;
      counted_idle = false;
      ready_cv.wait(lock, [this] { return stopping || !ready.empty(); });
      --idle;
      if (stopping) return;
      c = std::move(ready.front());
      ready.pop_front();
      Unserved();
    }
    Next next = Next::kServe;
    while (next == Next::kServe) {
      bool keep = false;
      try {
        keep = Serve(*c);
      } catch (const std::exception&) {
        // The runner answers failures itself; what escapes it ends the
        // connection.
        keep = false;
      }
      if (!keep) {
        next = Next::kClose;
        break;
      }
      // The next request has not begun; the connection may stay idle for
      // the keep-alive time.
      c->begun = false;
      c->wait_for = POLLIN;
      c->deadline = Clock::now() + limits.keep_alive;
      next = Linger(*c, &counted_idle);
    }
    if (next == Next::kHandBack) {
      Return(std::move(c));
    } else {
      Close(std::move(c));
    }
  }
}

FrontDoor::FrontDoor(DoorLimits limits, Runner runner, void* tls)
    : impl_(std::make_unique<Impl>(std::move(limits), std::move(runner),
                                   static_cast<SSL_CTX*>(tls))) {}

FrontDoor::~FrontDoor() { Stop(); }

void FrontDoor::Start() {
  Impl& impl = *impl_;
  std::lock_guard<std::mutex> lock(impl.mutex);
  if (impl.started) return;
  impl.epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  impl.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  impl.call_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = impl.wake_fd;
  if (impl.epoll_fd < 0 || impl.wake_fd < 0 || impl.call_fd < 0 ||
      ::epoll_ctl(impl.epoll_fd, EPOLL_CTL_ADD, impl.wake_fd, &event) != 0) {
    Raise(ErrorCode::kHost,
          std::string("Cannot watch connections: ") + std::strerror(errno));
  }
  try {
    impl.poller = std::thread([&impl] { impl.PollLoop(); });
    for (size_t i = 0; i < std::max<size_t>(impl.limits.workers, 1); ++i) {
      impl.workers.emplace_back([&impl] { impl.WorkLoop(); });
    }
  } catch (const std::system_error& e) {
    impl.stopping = true;
    impl.ready_cv.notify_all();
    Raise(ErrorCode::kHost,
          std::string("Cannot start the host's threads: ") + e.what());
  }
  impl.started = true;
}

void FrontDoor::Admit(int socket) {
  Impl& impl = *impl_;
  std::string peer;
  int peer_port = 0;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) ==
      0) {
    NumericAddress(address, length, &peer, &peer_port);
  }
  const int flags = ::fcntl(socket, F_GETFL, 0);
  ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
  bool counted = false;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    const bool limited = !impl.Unlimited(peer);
    const bool full =
        impl.open >= impl.limits.max_connections ||
        (limited && impl.per_address[peer] >= impl.limits.max_per_address);
    if (!impl.started || impl.stopping || full) {
      if (impl.per_address[peer] == 0) impl.per_address.erase(peer);
      if (impl.ssl_ctx == nullptr && impl.started && !impl.stopping) {
        const std::string text = RefusalText(503);
        [[maybe_unused]] const ssize_t n =
            ::send(socket, text.data(), text.size(), MSG_NOSIGNAL);
      }
      ::close(socket);
      return;
    }
    ++impl.open;
    if (limited) {
      ++impl.per_address[peer];
      counted = true;
    }
  }
  SSL* ssl = nullptr;
  if (impl.ssl_ctx != nullptr) {
    ssl = SSL_new(impl.ssl_ctx);
    if (ssl == nullptr || SSL_set_fd(ssl, socket) != 1) {
      if (ssl != nullptr) SSL_free(ssl);
      ssl = nullptr;
    } else {
      SSL_set_accept_state(ssl);
    }
  }
  auto c = std::make_unique<Conn>(socket, ssl);
  c->peer = peer;
  c->peer_port = peer_port;
  c->counted = counted;
  length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) ==
      0) {
    NumericAddress(address, length, &c->local, &c->local_port);
  }
  c->deadline = Clock::now() + impl.limits.head_deadline;
  if (impl.ssl_ctx != nullptr && ssl == nullptr) {
    impl.Close(std::move(c));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    if (!impl.stopping) impl.arriving.push_back(std::move(c));
  }
  if (c) {
    impl.Close(std::move(c));
  } else {
    impl.Wake();
  }
}

void FrontDoor::Stop() {
  Impl& impl = *impl_;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    if (!impl.started || impl.stopping) return;
    impl.stopping = true;
    impl.called = true;
  }
  impl.ready_cv.notify_all();
  impl.Wake();
  impl.Call();
  if (impl.poller.joinable()) impl.poller.join();
  for (std::thread& t : impl.workers) t.join();
  impl.workers.clear();
  std::vector<std::unique_ptr<Conn>> left;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    for (auto& c : impl.arriving) left.push_back(std::move(c));
    for (auto& c : impl.ready) left.push_back(std::move(c));
    impl.arriving.clear();
    impl.ready.clear();
  }
  for (auto& c : left) impl.Close(std::move(c));
  ::close(impl.epoll_fd);
  ::close(impl.wake_fd);
  ::close(impl.call_fd);
}

size_t FrontDoor::hand_backs() const {
  return impl_->hand_backs.load(std::memory_order_relaxed);
}

size_t FrontDoor::open_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->open;
}

}  // namespace wrenhaven::host
