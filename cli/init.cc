// wrenhaven init --db PATH [--demo | --from BACKUP]
#include <iostream>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::cli {

void AddInitCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand(
      "init", "Create the office tables (and the demo office) in a database");
  auto db = std::make_shared<std::string>();
  auto demo = std::make_shared<bool>(false);
  auto from = std::make_shared<std::string>();
  auto o = std::make_shared<SignInOptions>();
  cmd->add_option(
         "--db", *db,
         "SQLite file, or postgresql:// address, to create or complete")
      ->required();
  auto* demo_flag =
      cmd->add_flag("--demo", *demo,
                    "Load the demo office into empty tables (its passwords are "
                    "stored hashed)");
  cmd->add_option("--from", *from,
                  "Restore a backup made by `wrenhaven backup` into a new "
                  "SQLite file (or one without people), then complete it")
      ->excludes(demo_flag);
  AddCostOptions(*cmd, *o);
  cmd->callback([=] {
    *action = [=]() -> int {
      ApplySignInOptions(*o);
      if (!from->empty()) {
        if (IsPostgresAddress(*db)) {
          throw CommandError(
              "--from restores SQLite backups; restore a PostgreSQL office "
              "with pg_restore or psql");
        }
        try {
          RestoreSqlite(*from, *db);
        } catch (const Error& e) {
          throw CommandError(e.what());
        }
      }
      auto conn = OpenDatabase(*db, /*create=*/true);
      try {
        CreateSchema(*conn);
        if (*demo) {
          auto rs =
              conn->Open("SELECT COUNT(*) FROM HR_person", CursorType::kStatic);
          const bool empty = rs->Value(0).ToLong() == 0;
          rs->Close();
          if (empty) {
            LoadDemoData(*conn);
          } else {
            std::cerr
                << "wrenhaven: " << MaskPassword(*db)
                << " already holds people; the demo office was not loaded\n";
          }
        }
      } catch (const Error& e) {
        throw CommandError(e.what());
      }
      std::cout << "Office tables ready in " << MaskPassword(*db)
                << (*demo ? " (demo office)" : "")
                << (from->empty() ? "" : " (restored from " + *from + ")")
                << "\n";
      return 0;
    };
  });
}

}  // namespace wrenhaven::cli
