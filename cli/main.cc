// The `wrenhaven` command: set up a database, call the library's classes,
// serve the office system, back it up, export and prune old records.
#include <iostream>

#include "cli/commands.h"
#include "wrenhaven/error.h"

int main(int argc, char** argv) {
  using namespace wrenhaven::cli;
  CLI::App app{"Wrenhaven office system"};
  app.require_subcommand(1);
  Action action;
  AddInitCommand(app, &action);
  AddCallCommand(app, &action);
  AddPasswordsCommand(app, &action);
  AddServeCommand(app, &action);
  AddBackupCommand(app, &action);
  AddRecordsCommands(app, &action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  try {
    return action ? action() : 2;
  } catch (const CommandError& e) {
    std::cerr << "wrenhaven: " << e.what() << "\n";
  } catch (const wrenhaven::Error& e) {
    std::cerr << "wrenhaven: " << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "wrenhaven: " << e.what() << "\n";
  }
  return 2;
}
