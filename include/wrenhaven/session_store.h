// Where a page host keeps its visitors' session values between pages, the
// limits of a session's life, and the list of who is signed in now.
#ifndef WRENHAVEN_SESSION_STORE_H_
#define WRENHAVEN_SESSION_STORE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven {

using SessionClock = std::chrono::system_clock;

struct SessionLimits {
  // A session unused this long is gone (each page restarts the count).
  std::chrono::seconds idle = std::chrono::minutes(20);
  // A session is gone this long after it began, however busy.
  std::chrono::seconds absolute = std::chrono::hours(12);
};

// Who a signed-in session belongs to, as the list of sessions shows it.
// A session nobody signed in to has an empty `person`.
struct SessionHolder {
  std::string person;   // PersonID, as text
  std::string account;  // the person's account
  // The HR_Login record of the sign-in; 0 when there is none.
  int64_t login_id = 0;
  std::string address;  // the client address at sign-in
  std::string browser;  // the browser's description at sign-in
  bool operator==(const SessionHolder&) const = default;
};

// The longest texts a holder keeps (longer ones are cut when stored).
inline constexpr size_t kMaxHolderAccount = 256;
inline constexpr size_t kMaxHolderAddress = 256;
inline constexpr size_t kMaxHolderBrowser = 512;

// One signed-in session of the list. `key` names it for End: a digest of
// its identifier, from which the identifier cannot be had.
struct ListedSession {
  std::string key;
  SessionHolder holder;
  SessionClock::time_point signed_in;
  SessionClock::time_point last_seen;
};

struct SessionQuery {
  // Only this account's sessions (letter case ignored); "" for all.
  std::string account;
  // Only this person's sessions; "" for all.
  std::string person;
  size_t offset = 0;
  size_t limit = 50;
  // False when the caller has no use for SessionList::total: the store
  // then need not count the matches beyond the page.
  bool count = true;
};

struct SessionList {
  std::vector<ListedSession> rows;  // newest sign-in first
  // All that match, beyond the page too. Not counted (query.count false),
  // only what the page shows: offset + rows.size() when there are rows,
  // else 0; at most the true number.
  size_t total = 0;
};

// Called with the login records (HR_Login's LoginID) of signed-in
// sessions that ended: signed out, run out, ended by force or replaced by
// a new sign-in. Raises when it cannot record them.
using SessionsEnded = std::function<void(const std::vector<int64_t>&)>;

// Implementations are safe to use from several threads at once.
class SessionStore {
 public:
  struct Entry {
    Entry() = default;
    Entry(std::vector<std::pair<std::string, Variant>> values_in,
          SessionClock::time_point created_in, SessionHolder holder_in = {})
        : values(std::move(values_in)),
          created(created_in),
          holder(std::move(holder_in)) {}

    std::vector<std::pair<std::string, Variant>> values;
    SessionClock::time_point created;
    SessionHolder holder;  // nobody, for a visitor not signed in
    // The office's rights version (SYS_Version 'rights'), when Load read it
    // in the same statement as the session: a store in the office's
    // database does, and the page then follows the rights under it without
    // asking the database again. Save ignores it.
    std::optional<int64_t> rights_version;
    // From Load: the holder's live sessions, this one among them, as List
    // gives them for the holder's person (newest sign-in first, at most
    // kListedWithLoad), when the store reads them in the same trip to the
    // database as the session itself (the database store does on
    // PostgreSQL, where a trip costs more than the reading); nullopt when
    // it did not. The page host answers that person's list from them
    // during the page. Not stored by Save.
    std::optional<std::vector<ListedSession>> listed;
  };
  // The most sessions Load reads with a session's own.
  static constexpr size_t kListedWithLoad = 32;
  virtual ~SessionStore() = default;

  // The live session `id`, its idle time restarted; nullopt when there is
  // none or it has run out (it is removed then).
  virtual std::optional<Entry> Load(const std::string& id) = 0;
  // Stores the session under `id`, replacing what was there; its idle time
  // restarts. A session that was removed, run out or ended is never stored
  // again under its identifier: the call then does nothing.
  virtual void Save(const std::string& id, Entry entry) = 0;
  virtual void Remove(const std::string& id) = 0;

  // The registry of signed-in sessions. Both stores of the library keep
  // it; a store that keeps none (a test's, say) lists nobody and ends
  // nothing.
  //
  // The live signed-in sessions that match `query`, newest sign-in first.
  virtual SessionList List(const SessionQuery& query) {
    (void)query;
    return {};
  }
  // Ends the session listed under `key` (only when it is `person`'s, where
  // `person` is not ""): its next page finds no session. False when there
  // was no such live session.
  virtual bool End(const std::string& key, const std::string& person = "") {
    (void)key;
    (void)person;
    return false;
  }
  // Ends every session of `person`; returns how many there were.
  virtual size_t EndAllOf(const std::string& person) {
    (void)person;
    return 0;
  }
  // Removes the sessions that have run out (recording their end). Stores
  // also do this by themselves at most once a minute while they are used;
  // a host calls it when nobody asks.
  virtual void Sweep() {}
  // Sessions that have not run out, for the host's metrics; nullopt when
  // the store cannot tell.
  virtual std::optional<size_t> CountOpen() { return std::nullopt; }
  // For a page that keeps what it drew from `person`'s list: a number that
  // moves whenever List for that person could give other rows, or the same
  // rows with another second of sign-in or last use (a session of theirs
  // begins, is stored, used, ended or runs out). While it stays the same,
  // what was drawn from the list is still right. 0 while the person has no
  // session. nullopt for "" and when the store cannot tell (one another
  // server shares, say).
  virtual std::optional<uint64_t> ListVersion(const std::string& person) {
    (void)person;
    return std::nullopt;
  }
};

// The key a session with identifier `id` is listed under: the SHA-256 of
// the identifier, as 64 lowercase hex digits.
std::string SessionKey(const std::string& id);

// Sessions held in the memory of this process. `now` is the clock the
// limits are measured with; `ended`, when given, hears of every signed-in
// session that ends (a failed call is tried again with the next ones).
std::unique_ptr<SessionStore> MakeMemorySessionStore(
    SessionLimits limits,
    std::function<SessionClock::time_point()> now = &SessionClock::now,
    SessionsEnded ended = nullptr);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SESSION_STORE_H_
