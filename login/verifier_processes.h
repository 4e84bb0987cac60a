// Password verification in child processes: the memory argon2 maps and
// unmaps for every verification then belongs to another process, and the
// threads that serve pages never wait for the kernel on its account.
#ifndef WRENHAVEN_LOGIN_VERIFIER_PROCESSES_H_
#define WRENHAVEN_LOGIN_VERIFIER_PROCESSES_H_

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/sign_in.h"

namespace wrenhaven::password {

class VerifierProcesses {
 public:
  // What a child runs. Both are called in the child only.
  using VerifyFn = bool (*)(const std::string& stored,
                            const std::string& typed);
  using HashFn = std::string (*)(std::string_view password,
                                 const PasswordCost& cost);

  // `count` children, forked at the first job; at most `queue_limit`
  // callers wait for a free one.
  VerifierProcesses(unsigned count, size_t queue_limit, VerifyFn verify,
                    HashFn hash);
  // Closes every child's channel (the child then ends) and reaps it.
  ~VerifierProcesses();
  VerifierProcesses(const VerifierProcesses&) = delete;
  VerifierProcesses& operator=(const VerifierProcesses&) = delete;

  // Raise kUnavailable when `queue_limit` callers already wait, or when the
  // child stops before it answers (it is replaced at the next job); kHost
  // when no child can be started, or when hashing failed in the child.
  bool Verify(const std::string& stored, const std::string& typed);
  std::string Hash(std::string_view password, const PasswordCost& cost);

  // The children running now (for tests).
  std::vector<pid_t> Children();

 private:
  struct Child {
    pid_t pid = -1;
    int channel = -1;
  };
  // Sends `request` to a free child and returns its answer; wipes the
  // request.
  std::string Ask(std::string& request);
  Child Take();
  void Give(Child child);
  void Start(Child& child);
  static void Stop(Child& child);

  const unsigned count_;
  const size_t queue_limit_;
  VerifyFn verify_;
  HashFn hash_;
  std::mutex mutex_;
  std::condition_variable free_;
  std::vector<Child> idle_;
  std::vector<pid_t> busy_;
  unsigned started_ = 0;
  size_t waiting_ = 0;
};

}  // namespace wrenhaven::password

#endif  // WRENHAVEN_LOGIN_VERIFIER_PROCESSES_H_
