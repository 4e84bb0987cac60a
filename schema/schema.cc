#include "wrenhaven/schema.h"

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
