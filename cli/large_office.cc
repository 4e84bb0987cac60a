// wrenhaven init --demo --size large: the large office, with a progress
// bar while it is written when stderr is a terminal.
#include "schema/large_office.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"

namespace wrenhaven::cli {
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
