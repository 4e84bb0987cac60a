// wrenhaven passwords --db DB (--hash-all | --set ACCOUNT)
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "cli/commands.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"

namespace wrenhaven::cli {
namespace {

// One line of standard input; on a terminal asked for without echo.
std::string ReadSecretLine(const char* prompt) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << "\n";
  }
  if (!read) throw CommandError("no password on standard input");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

void AddPasswordsCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand(
      "passwords", "Hash the stored passwords, or set one person's");
  auto db = std::make_shared<std::string>();
  auto hash_all = std::make_shared<bool>(false);
  auto account = std::make_shared<std::string>();
  auto o = std::make_shared<SignInOptions>();
  cmd->add_option("--db", *db, "SQLite file, or postgresql:// address")
      ->required();
  auto* all = cmd->add_flag(
      "--hash-all", *hash_all,
      "Replace every stored password that is not a hash by its hash");
  auto* set = cmd->add_option(
      "--set", *account,
      "Store a new password for ACCOUNT, read from standard input");
  all->excludes(set);
  AddCostOptions(*cmd, *o);
  cmd->callback([=] {
    *action = [=]() -> int {
      if (!*hash_all && account->empty()) {
        throw CommandError("passwords: give --hash-all or --set ACCOUNT");
      }
      ApplySignInOptions(*o);
      const PasswordCost cost = CurrentSignInPolicy().cost;
      auto conn = OpenDatabase(*db, /*create=*/false);
      if (*hash_all) {
        const bool terminal = isatty(STDERR_FILENO) == 1;
        int64_t hashed = 0;
        try {
          hashed = HashStoredPasswords(
              *conn, cost, [&](int64_t done, int64_t total) {
                if (!terminal) return;
                const int width = 30;
                const auto filled = static_cast<int>(done * width / total);
                std::cerr << "\rHashing passwords ["
                          << std::string(static_cast<size_t>(filled), '#')
                          << std::string(static_cast<size_t>(width - filled),
                                         ' ')
                          << "] " << done << "/" << total << std::flush;
                if (done == total) std::cerr << "\n";
              });
        } catch (const Error& e) {
          throw CommandError(e.what());
        }
        std::cout << "Hashed " << hashed << " stored password"
                  << (hashed == 1 ? "" : "s") << " in " << MaskPassword(*db)
                  << (hashed == 0 ? " (every one already was a hash)" : "")
                  << "\n";
        return 0;
      }
      const std::string password = ReadSecretLine("New password: ");
      if (isatty(STDIN_FILENO) == 1 &&
          ReadSecretLine("The same again: ") != password) {
        throw CommandError("the two passwords differ; nothing was changed");
      }
      try {
        SetStoredPassword(*conn, *account, password, cost);
      } catch (const Error& e) {
        throw CommandError(e.what());
      }
      std::cout << "Password stored for one person\n";
      return 0;
    };
  });
}

}  // namespace wrenhaven::cli
