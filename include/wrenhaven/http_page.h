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
// returns. A page that fails (its handler or an OnEndPage raises) gets the
// host's error page instead of its output, sends no cookie, and leaves the
// visitor's session as it was before the request.
#ifndef WRENHAVEN_HTTP_PAGE_H_
#define WRENHAVEN_HTTP_PAGE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wrenhaven/buffered_page.h"
#include "wrenhaven/component.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/page.h"
#include "wrenhaven/session_store.h"
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

// The buffered response and the session, the same objects the in-memory
// host uses. The host sends the response's status, extra headers, cookies
// and output (or its redirect) when the page has gone well.
using HttpResponse = BufferedResponse;
using HttpSession = BufferedSession;

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

  // The host's sessions, for the pages that list and end them; nullptr
  // where the page runs without a store.
  virtual SessionStore* session_store() { return nullptr; }
  // The key the visitor's session is listed under (SessionStore's
  // ListedSession::key); "" while the visitor has no stored session.
  virtual std::string session_key() const { return ""; }
  // The office's rights version (SYS_Version 'rights') as read with the
  // visitor's session at the start of this request, when the session
  // store reads it there; pages that follow the rights use it instead of
  // asking the database again. nullopt otherwise.
  virtual std::optional<int64_t> rights_version() const { return std::nullopt; }
  // The visitor signed in on this page: when the page goes well, the
  // session moves to a fresh identifier (as HttpSession::RenewId) and is
  // listed under `holder`.
  virtual void SignedIn(SessionHolder holder) {
    (void)holder;
    session().RenewId();
  }
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_HTTP_PAGE_H_
