// wrenhaven init --db PATH [--demo [--size small|large]]
#include <iostream>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/schema.h"

namespace wrenhaven::cli {

void AddInitCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand(
      "init", "Create the office tables (and the demo office) in a database");
  auto db = std::make_shared<std::string>();
  auto demo = std::make_shared<bool>(false);
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
  AddCostOptions(*cmd, *o);
  cmd->callback([=] {
    *action = [=]() -> int {
      ApplySignInOptions(*o);
      const bool large = *size == "large";
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
                << "\n";
      return 0;
    };
  });
}

}  // namespace wrenhaven::cli
