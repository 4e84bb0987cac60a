#include "host/session_scope.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "host/session_text.h"
#include "host/sessions.h"

namespace wrenhaven::host {

SessionScope::SessionScope(SessionStore& store, std::string cookie_name,
                           const std::vector<HttpItem>& cookies)
    : store_(store), cookie_name_(std::move(cookie_name)) {
  std::optional<SessionStore::Entry> stored;
  for (const HttpItem& c : cookies) {
    if (c.name != cookie_name_) continue;
    cookie_sent_ = true;
    if (IsSessionId(c.value) && (stored = store_.Load(c.value))) {
      id_ = c.value;
      created_ = stored->created;
      holder_ = stored->holder;
      rights_version_ = stored->rights_version;
      listed_ = std::move(stored->listed);
    }
    break;
  }
  session_ = std::make_shared<HttpSession>(
      stored ? std::move(stored->values)
             : std::vector<std::pair<std::string, Variant>>{});
}

std::string SessionScope::key() const {
  return id_.empty() ? "" : SessionKey(id_);
}

void SessionScope::SignedIn(SessionHolder holder) {
  holder.account = KeptText(holder.account, kMaxHolderAccount);
  holder.address = KeptText(holder.address, kMaxHolderAddress);
  holder.browser = KeptText(holder.browser, kMaxHolderBrowser);
  holder_ = std::move(holder);
  listed_.reset();
  session_->RenewId();
}

std::optional<std::string> SessionScope::Close(bool page_ok, bool https) {
  if (!page_ok) return std::nullopt;
  const HttpSession& s = *session_;
  if (s.abandoned()) {
    if (!id_.empty()) store_.Remove(id_);
    if (cookie_sent_) return Cookie("", https, true);
    return std::nullopt;
  }
  if (id_.empty()) {
    if (!s.modified() && !s.renew_requested()) return std::nullopt;
    if (s.holds_nothing()) return std::nullopt;
  }
  if (id_.empty() || s.renew_requested()) {
    if (!id_.empty()) store_.Remove(id_);
    const std::string fresh = NewSessionId();
    store_.Save(fresh,
                SessionStore::Entry{s.values(), SessionClock::now(), holder_});
    return Cookie(fresh, https, false);
  }
  if (s.modified()) {
    store_.Save(id_, SessionStore::Entry{s.values(), created_, holder_});
  }
  return std::nullopt;
}

std::optional<SessionStore::Entry> SessionScope::PageStore::Load(
    const std::string& id) {
  return scope_.store_.Load(id);
}

void SessionScope::PageStore::Save(const std::string& id, Entry entry) {
  scope_.listed_.reset();
  scope_.store_.Save(id, std::move(entry));
}

void SessionScope::PageStore::Remove(const std::string& id) {
  scope_.listed_.reset();
  scope_.store_.Remove(id);
}

// Only the first page of the holder's own list, uncounted, and only as
// many rows as were read (all of them when fewer than the most read).
SessionList SessionScope::PageStore::List(const SessionQuery& query) {
  const auto& listed = scope_.listed_;
  if (listed && !query.person.empty() &&
      query.person == scope_.holder_.person && query.account.empty() &&
      query.offset == 0 && !query.count &&
      (listed->size() < kListedWithLoad || query.limit <= listed->size())) {
    SessionList out;
    const size_t rows = std::min(query.limit, listed->size());
    out.rows.assign(listed->begin(),
                    listed->begin() + static_cast<std::ptrdiff_t>(rows));
    out.total = UncountedTotal(0, out.rows.size());
    return out;
  }
  return scope_.store_.List(query);
}

bool SessionScope::PageStore::End(const std::string& key,
                                  const std::string& person) {
  scope_.listed_.reset();
  return scope_.store_.End(key, person);
}

size_t SessionScope::PageStore::EndAllOf(const std::string& person) {
  scope_.listed_.reset();
  return scope_.store_.EndAllOf(person);
}

void SessionScope::PageStore::Sweep() {
  scope_.listed_.reset();
  scope_.store_.Sweep();
}

std::optional<size_t> SessionScope::PageStore::CountOpen() {
  return scope_.store_.CountOpen();
}

std::optional<uint64_t> SessionScope::PageStore::ListVersion(
    const std::string& person) {
  return scope_.store_.ListVersion(person);
}

std::string SessionScope::Cookie(std::string_view id, bool https,
                                 bool expire) const {
  std::string header = cookie_name_ + "=" + std::string(id) + "; Path=/";
  if (expire) header += "; Max-Age=0";
  header += "; HttpOnly; SameSite=Lax";
  if (https) header += "; Secure";
  return header;
}

}  // namespace wrenhaven::host
