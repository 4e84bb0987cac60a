// wrenhaven backup --db FILE --to FILE [--pages N] [--pause MS]
#include <iostream>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::cli {

void AddBackupCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand(
      "backup", "Copy a SQLite office to a new file while it serves");
  auto db = std::make_shared<std::string>();
  auto to = std::make_shared<std::string>();
  auto pages = std::make_shared<int>(SqliteBackupOptions{}.pages_per_step);
  auto pause = std::make_shared<int>(
      static_cast<int>(SqliteBackupOptions{}.pause.count()));
  cmd->add_option("--db", *db, "The SQLite file of the office")->required();
  cmd->add_option("--to", *to, "The new file to copy it to")->required();
  cmd->add_option("--pages", *pages, "Pages copied at a time")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  cmd->add_option("--pause", *pause,
                  "Milliseconds between two steps, for the office's writers")
      ->check(CLI::Range(0, 10000))
      ->capture_default_str();
  cmd->callback([=] {
    *action = [=]() -> int {
      if (IsPostgresAddress(*db)) {
        throw CommandError(
            "backup copies SQLite offices; back up a PostgreSQL office with "
            "pg_dump");
      }
      SqliteBackupOptions options;
      options.pages_per_step = *pages;
      options.pause = std::chrono::milliseconds(*pause);
      try {
        BackupSqlite(*db, *to, options);
      } catch (const Error& e) {
        throw CommandError(e.what());
      }
      std::cout << "Backed up " << *db << " to " << *to << "\n";
      return 0;
    };
  });
}

}  // namespace wrenhaven::cli
