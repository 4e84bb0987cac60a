#include "wrenhaven/schema.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "frame/statement.h"
#include "login/password.h"
#include "schema/schema_internal.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sign_in.h"

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
  Transaction tx(conn);
  for (std::string_view s : DemoData()) conn.Execute(s);
  // The demo people are written with their public passwords and stored
  // as hashes, like every password.
  HashStoredPasswords(conn, CurrentSignInPolicy().cost);
  tx.Commit();
}

// Read on every signed-in request: with no values, the text is still sent
// as one a driver prepares once per connection.
int64_t RightsVersion(Connection& conn) {
  std::unique_ptr<Recordset> rs =
      conn.OpenWith("SELECT Version FROM SYS_Version WHERE Name='rights'", {},
                    CursorType::kStatic);
  if (rs->Eof()) {
    Raise(ErrorCode::kDatabase,
          "The database has no rights version (SYS_Version 'rights'): "
          "'wrenhaven init' adds it");
  }
  const Variant version = rs->Value(0);
  rs->Close();
  // Whole numbers past 32 bits come back as Double.
  return version.kind() == Kind::kDouble
             ? static_cast<int64_t>(std::llround(version.ToDouble()))
             : version.ToLong();
}

bool HoldsDemoPasswords(Connection& conn) {
  for (const DemoAccount& demo : DemoAccounts()) {
    Statement find;
    find.Text("Select personPwd from HR_person where personAccount='")
        .Quoted(Variant::String(std::string(demo.account)))
        .Text("'");
    std::unique_ptr<Recordset> rs =
        conn.Open(find.Finish(), CursorType::kForwardOnly);
    std::vector<std::string> stored;
    while (!rs->Eof()) {
      stored.push_back(rs->Value(0).ToText());
      rs->MoveNext();
    }
    rs->Close();
    for (const std::string& value : stored) {
      if (password::Verify(value, std::string(demo.password))) return true;
    }
  }
  return false;
}

}  // namespace wrenhaven
