// The host's front door: every accepted connection waits here, on one
// thread, until its request head is complete, and only then takes one of
// the workers; a kept-alive connection comes back here between requests.
// A client that sends its head a byte at a time, or opens many connections
// and says nothing, holds no worker. The door also enforces the limits of
// a request before anything of it reaches the pages:
//
//   - the head (request line and headers) must be complete within
//     `head_deadline` of the connection's first byte (of its opening, for
//     a new connection): 408 otherwise;
//   - at most `max_head_bytes` of head, `max_header_line` per line and
//     `max_headers` lines: 431 otherwise;
//   - a body longer than `max_body_bytes` is refused with 413 from its
//     Content-Length, before a byte of it is read; a chunked body is read
//     up to the limit and refused when it goes past;
//   - at most `max_per_address` open connections from one peer address
//     (peers in `unlimited_peers`, trusted proxies, are not counted) and
//     `max_connections` in all: a connection past either is answered 503
//     and closed at once.
//
// The head and body that passed are handed to the `Runner` as one request
// with a Content-Length body, so the HTTP library behind never reads from
// the socket itself.
//
// A worker that answered a kept-alive request may keep the connection for
// `linger` and serve the next request itself when its head arrives in that
// time: a browser or client asking in quick succession then costs no trip
// through the poller. It waits only while nobody else needs a worker: a
// connection the poller hands on finds an idle worker, or calls a waiting
// one away at once.
#ifndef WRENHAVEN_HOST_FRONT_DOOR_H_
#define WRENHAVEN_HOST_FRONT_DOOR_H_

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wrenhaven::host {

struct DoorLimits {
  std::chrono::milliseconds head_deadline{10000};
  std::chrono::milliseconds keep_alive{5000};
  // Each wait for the body to arrive or the answer to leave, and the body
  // as a whole.
  std::chrono::milliseconds io_timeout{10000};
  size_t max_head_bytes = 32 * 1024;
  size_t max_header_line = 8 * 1024;
  size_t max_headers = 100;
  size_t max_body_bytes = 1 << 20;
  size_t max_connections = 4096;
  size_t max_per_address = 256;
  size_t keep_alive_requests = 100;
  size_t workers = 64;
  // How long a worker that answered a kept-alive request waits for the
  // next one on the same connection before handing it back to the poller;
  // zero hands it back at once. A worker waits only while no connection
  // is waiting for one and at most half the workers wait so.
  //
  // 2 ms, by measurement on two loaded cores with 16 clients asking back
  // to back for a static file, against a bare thread-per-connection
  // server: handing every connection back reached 0.55 to 0.7 of its
  // rate, 0.2 ms about 0.9, 1 ms 0.8 to 1.0, 2 ms and 5 ms 0.95 to 1.05
  // (the figures are noisy). Most next requests come within a fraction of
  // a millisecond, but a client scheduled late takes a millisecond or
  // two. The wait costs no processor time and any connection needing the
  // worker cuts it short; of the two full figures the shorter is kept, so
  // that an idle connection is back in the poller soon.
  std::chrono::microseconds linger{2000};
  std::vector<std::string> unlimited_peers;
};

// What one request asked for, as far as the door needs to know.
struct HeadFacts {
  bool chunked = false;
  bool has_length = false;
  unsigned long long length = 0;
  bool expects_continue = false;
};

// Reads the head's framing headers. Returns 0 when the request can go on,
// or the status to refuse it with: 400 for a malformed or contradictory
// framing (two lengths, a length and chunked, a coding other than
// chunked), 413 for a declared length over `max_body`, 417 for an
// expectation other than 100-continue.
int ReadHeadFacts(const std::string& head, size_t max_body, HeadFacts* facts);

// Where a head ends in `bytes` (one past its blank line), or 0 when it is
// not complete yet; sets `*refusal` to 431 when what arrived so far is
// past a limit.
size_t HeadEnd(const std::string& bytes, const DoorLimits& limits,
               int* refusal);

// The head given to the library: Content-Length, Transfer-Encoding and
// Expect replaced by one Content-Length of `body_length`.
std::string RewrittenHead(const std::string& head, size_t body_length);

// A chunked body, decoded as its bytes arrive.
class ChunkedBody {
 public:
  static constexpr int kMore = 0;
  static constexpr int kDone = 1;

  explicit ChunkedBody(size_t max_body) : max_body_(max_body) {}

  // Decodes what it can of `bytes` and removes it from the front; once the
  // last chunk and its trailers are in, `bytes` keeps what follows the
  // body. Returns kMore, kDone, or the status to refuse the request with:
  // 400 for a malformed body, 413 when the data passes `max_body`.
  int Feed(std::string& bytes);
  std::string& body() { return body_; }

 private:
  enum class State { kSize, kData, kDataEnd, kTrailer, kDone };
  const size_t max_body_;
  State state_ = State::kSize;
  size_t remaining_ = 0;
  size_t trailer_bytes_ = 0;
  std::string body_;
};

class FrontDoor {
 public:
  // Serves one request read whole from `stream`; answers through it.
  // `last` asks for the connection to be closed after the answer. Returns
  // false, or sets `closed`, when the connection must not be reused.
  using Runner =
      std::function<bool(httplib::Stream& stream, bool last, bool& closed)>;

  // `tls`, when not null, is the SSL_CTX every connection is served over.
  FrontDoor(DoorLimits limits, Runner runner, void* tls = nullptr);
  ~FrontDoor();  // stops first
  FrontDoor(const FrontDoor&) = delete;
  FrontDoor& operator=(const FrontDoor&) = delete;

  // Starts the door's threads; raises kHost when it cannot.
  void Start();
  // Takes over an accepted socket (closes it when the door is full or
  // stopped). Safe from any thread.
  void Admit(int socket);
  // Closes every waiting connection, lets the requests under way finish,
  // and joins the threads.
  void Stop();

  // Open connections (waiting and being served).
  size_t open_connections() const;
  // Times a kept-alive connection went back to the poller between two
  // requests (its next one did not come while a worker waited for it).
  size_t hand_backs() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_FRONT_DOOR_H_
