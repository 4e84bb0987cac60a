// The embedded default database: one SQLite file.
#ifndef WRENHAVEN_SQLITE_H_
#define WRENHAVEN_SQLITE_H_

#include <memory>
#include <string>

#include "wrenhaven/connection.h"

namespace wrenhaven {

// Opens the database file at `path`, creating it when `create` is true and
// it does not exist, in WAL mode with foreign keys enforced as the schema
// declares them. Raises an Error with SQLite's message when the file cannot
// be opened. The connection is for one thread at a time.
//
// Values come back as: whole numbers as Long (Double beyond 32 bits), reals
// as Double, text as String, NULL as Null; columns declared DATETIME,
// DATE or TIMESTAMP, and unnamed expressions over them that yield
// "YYYY-MM-DD HH:MM:SS" (MAX(loginTime)), as dates.
std::shared_ptr<Connection> OpenSqlite(const std::string& path,
                                       bool create = true);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SQLITE_H_
