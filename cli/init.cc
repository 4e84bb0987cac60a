// wrenhaven init --db PATH [--demo [--size small|large] | --from BACKUP]
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
  auto size = std::make_shared<std::string>("small");
  CLI::Option* demo_flag =
      cmd->add_flag("--demo", *demo,
                    "Load the demo office into empty tables (its passwords "
                    "are stored hashed)");
  cmd->add_option("--size", *size,
                  "With --demo: small (ten people) or large (100,000 people, "
                  "1,000,000 login records)")
      ->check(CLI::IsMember({"small", "large"}))
      ->needs(demo_flag);
  cmd->add_option("--from", *from,
                  "Restore a backup made by `wrenhaven backup` into a new "
                  "SQLite file (or one without people), then complete it")
      ->excludes(demo_flag);
  AddCostOptions(*cmd, *o);
  cmd->callback([=] {
    *action = [=]() -> int {
      ApplySignInOptions(*o);
      const bool large = *size == "large";
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
            if (large) {
              LoadLargeDemo(*conn);
            } else {
              LoadDemoData(*conn);
            }
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
                << (*demo ? large ? " (large demo office)" : " (demo office)"
                          : "")
                << (from->empty() ? "" : " (restored from " + *from + ")")
                << "\n";
      return 0;
    };
  });
}

}  // namespace wrenhaven::cli
