// Sessions kept in the office database (table SYS_Session), so that every
// page host on the same database sees the same sessions: a person signed
// in through one host is signed in on all, and signing out on one signs
// out on all.
//
//   ConnectionFactory connections = ...;  // the host's own factory
//   HttpHost host(options, connections,
//                 MakeDatabaseSessionStore(connections, limits));
//
// Each row holds the values as text (every kind kept, arrays with their
// bounds; objects other than Nothing cannot be stored), the start, the
// last use and the time it runs out. A row past its idle or absolute limit
// is never honoured: it is removed when next asked for, and once a minute
// every run-out row goes. The time of last use is written again only when
// it is older than the idle limit's sixtieth (at most 15 seconds), so most
// pages read their session without writing it; a session may thus end up
// to that much before its full idle time. A removed session (signed out)
// keeps its row, emptied and marked, for ten minutes: a page that was
// still running elsewhere cannot store it again.
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
// when the database has no SYS_Session table (CreateSchema makes it) or
// cannot be reached. `now` is the clock the limits are measured with.
std::unique_ptr<SessionStore> MakeDatabaseSessionStore(
    ConnectionFactory connections, SessionLimits limits,
    std::function<SessionClock::time_point()> now = &SessionClock::now);

}  // namespace wrenhaven

#endif  // WRENHAVEN_DATABASE_SESSIONS_H_
