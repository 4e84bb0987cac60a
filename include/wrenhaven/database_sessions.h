// Sessions kept in the office database (table SYS_OnlineSession), so that every
// page host on the same database sees the same sessions: a person signed
// in through one host is signed in on all, and signing out on one signs
// out on all.
//
//   ConnectionFactory connections = ...;  // the host's own factory
//   HttpHost host(options, connections,
//                 MakeDatabaseSessionStore(connections, limits));
//
// A row is found by the SHA-256 of the session's identifier (SessionKey);
// the identifier itself is never stored, so the table's contents sign
// nobody in. Each row holds the values as text (every kind kept, arrays with
// their bounds; objects other than Nothing cannot be stored), the start, the
// last use and the time it runs out. A row past its idle or absolute limit
// is never honoured: it is removed when next asked for, and once a minute
// every run-out row goes. The time of last use is written again only when
// it is older than the idle limit's sixtieth (at most 15 seconds), so most
// pages read their session without writing it; a session may thus end up
// to that much before its full idle time. A removed session (signed out)
// keeps its row, emptied and marked, for ten minutes: a page that was
// still running elsewhere cannot store it again. A signed-in row also
// names its holder (person, account, login record, address, browser) for
// the list of sessions; when it ends (signed out, run out, ended by force)
// the login record's loginOutTime is written in the same transaction,
// only where it is still empty, with the database's clock. Reading a
// session also reads the office's rights version (SessionStore::Entry::
// rights_version) in the same statement, so a page that follows the
// rights needs no trip of its own for it.
//
// Every database failure raises, so the page shows the error page rather
// than a signed-out visitor.
#ifndef WRENHAVEN_DATABASE_SESSIONS_H_
#define WRENHAVEN_DATABASE_SESSIONS_H_

#include <functional>
#include <memory>

#include "wrenhaven/http_host.h"

namespace wrenhaven {

// Connections come from `connections` (the host's own factory will do).
// Raises kHost
// when the database has no SYS_OnlineSession table (CreateSchema makes it) or
// cannot be reached. `now` is the clock the limits are measured with.
std::unique_ptr<SessionStore> MakeDatabaseSessionStore(
    ConnectionFactory connections, SessionLimits limits,
    std::function<SessionClock::time_point()> now = &SessionClock::now);

// For a store that has no database of its own (the memory store): writes
// the sign-out time of the ended sessions' login records through
// connections from `connections`, with the database's clock, only where
// none is written yet.
SessionsEnded MakeSignOutRecorder(ConnectionFactory connections);

}  // namespace wrenhaven

#endif  // WRENHAVEN_DATABASE_SESSIONS_H_
