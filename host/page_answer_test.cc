#include "host/page_answer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/content_policy.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

Failure Of(const std::function<void()>& fail) {
  try {
    fail();
  } catch (...) {
    return FailureOf(std::current_exception());
  }
  return {};
}

TEST(PageAnswerTest, FailuresKeepTheirTextForTheLogOnly) {
  const Failure db =
      Of([] { Raise(ErrorCode::kDatabase, "near 'secret': syntax error"); });
  EXPECT_EQ(db.text, "near 'secret': syntax error");
  EXPECT_FALSE(db.unavailable);
  EXPECT_EQ(db.reference.size(), 12u);
  EXPECT_NE(Of([] { Raise(ErrorCode::kDatabase, "x"); }).reference,
            db.reference);
  EXPECT_TRUE(Of([] { Raise(ErrorCode::kUnavailable, "busy"); }).unavailable);
  EXPECT_EQ(Of([] { throw std::runtime_error("plain"); }).text, "plain");
  EXPECT_EQ(Of([] { throw 7; }).text, "A failure that carries no description");

  httplib::Response res;
  AnswerFailure(db, res);
  EXPECT_EQ(res.status, 500);
  EXPECT_FALSE(res.has_header("Retry-After"));
  EXPECT_EQ(res.body.find("secret"), std::string::npos);
  EXPECT_NE(res.body.find("Reference: " + db.reference), std::string::npos);

  httplib::Response busy;
  AnswerFailure({"0123456789ab", "database is locked", true}, busy);
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.get_header_value("Retry-After"), "1");
  EXPECT_EQ(busy.body.find("locked"), std::string::npos);
}

// The host's own pages name their language and hold their text in the
// main landmark, as the office's pages do.
TEST(PageAnswerTest, PlainPagesNameTheirLanguageAndMainPart) {
  httplib::Response res;
  AnswerPlain(404, "Not found", "There is <no> page.", res);
  EXPECT_EQ(res.status, 404);
  EXPECT_EQ(res.body.rfind("<!DOCTYPE html>\n<html lang=\"en\"><head>", 0), 0u)
      << res.body;
  const size_t main = res.body.find("<body><main><h1>Not found</h1>");
  ASSERT_NE(main, std::string::npos) << res.body;
  EXPECT_LT(main, res.body.find("There is &lt;no&gt; page."));
  EXPECT_LT(res.body.find("Sign-in page</a>"), res.body.find("</main>"));
  // An icon of its own ("data:", which the policy allows for images).
  EXPECT_NE(res.body.find("<link rel=\"icon\" href=\"data:,\">"),
            std::string::npos);
}

TEST(PageAnswerTest, ThePageStatusHeadersAndCookiesAreSent) {
  HttpResponse page;
  page.SetStatus(429);
  page.SetHeader("Retry-After", "30");
  page.SetCookie("pname", "ann");
  page.Write("limited");
  httplib::Response res;
  AnswerPage(page, std::string("SID=x; Path=/"), false, res);
  EXPECT_EQ(res.status, 429);
  EXPECT_EQ(res.get_header_value("Retry-After"), "30");
  EXPECT_EQ(res.get_header_value_count("Set-Cookie"), 2u);
  EXPECT_EQ(res.get_header_value("Set-Cookie", 0), "SID=x; Path=/");
  EXPECT_EQ(res.get_header_value("Set-Cookie", 1),
            "pname=ann; Path=/; SameSite=Lax");
  EXPECT_EQ(res.get_header_value("Cache-Control"), "no-store");
  EXPECT_EQ(res.body, "limited");

  HttpResponse moved;
  moved.Write("dropped");
  moved.Redirect("/a b");
  httplib::Response to;
  AnswerPage(moved, std::nullopt, false, to);
  EXPECT_EQ(to.status, 302);
  EXPECT_EQ(to.get_header_value("Location"), "/a%20b");
  EXPECT_EQ(to.body, "");
}

TEST(PageAnswerTest, SecurityHeadersAreAddedOnceAndAPageMayTightenThem) {
  httplib::Response res;
  res.set_header("X-Frame-Options", "DENY");
  AddSecurityHeaders(res);
  AddSecurityHeaders(res);
  EXPECT_EQ(res.get_header_value_count("X-Frame-Options"), 1u);
  EXPECT_EQ(res.get_header_value("X-Frame-Options"), "DENY");
  EXPECT_EQ(res.get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(res.get_header_value("Referrer-Policy"), "same-origin");
  EXPECT_EQ(res.get_header_value("Content-Security-Policy"),
            "default-src 'self'; script-src 'self'; style-src 'self'; "
            "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
            "form-action 'self'; frame-ancestors 'self'");

  // A page's own policy (the hash of its inline script) is the one sent.
  httplib::Response own;
  own.set_header("content-security-policy", "script-src 'sha256-A='");
  AddSecurityHeaders(own);
  EXPECT_EQ(own.get_header_value_count("Content-Security-Policy"), 1u);
  EXPECT_EQ(own.get_header_value("Content-Security-Policy"),
            "script-src 'sha256-A='");
}

TEST(PageAnswerTest, PlainPagesAllowTheirOwnStyleSheetByItsHash) {
  httplib::Response res;
  AnswerPlain(404, "Not found", "<b>", res);
  AddSecurityHeaders(res);
  const std::string& body = res.body;
  const size_t open = body.find("<style>");
  const size_t close = body.find("</style>");
  ASSERT_NE(open, std::string::npos);
  ASSERT_NE(close, std::string::npos);
  const std::string style = body.substr(open + 7, close - open - 7);
  EXPECT_EQ(res.get_header_value_count("Content-Security-Policy"), 1u);
  const std::string policy = res.get_header_value("Content-Security-Policy");
  EXPECT_EQ(policy, "default-src 'self'; script-src 'self'; style-src 'self' " +
                        HashSource(style) +
                        "; img-src 'self' data:; object-src 'none'; "
                        "base-uri 'none'; form-action 'self'; "
                        "frame-ancestors 'self'");
  EXPECT_EQ(policy.find("unsafe"), std::string::npos);
  EXPECT_EQ(body.find("<script"), std::string::npos);
  EXPECT_EQ(body.find(" style="), std::string::npos);
}

TEST(PageAnswerTest, LogSafeEscapesControlCharacters) {
  EXPECT_EQ(LogSafe("a\r\nb\x7F\tc"), "a\\x0D\\x0Ab\\x7F\\x09c");
  EXPECT_EQ(LogSafe("登陆"), "登陆");
}

}  // namespace
}  // namespace wrenhaven::host
