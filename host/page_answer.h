// What the host answers: a page's buffered response as it went out, the
// error page of a failed page, the plain pages of the host's own (not
// found, bad request), and the headers every answer carries.
#ifndef WRENHAVEN_HOST_PAGE_ANSWER_H_
#define WRENHAVEN_HOST_PAGE_ANSWER_H_

#include <httplib.h>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "wrenhaven/http_page.h"

namespace wrenhaven::host {

// Why a page could not be shown. The text goes to the log only: it may
// hold a statement, and with it what someone typed.
struct Failure {
  std::string reference;  // shown on the error page and logged with the text
  std::string text;
  bool unavailable = false;  // an Error of code kUnavailable
};

// The failure that `error` holds (an Error, another standard exception or
// anything else), under a fresh reference.
Failure FailureOf(std::exception_ptr error);

// A page that went well: its status, extra headers, cookies and output, or
// its redirect; with the session cookie's Set-Cookie value when there is
// one.
void AnswerPage(const HttpResponse& page,
                const std::optional<std::string>& session_cookie, bool https,
                httplib::Response& res);

// The error page: 503 with "Retry-After: 1" when the failure is
// unavailability, 500 otherwise; it shows the reference, never the text.
void AnswerFailure(const Failure& failure, httplib::Response& res);

// A short page of the host's own, e.g. 404 "Not found", with a policy of
// its own that allows its inline style sheet by hash.
void AnswerPlain(int status, std::string_view title, std::string_view message,
                 httplib::Response& res);

// X-Content-Type-Options, X-Frame-Options, Referrer-Policy and
// Content-Security-Policy (kContentSecurityPolicy), each unless the answer
// has it already: a page may send a policy of its own (one that names the
// hashes of its inline scripts). Every answer gets them.
void AddSecurityHeaders(httplib::Response& res);

// Control characters as "\xXX", so that a logged text cannot forge lines.
std::string LogSafe(std::string_view text);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_PAGE_ANSWER_H_
