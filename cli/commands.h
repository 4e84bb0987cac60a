// The subcommands of `wrenhaven`. Each adds itself to the application and
// says what to run when it is chosen; the action returns the exit code.
#ifndef WRENHAVEN_CLI_COMMANDS_H_
#define WRENHAVEN_CLI_COMMANDS_H_

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "wrenhaven/connection.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven::cli {

using Action = std::function<int()>;

// A failure of the command itself (bad options, unknown identifier, a
// database that cannot be opened): one line on stderr, exit code 2.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True for a PostgreSQL address (postgresql://, postgres://); anything else
// names a SQLite file.
bool IsPostgresAddress(std::string_view db);

// Opens the database that --db names. Raises CommandError when it cannot.
std::shared_ptr<Connection> OpenDatabase(const std::string& db, bool create);

// The sign-in policy's options shared by init, passwords and serve:
// --hash-preset, --hash-memory, --hash-passes, and for serve also
// --signin-limits, --verifier-threads, --verifiers and --device-key-file.
struct SignInOptions {
  std::string preset = "standard";
  int memory_mib = 0;  // 0: the preset's
  int passes = 0;      // 0: the preset's
  std::string limits;  // "": the defaults
  unsigned verifier_threads = 0;
  std::string verifiers;  // "": the library's default
  std::string device_key_file;
};
void AddCostOptions(CLI::App& cmd, SignInOptions& o);
void AddLimitOptions(CLI::App& cmd, SignInOptions& o);
// Sets the process's sign-in policy from the options; raises CommandError
// for a malformed value.
void ApplySignInOptions(const SignInOptions& o);
// "off", or a comma list of LIMIT=ATTEMPTS/WINDOW where LIMIT is pair,
// address or account and WINDOW a whole number with s, m or h.
SignInLimits ParseSignInLimits(const std::string& text);

// A progress bar on stderr: one line, redrawn in place when the share
// done or the text changes.
class ProgressBar {
 public:
  void Show(std::string_view what, int64_t done, int64_t total);
  void Done();

 private:
  int shown_ = -1;
  std::string what_;
};

void AddInitCommand(CLI::App& app, Action* action);
void AddPasswordsCommand(CLI::App& app, Action* action);
// The large demo office (schema/large_office.h), with a progress bar on a
// terminal.
void LoadLargeDemo(Connection& conn);
void AddCallCommand(CLI::App& app, Action* action);
void AddServeCommand(CLI::App& app, Action* action);
void AddBackupCommand(CLI::App& app, Action* action);
// `logins` and `audit`: export and prune old login records or audit rows.
void AddRecordsCommands(CLI::App& app, Action* action);

}  // namespace wrenhaven::cli

#endif  // WRENHAVEN_CLI_COMMANDS_H_
