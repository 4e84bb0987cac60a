// Password checks of the sign-in: verification of a stored value (hash or
// plain text from before hashing) on the verifier threads, the dummy hash
// that an unknown account is checked against, and the count of
// verifications that tests read.
#ifndef WRENHAVEN_LOGIN_PASSWORD_H_
#define WRENHAVEN_LOGIN_PASSWORD_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/sign_in.h"

namespace wrenhaven::password {

// One verification of `typed` against `stored`, run on a verifier thread
// while the caller waits. A hash is checked by libsodium; any other stored
// value is compared in constant time. Raises kUnavailable when the
// verifier queue is full.
bool Verify(const std::string& stored, const std::string& typed);
// HashPassword run on a verifier thread; raises kUnavailable the same way.
std::string HashOnVerifier(const std::string& password,
                           const PasswordCost& cost);

// True when `stored` should be replaced by a hash of the current cost:
// plain text, or a hash of another cost.
bool NeedsRehash(std::string_view stored, const PasswordCost& cost);

// A hash of a random password, made once per cost: what a sign-in with no
// candidate person is verified against, so that it costs what a wrong
// password costs.
const std::string& DummyHash(const PasswordCost& cost);

// The verifier child processes running now (none unless the policy asks
// for them).
std::vector<pid_t> VerifierChildren();

// Verifications started in this process since it began.
uint64_t VerificationCount();

// A key for the device cookie: the policy's, or this process's random one.
std::string DeviceKey();

}  // namespace wrenhaven::password

#endif  // WRENHAVEN_LOGIN_PASSWORD_H_
