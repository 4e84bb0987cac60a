// Sessions in the SYS_OnlineSession table, under the digest of their
// identifier. The statements are the same text on
// every database; times are whole microseconds since 1970, so they compare
// as plain numbers there. The statements of every request (load, touch,
// save, the person's list) send their values apart from their text, so
// each text is the same on every request and a database prepares it once
// per connection.
#include "wrenhaven/database_sessions.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "frame/statement.h"
#include "host/connection_pool.h"
#include "host/session_text.h"
#include "host/sessions.h"
#include "host/sign_outs.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

using std::chrono::microseconds;

constexpr auto kSweepEvery = std::chrono::minutes(1);
// A removed session stays this long as a row that cannot be loaded or
// saved, so that a page still running on another host when the person
// signed out cannot store the session again.
constexpr auto kKeepRemoved = std::chrono::minutes(10);
constexpr auto kLongestTouch = std::chrono::seconds(15);
// The store's own connections, apart from the pages': at most this many
// open, and a wait for one as long as a page's.
constexpr size_t kStoreConnections = 8;
constexpr std::chrono::milliseconds kStoreWait{5000};
// The most rows one listing reads (a larger limit reads this many).
constexpr size_t kMostRows = 1'000'000;
constexpr size_t kFurthestOffset = std::numeric_limits<int64_t>::max();

int64_t Micros(SessionClock::time_point t) {
  return std::chrono::duration_cast<microseconds>(t.time_since_epoch()).count();
}

int64_t Micros(std::chrono::seconds d) {
  return std::chrono::duration_cast<microseconds>(d).count();
}

// A time column: a whole number, which drivers give as Long or (past 32
// bits) as Double.
int64_t TimeValue(const Variant& v, std::string_view column) {
  if (v.kind() == Kind::kLong) return v.long_value();
  if (v.kind() == Kind::kDouble && std::isfinite(v.double_value())) {
    return std::llround(v.double_value());
  }
  Raise(ErrorCode::kHost, "The stored session's " + std::string(column) +
                              " is no time: " + v.Debug());
}

// A whole number as a statement's value: exact as Long or Double up to
// 2^53, and past that as its digits, which the databases read as the
// number their place asks for.
Variant Whole(int64_t v) {
  if (v >= INT32_MIN && v <= INT32_MAX) {
    return Variant::Long(static_cast<int32_t>(v));
  }
  constexpr int64_t kExact = int64_t{1} << 53;
  if (v >= -kExact && v <= kExact)
    return Variant::Double(static_cast<double>(v));
  return Variant::String(std::to_string(v));
}

// The single quotes of a text literal doubled.
std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

int64_t WholeNumber(const Variant& v) {
  if (v.kind() == Kind::kDouble && std::isfinite(v.double_value())) {
    return std::llround(v.double_value());
  }
  return v.ToLong();
}

constexpr std::string_view kColumns =
    "SessionKey, Data, Created, LastSeen, Expires, PersonID, Account, "
    "AccountKey, LoginID, Address, Browser";

class DatabaseSessionStore : public SessionStore {
 public:
  DatabaseSessionStore(ConnectionFactory connections, SessionLimits limits,
                       std::function<SessionClock::time_point()> now)
      : pool_(std::move(connections), kStoreConnections, kStoreWait),
        idle_(Micros(limits.idle)),
        absolute_(Micros(limits.absolute)),
        touch_(std::min(Micros(limits.idle) / 60, Micros(kLongestTouch))),
        now_(std::move(now)),
        last_sweep_(Micros(now_())) {
    Use("Sessions cannot be kept in this database", [](Connection& conn) {
      conn.Open("SELECT SessionKey FROM SYS_OnlineSession WHERE 1 = 0",
                CursorType::kForwardOnly)
          ->Close();
    });
  }

