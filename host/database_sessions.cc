// Sessions in the SYS_Session table. The statements are the same text on
// every database; times are whole microseconds since 1970, so they compare
// as plain numbers there.
#include "wrenhaven/database_sessions.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "host/connection_pool.h"
#include "host/session_text.h"
#include "host/sessions.h"
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
constexpr size_t kIdleConnections = 8;

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

class DatabaseSessionStore : public SessionStore {
 public:
  DatabaseSessionStore(ConnectionFactory connections, SessionLimits limits,
                       std::function<SessionClock::time_point()> now)
      : pool_(std::move(connections), kIdleConnections),
        idle_(Micros(limits.idle)),
        absolute_(Micros(limits.absolute)),
        touch_(std::min(Micros(limits.idle) / 60, Micros(kLongestTouch))),
        now_(std::move(now)),
        last_sweep_(Micros(now_())) {
    Use("Sessions cannot be kept in this database", [](Connection& conn) {
      conn.Open("SELECT SessionID FROM SYS_Session WHERE 1 = 0",
                CursorType::kForwardOnly)
          ->Close();
    });
  }

  std::optional<Entry> Load(const std::string& id) override {
    CheckId(id);
    const int64_t now = Micros(now_());
    std::optional<Entry> out;
    Use("The session could not be read", [&](Connection& conn) {
      auto rs = conn.Open(
          "SELECT Data, Created, LastSeen, Expires FROM SYS_Session WHERE "
          "SessionID = " +
              Quoted(id),
          CursorType::kForwardOnly);
      if (rs->Eof()) return;
      const std::string data = rs->Value(0).ToStringStrict();
      const int64_t created = TimeValue(rs->Value(1), "Created");
      const int64_t last_seen = TimeValue(rs->Value(2), "LastSeen");
      const int64_t expires = TimeValue(rs->Value(3), "Expires");
      rs->Close();
      if (expires == 0) return;  // removed
      if (now >= expires || now - last_seen >= idle_ ||
          now - created >= absolute_) {
        conn.Execute("DELETE FROM SYS_Session WHERE SessionID = " + Quoted(id));
        return;
      }
      Entry entry{host::SessionValuesFromText(data),
                  SessionClock::time_point(microseconds(created))};
      if (now - last_seen >= touch_) {
        conn.Execute(
            "UPDATE SYS_Session SET LastSeen = " + std::to_string(now) +
            ", Expires = " + std::to_string(Expiry(created, now)) +
            " WHERE SessionID = " + Quoted(id));
      }
      out = std::move(entry);
    });
    Sweep(now);
    return out;
  }

  void Save(const std::string& id, Entry entry) override {
    CheckId(id);
    const int64_t now = Micros(now_());
    const int64_t created = Micros(entry.created);
    const std::string data = host::SessionValuesToText(entry.values);
    Use("The session could not be stored", [&](Connection& conn) {
      conn.Execute(
          "INSERT INTO SYS_Session (SessionID, Data, Created, LastSeen, "
          "Expires) VALUES (" +
          Quoted(id) + ", " + Quoted(data) + ", " + std::to_string(created) +
          ", " + std::to_string(now) + ", " +
          std::to_string(Expiry(created, now)) +
          ") ON CONFLICT (SessionID) DO UPDATE SET Data = excluded.Data, "
          "Created = excluded.Created, LastSeen = excluded.LastSeen, "
          "Expires = excluded.Expires WHERE SYS_Session.Expires <> 0");
    });
    Sweep(now);
  }

  // The row stays for a while with Expires 0 (see kKeepRemoved).
  void Remove(const std::string& id) override {
    CheckId(id);
    const int64_t now = Micros(now_());
    Use("The session could not be removed", [&](Connection& conn) {
      conn.Execute("UPDATE SYS_Session SET Data = '[]', LastSeen = " +
                   std::to_string(now) +
                   ", Expires = 0 WHERE SessionID = " + Quoted(id));
    });
  }

  // A row's Expires is never later than its idle or absolute end, so the
  // rows still to run out are the open sessions (of every host).
  std::optional<size_t> CountOpen() override {
    const int64_t now = Micros(now_());
    int64_t open = 0;
    Use("The open sessions could not be counted", [&](Connection& conn) {
      auto rs = conn.Open("SELECT COUNT(*) FROM SYS_Session WHERE Expires > " +
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
      Raise(ErrorCode::kInvalidArgument,
            "\"" + id.substr(0, 80) + "\" is no session identifier");
    }
  }

  int64_t Expiry(int64_t created, int64_t now) const {
    return std::min(now + idle_, created + absolute_);
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
      pool_.Release(std::move(conn), /*reuse=*/false);
      // The factory of a command may raise errors of its own kind.
      Raise(ErrorCode::kHost, std::string(context) + ": " + e.what());
    }
    pool_.Release(std::move(conn));
  }

  // Once a minute (per process) the rows past their time are deleted, and
  // those removed long enough ago.
  void Sweep(int64_t now) {
    int64_t last = last_sweep_.load();
    if (now - last < Micros(std::chrono::seconds(kSweepEvery))) return;
    if (!last_sweep_.compare_exchange_strong(last, now)) return;
    Use("Run-out sessions could not be removed", [&](Connection& conn) {
      conn.Execute(
          "DELETE FROM SYS_Session WHERE (Expires > 0 AND Expires <= " +
          std::to_string(now) + ") OR (Expires = 0 AND LastSeen <= " +
          std::to_string(now - Micros(std::chrono::seconds(kKeepRemoved))) +
          ")");
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

std::unique_ptr<SessionStore> MakeDatabaseSessionStore(
    ConnectionFactory connections, SessionLimits limits,
    std::function<SessionClock::time_point()> now) {
  return std::make_unique<DatabaseSessionStore>(std::move(connections), limits,
                                                std::move(now));
}

}  // namespace wrenhaven
