// The time of one password verification at the standard cost, the floor
// of the sign-in rate: run.sh compares the sign-ins per second over HTTP
// with cores / this time.
//
//   verify_time [ROUNDS]   prints the median seconds of one verification
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "wrenhaven/sign_in.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  if (sodium_init() < 0 || rounds < 1) return 2;
  const std::string hash = wrenhaven::HashPassword(
      "a password of ordinary length", wrenhaven::PasswordCost::Standard());
  std::vector<double> seconds;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        crypto_pwhash_str_verify(hash.c_str(), "a wrong password", 16) == 0;
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count());
    if (ok) return 2;
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("seconds per verification: %.6f\n", seconds[seconds.size() / 2]);
  return 0;
}
