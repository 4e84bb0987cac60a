// The buffered response and the session that every page host hands to its
// pages: the in-memory host (tests, `wrenhaven call`) and the HTTP host use
// these same objects, so what a page does on one is what it does on the
// other. A host reads them after the page and sends or stores the result.
#ifndef WRENHAVEN_BUFFERED_PAGE_H_
#define WRENHAVEN_BUFFERED_PAGE_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wrenhaven/page.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// A response kept in memory until the page ends.
class BufferedResponse : public Response {
 public:
  struct Cookie {
    std::string value;
    std::optional<Date> expires;  // local time; none: a browser-session cookie
    bool http_only = false;       // kept from the page's scripts
  };

  // True for a non-empty HTTP token: the names a cookie or a header may
  // have.
  static bool IsToken(std::string_view name);

  // Cookie names must be HTTP tokens (kInvalidArgument otherwise); values
  // may hold any text. Names are matched without regard to letter case.
  void SetCookie(std::string_view name, std::string_view value) override;
  void SetCookieExpires(std::string_view name, Date expires) override;
  // A cookie of this name, set before or after this call, is kept from
  // the page's scripts (sent HttpOnly). Sets no cookie of its own.
  void KeepFromScripts(std::string_view name);
  void Write(std::string_view text) override;
  // Ends the response with a redirect; what was written so far is dropped.
  void Redirect(std::string_view address) override;
  void End() override;

  // Drops the output written so far (status, headers and cookies stay).
  void Clear() { written_.clear(); }
  // An HTTP status from 200 to 599 (kInvalidArgument otherwise).
  void SetStatus(int status);
  void SetContentType(std::string content_type) {
    content_type_ = std::move(content_type);
  }
  // An extra header sent as it stands ("Retry-After", "1"); setting a name
  // again replaces its value. Raises kInvalidArgument for a name that is
  // not an HTTP token or that the host sets itself (Content-Type,
  // Content-Length, Location, Set-Cookie, ...), and for a value holding a
  // line break or a NUL.
  void SetHeader(std::string_view name, std::string_view value);

  const std::string& written() const { return written_; }
  int status() const { return status_; }
  const std::string& content_type() const { return content_type_; }
  // In the order they were first set.
  const std::vector<std::pair<std::string, std::string>>& headers() const {
    return headers_;
  }
  // In the order they were first set.
  const std::vector<std::pair<std::string, Cookie>>& cookies() const {
    return cookies_;
  }
  const Cookie* cookie(std::string_view name) const;
  const std::optional<std::string>& redirect() const { return redirect_; }
  bool ended() const { return ended_; }

 private:
  Cookie& Find(std::string_view name);
  std::string written_;
  int status_ = 200;
  std::string content_type_ = "text/html; charset=utf-8";
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<std::pair<std::string, Cookie>> cookies_;
  std::vector<std::string> http_only_;
  std::optional<std::string> redirect_;
  bool ended_ = false;
};

// The visitor's session values for one page. The host fills it from its
// store before the page and decides after the page what to keep.
class BufferedSession : public Session {
 public:
  // `values` as they were stored at the end of the visitor's last page
  // (none for a new visitor).
  explicit BufferedSession(
      std::vector<std::pair<std::string, Variant>> values = {});

  Variant Get(std::string_view key) const override;
  void Set(std::string_view key, Variant value) override;
  // The values stay readable until the page ends; then the session is
  // dropped.
  void Abandon() override { abandoned_ = true; }

  // Moves the session to a fresh identifier when the page ends, so that an
  // identifier known before (planted, or seen by someone else) is worth
  // nothing afterwards. Pages call it when a visitor signs in.
  void RenewId() { renew_ = true; }

  // Keys in the order they were first written.
  const std::vector<std::pair<std::string, Variant>>& values() const {
    return values_;
  }
  // True when no value holds anything: each is Empty or the empty text.
  bool holds_nothing() const;
  bool abandoned() const { return abandoned_; }
  bool renew_requested() const { return renew_; }
  bool modified() const { return modified_; }

 private:
  std::vector<std::pair<std::string, Variant>> values_;
  bool abandoned_ = false;
  bool renew_ = false;
  bool modified_ = false;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_BUFFERED_PAGE_H_
