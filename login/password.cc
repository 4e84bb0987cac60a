#include "login/password.h"

#include <sodium.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "login/verifier_processes.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

void RequireSodium() {
  if (sodium_init() < 0) {
    Raise(ErrorCode::kHost, "The cryptography library cannot start");
  }
}

// How far below the page threads the verifier threads run.
constexpr int kVerifierNice = 10;

// Threads that run verifications; a full queue refuses at once.
class VerifierPool {
 public:
  VerifierPool(unsigned threads, size_t queue_limit)
      : queue_limit_(queue_limit) {
    for (unsigned i = 0; i < threads; ++i) {
      threads_.emplace_back([this] { Work(); });
    }
  }
  ~VerifierPool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  VerifierPool(const VerifierPool&) = delete;
  VerifierPool& operator=(const VerifierPool&) = delete;

  template <class Result>
  Result Run(std::function<Result()> job) {
    std::packaged_task<Result()> task(std::move(job));
    std::future<Result> done = task.get_future();
    {
      std::lock_guard lock(mutex_);
      if (queue_.size() >= queue_limit_) {
        Raise(ErrorCode::kUnavailable,
              "Too many sign-ins are waiting; try again in a moment");
      }
      queue_.emplace_back([t = std::make_shared<std::packaged_task<Result()>>(
                               std::move(task))] { (*t)(); });
    }
    ready_.notify_one();
    return done.get();
  }

 private:
  void Work() {
#ifdef __linux__
    // Below the page threads: a flood of sign-ins takes the cores the
    // pages leave, not the ones they need (Linux sets nice per thread).
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kVerifierNice);
#endif
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      job();
    }
  }

  const size_t queue_limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

struct PolicyState {
  std::mutex mutex;
  SignInPolicy policy;
  std::shared_ptr<VerifierPool> pool;
  std::shared_ptr<password::VerifierProcesses> processes;
  std::string process_key;
};

PolicyState& State() {
  static PolicyState state;
  return state;
}

unsigned ThreadsFor(const SignInPolicy& policy) {
  if (policy.verifier_threads > 0) return policy.verifier_threads;
  return std::max(1u, std::thread::hardware_concurrency());
}

std::shared_ptr<VerifierPool> Pool() {
  PolicyState& state = State();
  std::lock_guard lock(state.mutex);
  if (!state.pool) {
    state.pool = std::make_shared<VerifierPool>(
        ThreadsFor(state.policy),
        std::max<size_t>(1, state.policy.verifier_queue));
  }
  return state.pool;
}

bool VerifyHere(const std::string& stored, const std::string& typed);

// The children when the policy asks for them, else nullptr.
std::shared_ptr<password::VerifierProcesses> Processes() {
  PolicyState& state = State();
  std::lock_guard lock(state.mutex);
  if (!state.policy.verifier_processes) return nullptr;
  if (!state.processes) {
    state.processes = std::make_shared<password::VerifierProcesses>(
        ThreadsFor(state.policy),
        std::max<size_t>(1, state.policy.verifier_queue), &VerifyHere,
        &HashPassword);
  }
  return state.processes;
}

std::atomic<uint64_t> verifications{0};

// Plain text from before hashing: both sides reduced to keyed digests of
// one length, then compared in constant time, so neither the length nor
// the first differing character shows in the time taken.
bool SamePlainText(std::string_view stored, std::string_view typed) {
  static const auto key = [] {
    std::array<unsigned char, crypto_generichash_KEYBYTES> k{};
    randombytes_buf(k.data(), k.size());
    return k;
  }();
  unsigned char a[crypto_generichash_BYTES];
  unsigned char b[crypto_generichash_BYTES];
  crypto_generichash(a, sizeof a,
                     reinterpret_cast<const unsigned char*>(stored.data()),
                     stored.size(), key.data(), key.size());
  crypto_generichash(b, sizeof b,
                     reinterpret_cast<const unsigned char*>(typed.data()),
                     typed.size(), key.data(), key.size());
  return sodium_memcmp(a, b, sizeof a) == 0;
}

bool VerifyHere(const std::string& stored, const std::string& typed) {
  if (!IsPasswordHash(stored)) return SamePlainText(stored, typed);
  return crypto_pwhash_str_verify(stored.c_str(), typed.data(), typed.size()) ==
         0;
}

}  // namespace

