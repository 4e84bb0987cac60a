// The visitor's session for the length of one page: found by its cookie
// before the page, and afterwards stored, moved, dropped or left alone
// according to what the page did and whether it went well.
#ifndef WRENHAVEN_HOST_SESSION_SCOPE_H_
#define WRENHAVEN_HOST_SESSION_SCOPE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/http_page.h"
#include "wrenhaven/session_store.h"

namespace wrenhaven::host {

class SessionScope {
 public:
  // Loads the session that the cookie `cookie_name` among the request's
  // `cookies` names, when it is live; otherwise the page gets an empty
  // one. The page works on a copy of the stored values.
  SessionScope(SessionStore& store, std::string cookie_name,
               const std::vector<HttpItem>& cookies);

  const std::shared_ptr<HttpSession>& session() const { return session_; }
  // The store as the page sees it: the holder's own list comes from the
  // rows the store read with the session, while the page changes no
  // session through it; everything else goes to the store.
  SessionStore& store() { return page_store_; }

  // The key the loaded session is listed under; "" without one.
  std::string key() const;
  // The office's rights version the store read with the session, if it
  // did (see SessionStore::Entry::rights_version).
  std::optional<int64_t> rights_version() const { return rights_version_; }
  // Someone signed in on this page: the session moves to a fresh
  // identifier when the page ends, listed under `holder`.
  void SignedIn(SessionHolder holder);

  // After the page. When it failed (`page_ok` false) nothing changes: the
  // store keeps what it had and no cookie is sent. When it went well:
  // - an abandoned session is removed (its sign-out recorded by the
  //   store), and the browser that sent a
  //   session cookie is told to drop it;
  // - a new visitor whose session holds nothing (only Empty and "") gets
  //   no session;
  // - a new visitor's session, or one the page asked to renew, is stored
  //   under a fresh identifier (the old one removed, which records its
  //   sign-out) and the browser gets it;
  // - a changed session is stored again under its identifier.
  // Returns the Set-Cookie header value of the session cookie, when one
  // must be sent.
  std::optional<std::string> Close(bool page_ok, bool https);

 private:
  std::string Cookie(std::string_view id, bool https, bool expire) const;

  class PageStore : public SessionStore {
   public:
    explicit PageStore(SessionScope& scope) : scope_(scope) {}
    std::optional<Entry> Load(const std::string& id) override;
    void Save(const std::string& id, Entry entry) override;
    void Remove(const std::string& id) override;
    SessionList List(const SessionQuery& query) override;
    bool End(const std::string& key, const std::string& person) override;
    size_t EndAllOf(const std::string& person) override;
    void Sweep() override;
    std::optional<size_t> CountOpen() override;
    std::optional<uint64_t> ListVersion(const std::string& person) override;

   private:
    SessionScope& scope_;
  };

  SessionStore& store_;
  PageStore page_store_{*this};
  // The holder's sessions read with this one; dropped by any change of a
  // session during the page.
  std::optional<std::vector<ListedSession>> listed_;
  const std::string cookie_name_;
  std::string id_;  // "" without a live session
  SessionClock::time_point created_{};
  SessionHolder holder_;
  std::optional<int64_t> rights_version_;
  bool cookie_sent_ = false;
  std::shared_ptr<HttpSession> session_;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_SESSION_SCOPE_H_
