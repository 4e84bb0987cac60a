#include <algorithm>
#include <iostream>
#include <string>

#include "cli/commands.h"

namespace wrenhaven::cli {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

void ProgressBar::Show(std::string_view what, int64_t done, int64_t total) {
  const int percent =
      total > 0 ? static_cast<int>(std::min(done, total) * 100 / total) : 100;
  if (percent == shown_ && what == what_) return;
  shown_ = percent;
  what_ = std::string(what);
  const int filled = percent * kBarWidth / 100;
  std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kBarWidth - filled), ' ') +
                     "] " + std::to_string(percent) + "% " + what_;
  // Blanks over the end of a longer line before.
  line += std::string(20, ' ');
  std::cerr << line << std::flush;
}

void ProgressBar::Done() { std::cerr << "\n"; }

}  // namespace wrenhaven::cli
