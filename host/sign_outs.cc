#include "host/sign_outs.h"

#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {

std::string DatabaseNow(const Connection& conn) {
  const std::string_view db = conn.dialect().name();
  if (db == "sqlite") return "datetime('now','localtime')";
  if (db == "postgresql") return "LOCALTIMESTAMP(0)";
  Raise(ErrorCode::kInvalidArgument,
        "No sign-out time can be written on the database " + std::string(db));
}

std::string SignOutStatement(const Connection& conn, std::string_view ids) {
  return "UPDATE HR_Login SET loginOutTime = " + DatabaseNow(conn) +
         " WHERE loginOutTime IS NULL AND LoginID IN (" + std::string(ids) +
         ")";
}

void RecordSignOuts(Connection& conn, const std::vector<int64_t>& login_ids) {
  std::string ids;
  for (const int64_t id : login_ids) {
    if (id <= 0) continue;
    if (!ids.empty()) ids += ',';
    ids += std::to_string(id);
  }
  if (ids.empty()) return;
  conn.Execute(SignOutStatement(conn, ids));
}

}  // namespace wrenhaven::host
