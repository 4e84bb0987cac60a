#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::cli {

std::shared_ptr<Connection> OpenDatabase(const std::string& db, bool create) {
  if (db.empty()) throw CommandError("no database given: use --db PATH");
  try {
    return OpenSqlite(db, create);
  } catch (const Error& e) {
    throw CommandError(e.what());
  }
}

}  // namespace wrenhaven::cli
