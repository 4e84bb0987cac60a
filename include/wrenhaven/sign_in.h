// How the sign-in checks passwords and holds back guessing: one policy for
// the whole process, read by every Login, and the password tools that the
// `wrenhaven passwords` command and an embedder's own pages use.
//
// Passwords are stored in HR_person.personPwd as argon2id hashes in their
// self-describing "$argon2id$..." text. A stored value that is no such hash
// is a password from before hashing: it is compared in constant time and
// replaced by its hash at the person's next successful sign-in, as is a
// hash made with a lower cost than the current one.
//
// Failed attempts are counted from the login records themselves, with the
// database's clock, so every server on one office database holds back the
// same guesses.
#ifndef WRENHAVEN_SIGN_IN_H_
#define WRENHAVEN_SIGN_IN_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "wrenhaven/connection.h"

namespace wrenhaven {

// The cost of one argon2id hash: memory and passes, one lane.
struct PasswordCost {
  uint64_t passes = 2;
  size_t memory_bytes = size_t{19} << 20;

  // The default: 19 MiB and 2 passes (about 30 to 60 ms on one core).
  static PasswordCost Standard() { return {}; }
  // The least libsodium accepts (1 pass, 8 KiB): for test suites only,
  // where thousands of sign-ins must stay fast. Never for real passwords.
  static PasswordCost ForTests() { return {1, size_t{8} << 10}; }
};

// At most `attempts` failed sign-ins within `window`; 0 attempts: no limit.
struct SignInLimit {
  int attempts = 0;
  std::chrono::seconds window{0};
};

struct SignInLimits {
  // One account from one client address.
  SignInLimit account_from_address{5, std::chrono::minutes(15)};
  // One client address, whatever the account (credential stuffing).
  SignInLimit address{50, std::chrono::minutes(15)};
  // One account from anywhere.
  SignInLimit account{20, std::chrono::minutes(15)};
  // A browser that has signed in to an account before (it carries the
  // signed device cookie) is held back by none of these for that account,
  // so a stranger's guesses cannot lock a person out.

  static SignInLimits Off() { return {{}, {}, {}}; }
};

// The longest texts a sign-in takes, in characters. A longer account name
// or password is refused before any statement; a longer screen or browser
// description is recorded cut to its limit.
inline constexpr size_t kMaxAccountLength = 64;
inline constexpr size_t kMaxPasswordLength = 256;
inline constexpr size_t kMaxScreenLength = 64;
inline constexpr size_t kMaxBrowserLength = 512;

struct SignInPolicy {
  PasswordCost cost;
  SignInLimits limits;
  // Threads that verify passwords; 0: one per core. A sign-in that finds
  // `verifier_queue` verifications already waiting is refused at once as
  // unavailable (ErrorCode::kUnavailable) instead of waiting.
  unsigned verifier_threads = 0;
  size_t verifier_queue = 64;
  // Verify in child processes of this one (Linux), one per verifier
  // thread, forked when the first verification needs them. argon2 maps and
  // unmaps its memory for every verification; done in the process that
  // serves pages, that stalls the page threads (a main window taking ten
  // times as long during a flood of wrong passwords). A child that stops
  // fails its verification as unavailable and is replaced at the next one.
  // `wrenhaven serve` turns this on.
  bool verifier_processes = false;
  // The key that signs the browser cookie of accounts signed in before
  // (32 bytes). Empty: a random key of this process, so the cookie is
  // known only to this server until it restarts; servers that share an
  // office share a key.
  std::string device_key;
};

// Replaces the process's policy; sign-ins that already started keep the
// old one. Raises kInvalidArgument for a cost libsodium refuses, a
// negative limit or a device key of another length.
void SetSignInPolicy(const SignInPolicy& policy);
SignInPolicy CurrentSignInPolicy();

// The argon2id hash of `password` with `cost`. Raises kInvalidArgument
// for a password over kMaxPasswordLength, kHost when hashing fails.
std::string HashPassword(std::string_view password, const PasswordCost& cost);
// True for a stored value in the hash form this library writes.
bool IsPasswordHash(std::string_view stored);

// Replaces every stored password that is not a hash by its hash, in one
// transaction; `progress(done, total)` is called after each person.
// Returns how many were hashed (0 when every password already was).
int64_t HashStoredPasswords(
    Connection& conn, const PasswordCost& cost,
    const std::function<void(int64_t, int64_t)>& progress = nullptr);

// Stores the hash of `password` for the one person with `account`. Raises
// kInvalidArgument for a password shorter than 8 characters, longer than
// kMaxPasswordLength, equal to the account name, or for an account that
// names no person or more than one.
void SetStoredPassword(Connection& conn, std::string_view account,
                       std::string_view password, const PasswordCost& cost);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SIGN_IN_H_
