// Test support for the HTTP tests: a host started on a free port of
// 127.0.0.1 for one test, a small browser (httplib's client and a cookie
// jar), and a raw client for requests no browser would send.
#ifndef WRENHAVEN_TESTS_HTTP_HTTP_SUPPORT_H_
#define WRENHAVEN_TESTS_HTTP_HTTP_SUPPORT_H_

#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "wrenhaven/http_host.h"

namespace wrenhaven::testing {

// A host serving in a thread of its own until the object goes.
class TestHost {
 public:
  TestHost(HttpHostOptions options, ConnectionFactory connections,
           const std::function<void(HttpHost&)>& add_pages,
           std::unique_ptr<SessionStore> sessions = nullptr);
  ~TestHost();

  int port() const { return port_; }

 private:
  std::unique_ptr<HttpHost> host_;
  int port_ = 0;
  std::thread thread_;
};

// One response as the client saw it.
struct Reply {
  int status = 0;
  std::multimap<std::string, std::string> headers;  // names as sent
  std::string body;

  // The first value of a header (any letter case), "" when absent.
  std::string Header(const std::string& name) const;
  std::vector<std::string> All(const std::string& name) const;
  // The Set-Cookie header that sets `cookie`, "" when none does.
  std::string SetCookie(const std::string& cookie) const;
};

// A browser: keeps the cookies it is given (and drops the ones expired)
// and sends them back.
class Browser {
 public:
  explicit Browser(int port);

  Reply Get(const std::string& path, const httplib::Headers& headers = {});
  Reply Post(const std::string& path, const std::string& form,
             const httplib::Headers& headers = {});

  // "" when the jar has no such cookie.
  std::string Cookie(const std::string& name) const;
  void SetCookie(const std::string& name, const std::string& value) {
    jar_[name] = value;
  }

 private:
  Reply Keep(const httplib::Result& result);
  httplib::Headers WithCookies(const httplib::Headers& headers) const;
  httplib::Client client_;
  std::map<std::string, std::string> jar_;
};

// Sends `request` as it is (it should ask for "Connection: close") and
// returns the whole answer, headers and body, as received.
std::string RawExchange(int port, const std::string& request);

// Sends each request on one connection, reading each answer (by its
// Content-Length) before the next request goes out.
std::vector<std::string> RawExchanges(int port,
                                      const std::vector<std::string>& requests);

// A raw connection, from a chosen loopback address when one is given
// ("127.0.0.2": a client of its own to the host), for requests sent piece
// by piece.
class RawConnection {
 public:
  explicit RawConnection(int port, const std::string& from = "");
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // False when the connection no longer takes data.
  bool Send(const std::string& data);
  // The next answer (headers and Content-Length bytes); what arrived when
  // the connection ended or `wait` passed first ("" for nothing).
  std::string Answer(std::chrono::milliseconds wait = std::chrono::seconds(20));
  // True when the host closes (or resets) the connection within `wait`;
  // what arrives meanwhile is kept for Answer.
  bool ClosedWithin(std::chrono::milliseconds wait);

 private:
  int fd_;
  std::string pending_;
};

// The header lines of a raw answer, status line first.
std::vector<std::string> HeaderLines(const std::string& raw);

// A form body from name/value pairs, URL-encoded.
std::string Form(const std::vector<std::pair<std::string, std::string>>& items);

// The sign-in page's form as a browser posts it (this window).
std::string SignInBody(const std::string& name, const std::string& pwd);

}  // namespace wrenhaven::testing

#endif  // WRENHAVEN_TESTS_HTTP_HTTP_SUPPORT_H_
