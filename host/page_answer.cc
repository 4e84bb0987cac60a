#include "host/page_answer.h"

#include <new>
#include <utility>

#include "host/content_policy.h"
#include "host/sessions.h"
#include "host/wire.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";

// The plain pages' own style sheet, allowed by its hash: a plain page
// needs no static folder. Their icon is an empty one, so that a browser
// does not ask for /favicon.ico and meet a 404 of its own.
constexpr std::string_view kPlainStyle =
    "body{font:15px/1.5 system-ui,sans-serif;margin:3em "
    "auto;max-width:40em;color:#222}h1{font-size:1.3em}"
    "p.detail{background:#f6f6f6;border-left:4px solid #b33;padding:"
    ".6em 1em;white-space:pre-wrap}";

std::string PlainPage(std::string_view title, std::string_view message) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta "
         "charset=\"utf-8\"><link rel=\"icon\" href=\"data:,\"><title>" +
         HtmlEscape(title) + "</title><style>" + std::string(kPlainStyle) +
         "</style></head><body><main><h1>" + HtmlEscape(title) +
         "</h1><p class=\"detail\">" + HtmlEscape(message) +
         "</p><p><a href=\"/\" target=\"_top\">Sign-in page</a></p>"
         "</main></body></html>\n";
}

const std::string& PlainPagePolicy() {
  static const std::string policy =
      PolicyAllowing({}, {HashSource(kPlainStyle)});
  return policy;
}

bool SafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) ==
         std::string_view::npos;
}

}  // namespace

Failure FailureOf(std::exception_ptr error) {
  Failure failure{NewReference(), "", false};
  try {
    std::rethrow_exception(std::move(error));
  } catch (const Error& e) {
    failure.text = e.what();
    failure.unavailable = e.code() == ErrorCode::kUnavailable;
  } catch (const std::bad_alloc&) {
    failure.text = "Out of memory";
  } catch (const std::exception& e) {
    failure.text = e.what();
  } catch (...) {
    failure.text = "A failure that carries no description";
  }
  return failure;
}

void AnswerPage(const HttpResponse& page,
                const std::optional<std::string>& session_cookie, bool https,
                httplib::Response& res) {
  if (session_cookie) res.set_header("Set-Cookie", *session_cookie);
  for (const auto& [name, cookie] : page.cookies()) {
    res.set_header("Set-Cookie", PageCookieHeader(name, cookie, https));
  }
  for (const auto& [name, value] : page.headers()) {
    res.set_header(name, value);
  }
  res.set_header("Cache-Control", "no-store");
  if (page.redirect()) {
    res.status = 302;
    res.set_header("Location", SafeLocation(*page.redirect()));
    return;
  }
  res.status = page.status();
  const std::string& type = page.content_type();
  res.set_content(page.written(), SafeHeaderValue(type) ? type : kHtml);
}

void AnswerFailure(const Failure& failure, httplib::Response& res) {
  const std::string reference = "Reference: " + failure.reference;
  if (failure.unavailable) {
    AnswerPlain(503, "The page could not be shown",
                "The system is busy just now; please try again in a moment. " +
                    reference,
                res);
    res.set_header("Retry-After", "1");
  } else {
    AnswerPlain(500, "The page could not be shown", reference, res);
  }
}

void AnswerPlain(int status, std::string_view title, std::string_view message,
                 httplib::Response& res) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_header("Content-Security-Policy", PlainPagePolicy());
  res.set_content(PlainPage(title, message), kHtml);
}

void AddSecurityHeaders(httplib::Response& res) {
  static constexpr std::pair<const char*, const char*> kHeaders[] = {
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "SAMEORIGIN"},
      {"Referrer-Policy", "same-origin"},
      {"Content-Security-Policy", kContentSecurityPolicy.data()},
  };
  for (const auto& [name, value] : kHeaders) {
    if (!res.has_header(name)) res.set_header(name, value);
  }
}

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

}  // namespace wrenhaven::host
