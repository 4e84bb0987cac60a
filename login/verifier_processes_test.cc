// Verification in child processes: the answers, what a child holds open,
// a child that dies, the waiting limit, and that nothing outlives the
// pool.
#include "login/verifier_processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "login/password.h"
#include "wrenhaven/error.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven::password {
namespace {

bool Equal(const std::string& stored, const std::string& typed) {
  return stored == typed;
}

bool Slowly(const std::string& stored, const std::string& typed) {
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  return stored == typed;
}

std::string Reversed(std::string_view password, const PasswordCost& cost) {
  if (cost.passes == 0) throw std::runtime_error("no passes");
  return std::string(password.rbegin(), password.rend());
}

// No such process, or one that has ended and waits to be reaped by
// whoever adopted it.
bool Gone(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t after_name = line.rfind(')');
  return after_name != std::string::npos && after_name + 2 < line.size() &&
         line[after_name + 2] == 'Z';
}

// The code of the error `f` raises; nullopt when it raises none.
std::optional<ErrorCode> CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  return std::nullopt;
}

TEST(VerifierProcessesTest, ChildrenAnswerAndHoldNothingOfTheParentsOpen) {
  // Something the parent holds open, as a server holds its database file
  // and its listening socket.
  const int held = open("/dev/null", O_RDONLY);
  ASSERT_GE(held, 0);
  std::vector<pid_t> children;
  {
    VerifierProcesses pool(2, 8, &Equal, &Reversed);
    EXPECT_TRUE(pool.Verify("secret", "secret"));
    EXPECT_FALSE(pool.Verify("secret", "Secret"));
    EXPECT_FALSE(pool.Verify("secret", std::string("secret\0", 7)));
    EXPECT_EQ(pool.Hash("abc", PasswordCost::ForTests()), "cba");
    // A hash that fails in the child fails here, and the child stays.
    PasswordCost none = PasswordCost::ForTests();
    none.passes = 0;
    EXPECT_EQ(CodeOf([&] { pool.Hash("abc", none); }), ErrorCode::kHost);
    children = pool.Children();
    ASSERT_EQ(children.size(), 1u);  // started as needed, one at a time
    const pid_t child = children.front();
    EXPECT_NE(child, getpid());
    std::vector<std::string> open_in_child;
    for (const auto& entry : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(child) + "/fd")) {
      open_in_child.push_back(entry.path().filename().string());
    }
    std::sort(open_in_child.begin(), open_in_child.end());
    EXPECT_EQ(open_in_child, (std::vector<std::string>{"0", "1", "2", "3"}));
    errno = 0;
    EXPECT_GT(getpriority(PRIO_PROCESS, static_cast<id_t>(child)),
              getpriority(PRIO_PROCESS, 0));
  }
  close(held);
  for (const pid_t pid : children) EXPECT_TRUE(Gone(pid)) << pid;
}

TEST(VerifierProcessesTest, AChildThatDiesIsReplacedAtTheNextJob) {
  VerifierProcesses pool(1, 8, &Equal, &Reversed);
  ASSERT_TRUE(pool.Verify("a", "a"));
  const pid_t first = pool.Children().at(0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  EXPECT_EQ(CodeOf([&] { pool.Verify("a", "a"); }), ErrorCode::kUnavailable);
  EXPECT_TRUE(pool.Children().empty());
  EXPECT_TRUE(pool.Verify("a", "a"));
  ASSERT_EQ(pool.Children().size(), 1u);
  EXPECT_NE(pool.Children().at(0), first);
  EXPECT_TRUE(Gone(first));  // reaped, no zombie left
}

TEST(VerifierProcessesTest, ChildrenEndWithTheirServer) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    // A server that starts a child and is killed without a word.
    VerifierProcesses pool(1, 8, &Equal, &Reversed);
    pid_t child = pool.Verify("a", "a") ? pool.Children().at(0) : -1;
    if (write(report[1], &child, sizeof child) != sizeof child) _exit(1);
    pause();
    _exit(0);
  }
  close(report[1]);
  pid_t child = -1;
  ASSERT_EQ(read(report[0], &child, sizeof child),
            static_cast<ssize_t>(sizeof child));
  close(report[0]);
  ASSERT_GT(child, 0);
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  // The child is the init process's now; it ends once it sees its channel
  // closed.
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Gone(child) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(Gone(child));
}

TEST(VerifierProcessesTest, CallersBeyondTheWaitingLimitAreRefusedAtOnce) {
  VerifierProcesses pool(1, 1, &Slowly, &Reversed);
  auto busy =
      std::async(std::launch::async, [&] { return pool.Verify("a", "a"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  auto waiting =
      std::async(std::launch::async, [&] { return pool.Verify("a", "b"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CodeOf([&] { pool.Verify("a", "a"); }), ErrorCode::kUnavailable);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(200));
  EXPECT_TRUE(busy.get());
  EXPECT_FALSE(waiting.get());
}

TEST(VerifierProcessesTest, ThePolicyMovesVerificationIntoChildren) {
  SignInPolicy policy = CurrentSignInPolicy();
  const SignInPolicy before = policy;
  policy.cost = PasswordCost::ForTests();
  policy.verifier_processes = true;
  policy.verifier_threads = 2;
  SetSignInPolicy(policy);
  const std::string hash = HashOnVerifier("correct horse", policy.cost);
  EXPECT_TRUE(IsPasswordHash(hash));
  EXPECT_TRUE(Verify(hash, "correct horse"));
  EXPECT_FALSE(Verify(hash, "correct horsE"));
  EXPECT_TRUE(Verify("plain", "plain"));  // stored before hashing
  EXPECT_FALSE(Verify("plain", "plai"));
  const std::vector<pid_t> children = VerifierChildren();
  EXPECT_FALSE(children.empty());
  SetSignInPolicy(before);
  EXPECT_TRUE(VerifierChildren().empty());
  for (const pid_t pid : children) EXPECT_TRUE(Gone(pid)) << pid;
  EXPECT_TRUE(Verify(hash, "correct horse"));  // on threads again
}

}  // namespace
}  // namespace wrenhaven::password