  // The session and, in the same statement, the office's rights version,
  // which the page would otherwise ask for on its own. On PostgreSQL the
  // statement also reads the person's newest live sessions, as List gives
  // them, which the main window lists on every page: across a network
  // each trip costs more than the reading. On SQLite, without a network
  // between, the one statement measured slower than the two once a person
  // held a few hundred sessions, so there the list keeps its own.
  std::optional<Entry> Load(const std::string& id) override {
    CheckId(id);
    const Variant key = Variant::String(SessionKey(id));
    const int64_t now = Micros(now_());
    const Variant values[] = {key, Whole(now),
                              Whole(static_cast<int64_t>(kListedWithLoad))};
    std::optional<Entry> out;
    Use("The session could not be read", [&](Connection& conn) {
      const bool with_list = conn.dialect().name() == "postgresql";
      static const std::string kOwn =
          "SELECT 0, SessionKey, Data, Created, LastSeen, Expires, PersonID, "
          "Account, LoginID, Address, Browser, (SELECT Version FROM "
          "SYS_Version WHERE Name = 'rights') FROM SYS_OnlineSession WHERE "
          "SessionKey = $1";
      // The limit goes as a value, as List's does: the plan the database
      // keeps for the statement then reads the person's index newest
      // first and stops at the limit, where a written-in limit has it
      // read and sort all of a person's sessions.
      static const std::string kWithList =
          kOwn +
          " UNION ALL SELECT * FROM (SELECT 1, SessionKey, '', Created, "
          "LastSeen, Expires, PersonID, Account, LoginID, Address, Browser, "
          "CAST(NULL AS bigint) FROM SYS_OnlineSession WHERE PersonID = "
          "(SELECT PersonID FROM SYS_OnlineSession WHERE SessionKey = $1) AND "
          "PersonID <> '' AND Expires > $2 ORDER BY Created DESC, SessionKey "
          "LIMIT $3) AS listed";
      auto rs = conn.OpenWith(with_list ? kWithList : kOwn,
                              with_list ? std::span<const Variant>(values)
                                        : std::span<const Variant>(values, 1),
                              CursorType::kForwardOnly);
      std::optional<std::string> data;
      int64_t created = 0;
      int64_t last_seen = 0;
      int64_t expires = 0;
      SessionHolder holder;
      std::optional<int64_t> version;
      std::vector<ListedSession> listed;
      while (!rs->Eof()) {
        const int64_t c = TimeValue(rs->Value(3), "Created");
        const int64_t seen = TimeValue(rs->Value(4), "LastSeen");
        SessionHolder h{rs->Value(6).ToText(), rs->Value(7).ToText(),
                        WholeNumber(rs->Value(8)), rs->Value(9).ToText(),
                        rs->Value(10).ToText()};
        if (WholeNumber(rs->Value(0)) == 0) {
          data = rs->Value(2).ToStringStrict();
          created = c;
          last_seen = seen;
          expires = TimeValue(rs->Value(5), "Expires");
          holder = std::move(h);
          const Variant v = rs->Value(11);
          if (!v.is_null()) version = WholeNumber(v);
        } else {
          listed.push_back(
              ListedSession{rs->Value(1).ToText(), std::move(h),
                            SessionClock::time_point(microseconds(c)),
                            SessionClock::time_point(microseconds(seen))});
        }
        rs->MoveNext();
      }
      rs->Close();
      if (!data || expires == 0) return;  // none, removed or ended
      if (now >= expires || now - last_seen >= idle_ ||
          now - created >= absolute_) {
        EndWhere(conn, "SessionKey = " + Quoted(key.string()), now);
        return;
      }
      const bool touch = now - last_seen >= touch_;
      if (touch) {
        const Variant touched[] = {Whole(now), Whole(Expiry(created, now)),
                                   key};
        conn.ExecuteWith(
            "UPDATE SYS_OnlineSession SET LastSeen = $1, Expires = $2 "
            "WHERE SessionKey = $3 AND Expires <> 0",
            touched);
      }
      out.emplace(host::SessionValuesFromText(*data),
                  SessionClock::time_point(microseconds(created)),
                  std::move(holder));
      out->rights_version = version;
      if (!with_list || out->holder.person.empty()) return;
      // The rows of a union come in no promised order.
      std::sort(listed.begin(), listed.end(),
                [](const ListedSession& a, const ListedSession& b) {
                  return a.signed_in != b.signed_in ? a.signed_in > b.signed_in
                                                    : a.key < b.key;
                });
      for (ListedSession& row : listed) {
        if (touch && row.key == key.string()) {
          row.last_seen = SessionClock::time_point(microseconds(now));
        }
      }
      out->listed = std::move(listed);
    });
    SweepIfDue(now);
    return out;
  }

