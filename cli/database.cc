#include <string_view>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::cli {

// A PostgreSQL server is named by its address; anything else is the path
// of a SQLite file.
bool IsPostgresAddress(std::string_view db) {
  return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

std::shared_ptr<Connection> OpenDatabase(const std::string& db, bool create) {
  if (db.empty()) {
    throw CommandError(
        "no database given: use --db PATH or --db postgresql://ADDRESS");
  }
  try {
    // The server's database must exist already; `create` concerns files.
    if (IsPostgresAddress(db)) return OpenPostgres(db);
    return OpenSqlite(db, create);
  } catch (const Error& e) {
    throw CommandError(e.what());
  }
}

}  // namespace wrenhaven::cli
