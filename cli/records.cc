// wrenhaven logins --db DB --before DATE [--export FILE.csv] [--prune]
// wrenhaven audit  --db DB --before DATE [--export FILE.csv] [--prune]
//
// The login records (or the audit trail's rows) older than DATE written to
// a new CSV file, and with --prune deleted once they are in it, in batches
// of short transactions so that the office keeps serving.
#include <unistd.h>

#include <iostream>
#include <string>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/retention.h"

namespace wrenhaven::cli {
namespace {

struct RecordsOptions {
  std::string db;
  std::string before;
  std::string export_path;
  bool prune = false;
  int batch = 1000;
};

int Run(RecordTable table, const RecordsOptions& o) {
  if (o.export_path.empty() && !o.prune) {
    throw CommandError("give --export FILE, --prune, or both");
  }
  const char* what =
      table == RecordTable::kLogins ? "login records" : "audit trail rows";
  auto conn = OpenDatabase(o.db, /*create=*/false);
  RetentionOptions options;
  options.table = table;
  options.before = o.before;
  options.export_path = o.export_path;
  options.prune = o.prune;
  options.batch_rows = o.batch;
  ProgressBar bar;
  const bool terminal = isatty(STDERR_FILENO) == 1;
  if (terminal) {
    options.progress = [&](int64_t done, int64_t total) {
      bar.Show(std::to_string(done) + "/" + std::to_string(total) + " " + what,
               done, total);
    };
  }
  RetentionResult result;
  try {
    result = KeepRecords(*conn, options);
  } catch (const Error& e) {
    if (terminal) bar.Done();
    throw CommandError(e.what());
  }
  if (terminal && (result.exported > 0 || result.deleted > 0)) bar.Done();
  if (!o.export_path.empty()) {
    std::cout << "Exported " << result.exported << " " << what << " older than "
              << o.before << " to " << o.export_path << "\n";
  }
  if (o.prune) {
    std::cout << "Deleted " << result.deleted << " " << what << " older than "
              << o.before << " from " << MaskPassword(o.db) << "\n";
  }
  return 0;
}

void AddRecordsCommand(CLI::App& app, Action* action, const char* name,
                       const char* description, RecordTable table) {
  auto* cmd = app.add_subcommand(name, description);
  auto o = std::make_shared<RecordsOptions>();
  cmd->add_option("--db", o->db, "SQLite file, or postgresql:// address")
      ->required();
  cmd->add_option("--before", o->before,
                  "Records older than this: YYYY-MM-DD (its midnight) or "
                  "\"YYYY-MM-DD HH:MM:SS\", the office's local time")
      ->required();
  cmd->add_option("--export", o->export_path,
                  "A new CSV file to write them to (an existing one is "
                  "refused)");
  cmd->add_flag("--prune", o->prune,
                "Delete them, each batch once it is written to the file");
  cmd->add_option("--batch", o->batch, "Records per batch and transaction")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  cmd->callback([=] { *action = [=] { return Run(table, *o); }; });
}

}  // namespace

void AddRecordsCommands(CLI::App& app, Action* action) {
  AddRecordsCommand(app, action, "logins",
                    "Export (and prune) the login records older than a date",
                    RecordTable::kLogins);
  AddRecordsCommand(app, action, "audit",
                    "Export (and prune) the audit trail's rows older than a "
                    "date",
                    RecordTable::kAudit);
}

}  // namespace wrenhaven::cli
