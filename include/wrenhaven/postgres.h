// A PostgreSQL server as the office database.
#ifndef WRENHAVEN_POSTGRES_H_
#define WRENHAVEN_POSTGRES_H_

#include <memory>
#include <string>

#include "wrenhaven/connection.h"

namespace wrenhaven {

// Connects to the server that `address` names: a postgresql:// (or
// postgres://) address such as postgresql://user@127.0.0.1:5432/office, or
// any other connection string the PostgreSQL client library reads. Raises
// an Error with the server's message (and the address, its password
// masked) when the connection cannot be made. The connection is for one
// thread at a time; every statement runs on its own, committed at once.
//
// Values come back as on the embedded database: whole numbers as Long
// (Double beyond 32 bits), real and numeric values as Double, text as
// String, NULL as Null, timestamps and dates as dates. Unquoted names are
// folded to lower case by the server, so field names read back from it
// (the "Select *" columns, unaliased and aliased fields alike) are in
// lower case; look fields up by name without regard to letter case.
std::shared_ptr<Connection> OpenPostgres(const std::string& address);

// `address` as it may be shown or logged: any password in it masked.
std::string MaskPassword(std::string address);

}  // namespace wrenhaven

#endif  // WRENHAVEN_POSTGRES_H_
