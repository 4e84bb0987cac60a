// The sign-out time of a login record (HR_Login's loginOutTime), written
// once when the signed-in session of that record ends.
#ifndef WRENHAVEN_HOST_SIGN_OUTS_H_
#define WRENHAVEN_HOST_SIGN_OUTS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/connection.h"

namespace wrenhaven::host {

// The database's own local date and time, to the second, as loginTime is
// written: SQLite's datetime('now','localtime'), PostgreSQL's
// LOCALTIMESTAMP(0). Raises kInvalidArgument for another database.
std::string DatabaseNow(const Connection& conn);

// "UPDATE HR_Login SET loginOutTime = <now> WHERE loginOutTime IS NULL AND
// LoginID IN (<ids>)": `ids` is a list of numbers or a query giving them.
// A record that has its time already keeps it.
std::string SignOutStatement(const Connection& conn, std::string_view ids);

// Writes the sign-out time of each record of `login_ids` that has none
// yet. Nothing is sent for an empty list.
void RecordSignOuts(Connection& conn, const std::vector<int64_t>& login_ids);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_SIGN_OUTS_H_
