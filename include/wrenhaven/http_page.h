// The page objects of the HTTP page host, and what a page handler is given.
//
// A page handler receives an HttpPage for one request. Through it the page
// reaches the request, the buffered response and the visitor's session
// (the page objects the classes work on), a database connection borrowed
// from the host's pool for the length of the page, and CreateObject, which
// creates a class by programmatic identifier and binds it to the page
// (OnStartPage at once, OnEndPage when the page ends).
//
// Everything is buffered: nothing reaches the browser until the handler
// returns. A handler that raises gets the host's error page instead of its
// output; the session changes made before the failure are kept.
#ifndef WRENHAVEN_HTTP_PAGE_H_
#define WRENHAVEN_HTTP_PAGE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wrenhaven/component.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/page.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// A named value of one request collection (query string, form, cookies,
// server variables), decoded.
struct HttpItem {
  std::string name;
  std::string value;
};

class HttpRequest : public Request {
 public:
  HttpRequest(std::string method, std::string path, std::vector<HttpItem> query,
              std::vector<HttpItem> form, std::vector<HttpItem> cookies,
              std::vector<HttpItem> server_variables);

  // Names are matched without regard to letter case. An item given more
  // than once reads as its values joined by ", " (query string and form).
  std::optional<std::string> Lookup(Collection collection,
                                    std::string_view name) const override;

  const std::string& method() const { return method_; }
  // The decoded path, without the query string.
  const std::string& path() const { return path_; }
  // The items of a collection in the order they were sent.
  const std::vector<HttpItem>& items(Collection collection) const;

 private:
  std::string method_;
  std::string path_;
  std::vector<HttpItem> query_, form_, cookies_, server_variables_;
};

class HttpResponse : public Response {
 public:
  struct Cookie {
    std::string name;
    std::string value;
    std::optional<Date> expires;  // local time; none: a browser-session cookie
  };

  // Raise kInvalidArgument for a cookie name that is not an HTTP token.
  // Values may hold any text: they are percent-encoded on the wire and
  // decoded again when the browser sends them back.
  void SetCookie(std::string_view name, std::string_view value) override;
  void SetCookieExpires(std::string_view name, Date expires) override;
  void Write(std::string_view text) override;
  // Ends the response with a redirect; what was written so far is dropped.
  void Redirect(std::string_view address) override;
  void End() override;

  // Drops the output written so far (headers and cookies stay).
  void Clear();
  void SetStatus(int status) { status_ = status; }
  // An extra header sent as it stands (Retry-After, a cookie of the
  // host's own). Raises kInvalidArgument for a name that is no HTTP token
  // or a value with a line break or NUL.
  void SetHeader(std::string_view name, std::string_view value);
  const std::vector<std::pair<std::string, std::string>>& headers() const {
    return headers_;
  }
  void SetContentType(std::string content_type) {
    content_type_ = std::move(content_type);
  }

  int status() const { return status_; }
  const std::string& content_type() const { return content_type_; }
  const std::string& output() const { return output_; }
  bool ended() const { return ended_; }
  const std::optional<std::string>& redirect() const { return redirect_; }
  // In the order they were first set.
  const std::vector<Cookie>& cookies() const { return cookies_; }

 private:
  Cookie& Find(std::string_view name);
  int status_ = 200;
  std::string content_type_ = "text/html; charset=utf-8";
  std::string output_;
  bool ended_ = false;
  std::optional<std::string> redirect_;
  std::vector<Cookie> cookies_;
  std::vector<std::pair<std::string, std::string>> headers_;
};

class HttpSession : public Session {
 public:
  // `values` as they were stored at the end of the visitor's last page
  // (none for a new visitor).
  explicit HttpSession(
      std::vector<std::pair<std::string, Variant>> values = {});

  Variant Get(std::string_view key) const override;
  void Set(std::string_view key, Variant value) override;
  // The values stay readable until the page ends; then the session is
  // dropped and its cookie expired.
  void Abandon() override { abandoned_ = true; }

  // Moves the session to a fresh identifier when the page ends, so that an
  // identifier known before (planted, or seen by someone else) is worth
  // nothing afterwards. Pages call it when a visitor signs in.
  void RenewId() { renew_ = true; }

  const std::vector<std::pair<std::string, Variant>>& values() const {
    return values_;
  }
  bool abandoned() const { return abandoned_; }
  bool renew_requested() const { return renew_; }
  bool modified() const { return modified_; }

 private:
  std::vector<std::pair<std::string, Variant>> values_;
  bool abandoned_ = false;
  bool renew_ = false;
  bool modified_ = false;
};

// What a page handler works with for one request. Valid for the length of
// the handler call only.
class HttpPage {
 public:
  virtual ~HttpPage() = default;

  virtual HttpRequest& request() = 0;
  virtual HttpResponse& response() = 0;
  virtual HttpSession& session() = 0;
  // The scripting context holding the five page objects, as OnStartPage
  // takes it.
  virtual std::shared_ptr<ScriptingContext> context() = 0;
  // A connection from the host's pool, the same one for every call during
  // the page; it goes back to the pool when the page ends (and is dropped
  // after a failed page). Raises when no connection can be made.
  virtual std::shared_ptr<Connection> connection() = 0;
  // Creates a class by programmatic identifier and, when the class has
  // OnStartPage, calls it with this page's context; OnEndPage is called
  // when the page ends, in reverse order of creation. Raises for an
  // unknown identifier or a failed OnStartPage.
  virtual std::shared_ptr<Component> CreateObject(std::string_view progid) = 0;
  // True when the browser reached the host over HTTPS (directly or through
  // a trusted proxy that says so).
  virtual bool https() const = 0;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_HTTP_PAGE_H_