void SetSignInPolicy(const SignInPolicy& policy) {
  RequireSodium();
  if (policy.cost.passes < crypto_pwhash_OPSLIMIT_MIN ||
      policy.cost.memory_bytes < crypto_pwhash_MEMLIMIT_MIN ||
      policy.cost.memory_bytes > (size_t{4} << 30)) {
    Raise(ErrorCode::kInvalidArgument,
          "The password cost must be at least 1 pass and between 8 KiB and "
          "4 GiB of memory");
  }
  for (const SignInLimit* limit :
       {&policy.limits.account_from_address, &policy.limits.address,
        &policy.limits.account}) {
    if (limit->attempts < 0 || limit->window.count() < 0 ||
        (limit->attempts > 0 && limit->window.count() == 0) ||
        limit->window > std::chrono::hours(24 * 31)) {
      Raise(ErrorCode::kInvalidArgument,
            "A sign-in limit needs a number of attempts of 0 or more and a "
            "window of one second to 31 days");
    }
  }
  if (!policy.device_key.empty() &&
      policy.device_key.size() != crypto_auth_KEYBYTES) {
    Raise(ErrorCode::kInvalidArgument,
          "The device key must be " + std::to_string(crypto_auth_KEYBYTES) +
              " bytes long");
  }
  PolicyState& state = State();
  std::shared_ptr<VerifierPool> retired;
  std::shared_ptr<password::VerifierProcesses> retired_processes;
  std::lock_guard lock(state.mutex);
  if (ThreadsFor(policy) != ThreadsFor(state.policy) ||
      policy.verifier_queue != state.policy.verifier_queue ||
      policy.verifier_processes != state.policy.verifier_processes) {
    // Ended when their last user is done.
    retired = std::move(state.pool);
    retired_processes = std::move(state.processes);
  }
  state.policy = policy;
}

SignInPolicy CurrentSignInPolicy() {
  PolicyState& state = State();
  std::lock_guard lock(state.mutex);
  return state.policy;
}

std::string HashPassword(std::string_view password, const PasswordCost& cost) {
  RequireSodium();
  if (password.size() > kMaxPasswordLength * 4) {
    Raise(ErrorCode::kInvalidArgument, "The password is too long");
  }
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), cost.passes,
                            cost.memory_bytes,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    Raise(ErrorCode::kHost,
          "The password could not be hashed (out of memory?)");
  }
  return out;
}

bool IsPasswordHash(std::string_view stored) {
  return stored.starts_with("$argon2id$") || stored.starts_with("$argon2i$");
}

namespace password {

bool Verify(const std::string& stored, const std::string& typed) {
  RequireSodium();
  verifications.fetch_add(1, std::memory_order_relaxed);
  if (const auto children = Processes()) return children->Verify(stored, typed);
  return Pool()->Run<bool>([&] { return VerifyHere(stored, typed); });
}

std::string HashOnVerifier(const std::string& password,
                           const PasswordCost& cost) {
  if (const auto children = Processes()) return children->Hash(password, cost);
  return Pool()->Run<std::string>([&] { return HashPassword(password, cost); });
}

std::vector<pid_t> VerifierChildren() {
  PolicyState& state = State();
  std::shared_ptr<VerifierProcesses> children;
  {
    std::lock_guard lock(state.mutex);
    children = state.processes;
  }
  return children ? children->Children() : std::vector<pid_t>();
}

bool NeedsRehash(std::string_view stored, const PasswordCost& cost) {
  if (!IsPasswordHash(stored)) return true;
  const std::string text(stored);
  return crypto_pwhash_str_needs_rehash(text.c_str(), cost.passes,
                                        cost.memory_bytes) != 0;
}

const std::string& DummyHash(const PasswordCost& cost) {
  static std::mutex mutex;
  static std::map<std::pair<uint64_t, size_t>, std::string> made;
  std::lock_guard lock(mutex);
  std::string& hash = made[{cost.passes, cost.memory_bytes}];
  if (hash.empty()) {
    RequireSodium();
    unsigned char random[24];
    randombytes_buf(random, sizeof random);
    std::string secret(reinterpret_cast<const char*>(random), sizeof random);
    hash = HashPassword(secret, cost);
  }
  return hash;
}

uint64_t VerificationCount() {
  return verifications.load(std::memory_order_relaxed);
}

std::string DeviceKey() {
  PolicyState& state = State();
  std::lock_guard lock(state.mutex);
  if (!state.policy.device_key.empty()) return state.policy.device_key;
  if (state.process_key.empty()) {
    RequireSodium();
    state.process_key.resize(crypto_auth_KEYBYTES);
    randombytes_buf(state.process_key.data(), state.process_key.size());
  }
  return state.process_key;
}

}  // namespace password
}  // namespace wrenhaven
