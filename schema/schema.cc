#include <string>

#include "schema/schema_internal.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/schema.h"

namespace wrenhaven {

void CreateSchema(Connection& conn) {
  const std::string_view db = conn.dialect().name();
  if (db == "sqlite") {
    for (std::string_view s : SqliteSchema()) conn.Execute(s);
    return;
  }
  if (db == "postgresql") {
    for (std::string_view s : PostgresSchema()) conn.Execute(s);
    return;
  }
  Raise(ErrorCode::kInvalidArgument,
        "No table definitions for the database " + std::string(db));
}

void LoadDemoData(Connection& conn) {
  for (std::string_view s : DemoData()) conn.Execute(s);
}

}  // namespace wrenhaven
