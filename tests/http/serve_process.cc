#include "tests/http/serve_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace wrenhaven::testing {
namespace {
std::atomic<int> counter{0};
}  // namespace

ServeProcess::ServeProcess(const std::string& db,
                           std::vector<std::string> extra) {
  log_ = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
         "/wrenhaven-serve-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++) + ".log";
  std::vector<std::string> args = {
      WRENHAVEN_CLI, "serve",       "--db",      db,
      "--listen",    "127.0.0.1:0", "--workers", "8"};
  for (std::string& a : extra) args.push_back(std::move(a));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, log_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  const int rc =
      posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) {
    pid_ = 0;
    throw std::runtime_error("cannot start " + args[0]);
  }
  static constexpr std::string_view kAddress = "http://127.0.0.1:";
  for (int i = 0; i < 600 && port_ == 0; ++i) {
    const std::string text = Log();
    const size_t at = text.find(kAddress);
    if (at != std::string::npos) {
      port_ = std::atoi(text.c_str() + at + kAddress.size());
    } else if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = 0;
      throw std::runtime_error("serve stopped at once: " + text);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (port_ == 0) throw std::runtime_error("serve did not start: " + Log());
}

ServeProcess::~ServeProcess() {
  if (pid_ != 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
      gone = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!gone) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    EXPECT_TRUE(gone && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "serve did not stop cleanly: " << Log();
  }
  std::remove(log_.c_str());
}

void ServeProcess::Kill() {
  if (pid_ == 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

std::string ServeProcess::Log() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace wrenhaven::testing
