// The options that set the sign-in policy: password cost, limits on
// failed attempts, verifier threads and the device key.
#include <sodium.h>

#include <fstream>
#include <iterator>
#include <string>

#include "cli/commands.h"
#include "wrenhaven/error.h"

namespace wrenhaven::cli {

void AddCostOptions(CLI::App& cmd, SignInOptions& o) {
  cmd.add_option("--hash-preset", o.preset,
                 "Password hash cost: standard (19 MiB, 2 passes) or test "
                 "(the least there is: for test suites only)")
      ->capture_default_str()
      ->check(CLI::IsMember({"standard", "test"}));
  cmd.add_option("--hash-memory", o.memory_mib,
                 "Memory of one password hash in MiB (overrides the preset)")
      ->check(CLI::Range(1, 4096));
  cmd.add_option("--hash-passes", o.passes,
                 "Passes of one password hash (overrides the preset)")
      ->check(CLI::Range(1, 100));
}

void AddLimitOptions(CLI::App& cmd, SignInOptions& o) {
  cmd.add_option("--signin-limits", o.limits,
                 "Failed sign-ins held back: off, or e.g. "
                 "pair=5/15m,address=50/15m,account=20/15m (pair: one "
                 "account from one address)");
  cmd.add_option("--verifier-threads", o.verifier_threads,
                 "Threads that verify passwords (default: one per core)")
      ->check(CLI::Range(1, 256));
  o.verifiers = "processes";
  cmd.add_option("--verifiers", o.verifiers,
                 "Where passwords are verified: processes (child processes, "
                 "so that a flood of sign-ins does not slow the pages) or "
                 "threads (of the server's own process)")
      ->capture_default_str()
      ->check(CLI::IsMember({"processes", "threads"}));
  cmd.add_option("--device-key-file", o.device_key_file,
                 "File of 32 random bytes (or 64 hex digits) that signs the "
                 "cookie of browsers that signed in before; servers of one "
                 "office share it (default: a key of this process)");
}

SignInLimits ParseSignInLimits(const std::string& text) {
  if (text == "off") return SignInLimits::Off();
  SignInLimits limits;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string part = text.substr(
        start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t eq = part.find('=');
    const size_t slash = part.find('/');
    const auto bad = [&] {
      return CommandError("--signin-limits: \"" + part +
                          "\" is not LIMIT=ATTEMPTS/WINDOW (e.g. pair=5/15m)");
    };
    if (eq == std::string::npos || slash == std::string::npos || slash < eq) {
      throw bad();
    }
    const std::string name = part.substr(0, eq);
    const std::string attempts = part.substr(eq + 1, slash - eq - 1);
    std::string window = part.substr(slash + 1);
    if (attempts.empty() || attempts.size() > 6 ||
        attempts.find_first_not_of("0123456789") != std::string::npos ||
        window.size() < 2 || window.size() > 7) {
      throw bad();
    }
    const char unit = window.back();
    window.pop_back();
    if (window.find_first_not_of("0123456789") != std::string::npos) {
      throw bad();
    }
    const long scale = unit == 's'   ? 1
                       : unit == 'm' ? 60
                       : unit == 'h' ? 3600
                                     : 0;
    if (scale == 0) throw bad();
    SignInLimit limit{std::stoi(attempts),
                      std::chrono::seconds(std::stol(window) * scale)};
    if (name == "pair") {
      limits.account_from_address = limit;
    } else if (name == "address") {
      limits.address = limit;
    } else if (name == "account") {
      limits.account = limit;
    } else {
      throw bad();
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return limits;
}

namespace {

std::string ReadDeviceKey(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CommandError("--device-key-file: cannot read " + file);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) {
    bytes.pop_back();
  }
  if (bytes.size() == 2 * crypto_auth_KEYBYTES) {
    std::string key(crypto_auth_KEYBYTES, '\0');
    size_t length = 0;
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(key.data()), key.size(),
                       bytes.data(), bytes.size(), nullptr, &length,
                       nullptr) == 0 &&
        length == key.size()) {
      return key;
    }
  }
  if (bytes.size() != crypto_auth_KEYBYTES) {
    throw CommandError("--device-key-file: " + file +
                       " holds neither 32 bytes nor 64 hex digits");
  }
  return bytes;
}

}  // namespace

void ApplySignInOptions(const SignInOptions& o) {
  SignInPolicy policy = CurrentSignInPolicy();
  policy.cost =
      o.preset == "test" ? PasswordCost::ForTests() : PasswordCost::Standard();
  if (o.memory_mib > 0) {
    policy.cost.memory_bytes = static_cast<size_t>(o.memory_mib) << 20;
  }
  if (o.passes > 0) policy.cost.passes = static_cast<uint64_t>(o.passes);
  if (!o.limits.empty()) policy.limits = ParseSignInLimits(o.limits);
  if (o.verifier_threads > 0) policy.verifier_threads = o.verifier_threads;
  if (!o.verifiers.empty()) {
    policy.verifier_processes = o.verifiers == "processes";
  }
  if (!o.device_key_file.empty()) {
    policy.device_key = ReadDeviceKey(o.device_key_file);
  }
  try {
    SetSignInPolicy(policy);
  } catch (const Error& e) {
    throw CommandError(e.what());
  }
}

}  // namespace wrenhaven::cli
