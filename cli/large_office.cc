// wrenhaven init --demo --size large: the large office, with a progress
// bar while it is written when stderr is a terminal.
#include "schema/large_office.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/commands.h"

namespace wrenhaven::cli {
namespace {

constexpr int kBarWidth = 40;

// One line, redrawn in place: what is being written, the bar, the share.
class ProgressBar {
 public:
  void Show(std::string_view what, int64_t done, int64_t total) {
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (percent == shown_ && what == what_) return;
    shown_ = percent;
    what_ = std::string(what);
    const int filled = percent * kBarWidth / 100;
    std::string line =
        "\r[" + std::string(static_cast<size_t>(filled), '#') +
        std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " +
        std::to_string(percent) + "% " + what_;
    // Blanks over the end of a longer line before.
    line += std::string(20, ' ');
    std::cerr << line << std::flush;
  }
  void Done() { std::cerr << "\n"; }

 private:
  int shown_ = -1;
  std::string what_;
};

}  // namespace

void LoadLargeDemo(Connection& conn) {
  const auto start = std::chrono::steady_clock::now();
  ProgressBar bar;
  const bool terminal = isatty(STDERR_FILENO) == 1;
  LoadProgress progress;
  if (terminal) {
    progress = [&bar](std::string_view what, int64_t done, int64_t total) {
      bar.Show(what, done, total);
    };
  }
  LoadLargeOffice(conn, LargeOfficeSize{}, progress);
  if (terminal) {
    bar.Done();
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    char text[64];
    std::snprintf(text, sizeof text, "Large office written in %.1f s\n",
                  took.count());
    std::cerr << text;
  }
}

}  // namespace wrenhaven::cli