  void Save(const std::string& id, Entry entry) override {
    CheckId(id);
    const int64_t now = Micros(now_());
    const int64_t created = Micros(entry.created);
    const std::string data = host::SessionValuesToText(entry.values);
    const SessionHolder& h = entry.holder;
    const std::string account = host::KeptText(h.account, kMaxHolderAccount);
    const Variant values[] = {
        Variant::String(SessionKey(id)),
        Variant::String(data),
        Whole(created),
        Whole(now),
        Whole(Expiry(created, now)),
        Variant::String(host::KeptText(h.person, 64)),
        Variant::String(account),
        Variant::String(LowerAscii(account)),
        Whole(std::max<int64_t>(h.login_id, 0)),
        Variant::String(host::KeptText(h.address, kMaxHolderAddress)),
        Variant::String(host::KeptText(h.browser, kMaxHolderBrowser))};
    Use("The session could not be stored", [&](Connection& conn) {
      conn.ExecuteWith(
          "INSERT INTO SYS_OnlineSession (" + std::string(kColumns) +
              ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) "
              "ON CONFLICT (SessionKey) DO UPDATE SET Data = excluded.Data, "
              "Created = excluded.Created, LastSeen = excluded.LastSeen, "
              "Expires = excluded.Expires, PersonID = excluded.PersonID, "
              "Account = excluded.Account, AccountKey = excluded.AccountKey, "
              "LoginID = excluded.LoginID, Address = excluded.Address, "
              "Browser = excluded.Browser WHERE SYS_OnlineSession.Expires <> 0",
          values);
    });
    SweepIfDue(now);
  }

  // The row stays for a while with Expires 0 (see kKeepRemoved).
  void Remove(const std::string& id) override {
    CheckId(id);
    const int64_t now = Micros(now_());
    Use("The session could not be removed", [&](Connection& conn) {
      EndWhere(conn, "SessionKey = " + Quoted(SessionKey(id)), now);
    });
  }

  SessionList List(const SessionQuery& query) override {
    const int64_t now = Micros(now_());
    std::vector<Variant> values;
    values.reserve(5);  // the time, account, person, page size and offset
    values.push_back(Whole(now));
    std::string where =
        " FROM SYS_OnlineSession WHERE PersonID <> '' AND Expires > $1";
    // The next mark, for the value just added.
    auto mark = [&values] { return Mark(values.size()); };
    if (!query.account.empty()) {
      values.push_back(Variant::String(
          LowerAscii(host::KeptText(query.account, kMaxHolderAccount))));
      where += " AND AccountKey = " + mark();
    }
    if (!query.person.empty()) {
      values.push_back(Variant::String(host::KeptText(query.person, 64)));
      where += " AND PersonID = " + mark();
    }
    SessionList out;
    Use("The sessions could not be listed", [&](Connection& conn) {
      if (query.count) {
        auto count = conn.OpenWith("SELECT COUNT(*)" + where, values,
                                   CursorType::kForwardOnly);
        out.total = count->Eof()
                        ? 0
                        : static_cast<size_t>(WholeNumber(count->Value(0)));
        count->Close();
        if (query.offset >= out.total) return;
      }
      // An offset past any number the database takes has no rows.
      if (query.limit == 0 || query.offset > kFurthestOffset) return;
      std::vector<Variant> paged = values;
      paged.push_back(
          Whole(static_cast<int64_t>(std::min(query.limit, kMostRows))));
      paged.push_back(Whole(static_cast<int64_t>(query.offset)));
      auto rs = conn.OpenWith(
          "SELECT SessionKey, PersonID, Account, LoginID, Address, Browser, "
          "Created, LastSeen" +
              where + " ORDER BY Created DESC, SessionKey LIMIT " +
              Mark(paged.size() - 1) + " OFFSET " + Mark(paged.size()),
          paged, CursorType::kForwardOnly);
      while (!rs->Eof()) {
        ListedSession row;
        row.key = rs->Value(0).ToText();
        row.holder = {rs->Value(1).ToText(), rs->Value(2).ToText(),
                      WholeNumber(rs->Value(3)), rs->Value(4).ToText(),
                      rs->Value(5).ToText()};
        row.signed_in = SessionClock::time_point(
            microseconds(TimeValue(rs->Value(6), "Created")));
        row.last_seen = SessionClock::time_point(
            microseconds(TimeValue(rs->Value(7), "LastSeen")));
        out.rows.push_back(std::move(row));
        rs->MoveNext();
      }
      rs->Close();
    });
    if (!query.count) {
      out.total = host::UncountedTotal(query.offset, out.rows.size());
    }
    return out;
  }

  bool End(const std::string& key, const std::string& person) override {
    if (!host::IsSessionId(key)) return false;  // a key has the same form
    const int64_t now = Micros(now_());
    std::string where = "SessionKey = " + Quoted(key) +
                        " AND PersonID <> '' AND Expires > " +
                        std::to_string(now);
    if (!person.empty())
      where += " AND PersonID = " + Quoted(host::KeptText(person, 64));
    size_t ended = 0;
    Use("The session could not be ended",
        [&](Connection& conn) { ended = EndWhere(conn, where, now); });
    return ended > 0;
  }

  size_t EndAllOf(const std::string& person) override {
    if (person.empty()) return 0;
    const int64_t now = Micros(now_());
    size_t ended = 0;
    Use("The sessions could not be ended", [&](Connection& conn) {
      ended = EndWhere(conn,
                       "PersonID = " + Quoted(host::KeptText(person, 64)) +
                           " AND Expires > " + std::to_string(now),
                       now);
    });
    return ended;
  }

  void Sweep() override { SweepAt(Micros(now_())); }

  // A row's Expires is never later than its idle or absolute end, so the
  // rows still to run out are the open sessions (of every host).
  std::optional<size_t> CountOpen() override {
    const int64_t now = Micros(now_());
    int64_t open = 0;
    Use("The open sessions could not be counted", [&](Connection& conn) {
      auto rs =
          conn.Open("SELECT COUNT(*) FROM SYS_OnlineSession WHERE Expires > " +
                        std::to_string(now),
                    CursorType::kForwardOnly);
      open = rs->Value(0).ToLong();
      rs->Close();
    });
    return static_cast<size_t>(open);
  }

 private:
  static void CheckId(const std::string& id) {
    if (!host::IsSessionId(id)) {
      Raise(ErrorCode::kInvalidArgument, "This is no session identifier");
    }
  }

  int64_t Expiry(int64_t created, int64_t now) const {
    return std::min(now + idle_, created + absolute_);
  }

  // Ends the rows of `where` that are not ended yet, in one transaction:
  // the sign-out time of their login records (only where none is written
  // yet, with the database's clock), then the rows emptied and marked.
  // Returns how many rows it ended.
  static size_t EndWhere(Connection& conn, const std::string& where,
                         int64_t now) {
    const std::string live = "(" + where + ") AND Expires <> 0";
    Transaction tx(conn);
    auto rs = conn.Open("SELECT COUNT(*) FROM SYS_OnlineSession WHERE " + live,
                        CursorType::kForwardOnly);
    const auto count =
        rs->Eof() ? 0 : static_cast<size_t>(WholeNumber(rs->Value(0)));
    rs->Close();
    if (count > 0) {
      conn.Execute(host::SignOutStatement(
          conn, "SELECT LoginID FROM SYS_OnlineSession WHERE LoginID > 0 AND " +
                    live));
      conn.Execute("UPDATE SYS_OnlineSession SET Data = '[]', LastSeen = " +
                   std::to_string(now) + ", Expires = 0 WHERE " + live);
    }
    tx.Commit();
    return count;
  }

  // Runs `work` on a pooled connection; the connection goes back to the
  // pool only when the work went well. A failure is raised with `context`
  // in front of the database's own message.
  template <class Work>
  void Use(std::string_view context, Work&& work) {
    std::shared_ptr<Connection> conn;
    try {
      conn = pool_.Acquire();
      work(*conn);
    } catch (const std::exception& e) {
      pool_.Discard(std::move(conn));
      // A database that cannot serve just now stays a busy answer (503);
      // the factory of a command may raise errors of its own kind.
      const auto* error = dynamic_cast<const Error*>(&e);
      Raise(error != nullptr && error->code() == ErrorCode::kUnavailable
                ? ErrorCode::kUnavailable
                : ErrorCode::kHost,
            std::string(context) + ": " + e.what());
    }
    pool_.Release(std::move(conn));
  }

  // Once a minute (per process) the rows past their time are ended, and
  // those ended long enough ago deleted.
  void SweepIfDue(int64_t now) {
    int64_t last = last_sweep_.load();
    if (now - last < Micros(std::chrono::seconds(kSweepEvery))) return;
    if (!last_sweep_.compare_exchange_strong(last, now)) return;
    SweepAt(now);
  }

  void SweepAt(int64_t now) {
    last_sweep_ = now;
    Use("Run-out sessions could not be removed", [&](Connection& conn) {
      EndWhere(conn, "Expires > 0 AND Expires <= " + std::to_string(now), now);
      conn.Execute(
          "DELETE FROM SYS_OnlineSession WHERE Expires = 0 AND LastSeen <= " +
          std::to_string(now - Micros(std::chrono::seconds(kKeepRemoved))));
    });
  }

  host::ConnectionPool pool_;
  const int64_t idle_;
  const int64_t absolute_;
  const int64_t touch_;
  const std::function<SessionClock::time_point()> now_;
  std::atomic<int64_t> last_sweep_;
};

}  // namespace

SessionsEnded MakeSignOutRecorder(ConnectionFactory connections) {
  auto pool = std::make_shared<host::ConnectionPool>(std::move(connections), 2,
                                                     kStoreWait);
  return [pool](const std::vector<int64_t>& login_ids) {
    std::shared_ptr<Connection> conn;
    try {
      conn = pool->Acquire();
      host::RecordSignOuts(*conn, login_ids);
    } catch (const std::exception& e) {
      pool->Discard(std::move(conn));
      Raise(
          ErrorCode::kHost,
          std::string("The sign-out times could not be written: ") + e.what());
    }
    pool->Release(std::move(conn));
  };
}

std::unique_ptr<SessionStore> MakeDatabaseSessionStore(
    ConnectionFactory connections, SessionLimits limits,
    std::function<SessionClock::time_point()> now) {
  return std::make_unique<DatabaseSessionStore>(std::move(connections), limits,
                                                std::move(now));
}

}  // namespace wrenhaven
