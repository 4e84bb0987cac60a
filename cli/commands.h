// The subcommands of `wrenhaven`. Each adds itself to the application and
// says what to run when it is chosen; the action returns the exit code.
#ifndef WRENHAVEN_CLI_COMMANDS_H_
#define WRENHAVEN_CLI_COMMANDS_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "wrenhaven/connection.h"

namespace wrenhaven::cli {

using Action = std::function<int()>;

// A failure of the command itself (bad options, unknown identifier, a
// database that cannot be opened): one line on stderr, exit code 2.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens the database that --db names. Raises CommandError when it cannot.
std::shared_ptr<Connection> OpenDatabase(const std::string& db, bool create);

void AddInitCommand(CLI::App& app, Action* action);
// The large demo office (schema/large_office.h), with a progress bar on a
// terminal.
void LoadLargeDemo(Connection& conn);
void AddCallCommand(CLI::App& app, Action* action);
void AddServeCommand(CLI::App& app, Action* action);

}  // namespace wrenhaven::cli

#endif  // WRENHAVEN_CLI_COMMANDS_H_
