#include "login/verifier_processes.h"

#include <signal.h>
#include <sodium.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "wrenhaven/error.h"

namespace wrenhaven::password {
namespace {

// The requests and answers between this process and a child. Each text
// goes as four bytes of length (host order: both ends are this program)
// and its bytes.
constexpr char kVerify = 'V';
constexpr char kHash = 'H';
constexpr char kFalse = '0';
constexpr char kTrue = '1';
constexpr char kHashed = 'h';
constexpr char kFailed = 'e';
// No text of a request comes near this; a longer one means the channel is
// out of step, and the child ends.
constexpr uint32_t kMaxText = 1 << 16;
// How long a caller waits for its child's answer before giving up on it.
constexpr int kAnswerSeconds = 30;
// How far below the page threads the children run.
constexpr int kChildNice = 10;

void PutText(std::string& out, std::string_view text) {
  const auto n = static_cast<uint32_t>(text.size());
  out.append(reinterpret_cast<const char*>(&n), sizeof n);
  out.append(text);
}

void PutNumber(std::string& out, uint64_t n) {
  out.append(reinterpret_cast<const char*>(&n), sizeof n);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool ReadAll(int fd, void* into, size_t size) {
  auto* at = static_cast<char*>(into);
  while (size > 0) {
    const ssize_t n = read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadText(int fd, std::string& text) {
  uint32_t n = 0;
  if (!ReadAll(fd, &n, sizeof n) || n > kMaxText) return false;
  text.resize(n);
  return n == 0 || ReadAll(fd, text.data(), n);
}

// The child: answers requests on `channel` until the parent closes it or
// ends (its end of the channel then closes with it: no parent-death signal,
// which would come with the end of the thread that forked). Never returns,
// and never runs anything of the parent's but the two functions.
[[noreturn]] void ServeChild(int channel, VerifierProcesses::VerifyFn verify,
                             VerifierProcesses::HashFn hash) {
  // The parent's handlers and its blocked signals are not the child's.
  for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) {
    signal(s, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  setpriority(PRIO_PROCESS, 0, kChildNice);
  // Only the channel stays open: not the listening socket, the database
  // files, or the other children's channels.
  if (channel != 3) {
    if (dup2(channel, 3) < 0) _exit(1);
    channel = 3;
  }
  close_range(4, ~0U, 0);
  try {
    for (;;) {
      char kind = 0;
      if (!ReadAll(channel, &kind, 1)) _exit(0);
      std::string a, b, answer;
      if (kind == kVerify) {
        if (!ReadText(channel, a) || !ReadText(channel, b)) _exit(1);
        answer.push_back(verify(a, b) ? kTrue : kFalse);
      } else if (kind == kHash) {
        PasswordCost cost;
        if (!ReadText(channel, a) ||
            !ReadAll(channel, &cost.passes, sizeof cost.passes) ||
            !ReadAll(channel, &cost.memory_bytes, sizeof cost.memory_bytes)) {
          _exit(1);
        }
        try {
          const std::string hashed = hash(a, cost);
          answer.push_back(kHashed);
          PutText(answer, hashed);
        } catch (...) {
          answer.push_back(kFailed);
        }
      } else {
        _exit(1);
      }
      sodium_memzero(a.data(), a.size());
      sodium_memzero(b.data(), b.size());
      if (!WriteAll(channel, answer)) _exit(0);
    }
  } catch (...) {
    _exit(1);
  }
}

}  // namespace

VerifierProcesses::VerifierProcesses(unsigned count, size_t queue_limit,
                                     VerifyFn verify, HashFn hash)
    : count_(std::max(1u, count)),
      queue_limit_(std::max<size_t>(1, queue_limit)),
      verify_(verify),
      hash_(hash) {}

VerifierProcesses::~VerifierProcesses() {
  std::lock_guard lock(mutex_);
  for (Child& c : idle_) Stop(c);
}

bool VerifierProcesses::Verify(const std::string& stored,
                               const std::string& typed) {
  std::string request(1, kVerify);
  PutText(request, stored);
  PutText(request, typed);
  const std::string answer = Ask(request);
  return answer.size() == 1 && answer[0] == kTrue;
}

std::string VerifierProcesses::Hash(std::string_view password,
                                    const PasswordCost& cost) {
  std::string request(1, kHash);
  PutText(request, password);
  PutNumber(request, cost.passes);
  PutNumber(request, cost.memory_bytes);
  const std::string answer = Ask(request);
  if (answer.empty() || answer[0] != kHashed) {
    Raise(ErrorCode::kHost,
          "The password could not be hashed (out of memory?)");
  }
  return answer.substr(1);
}

std::vector<pid_t> VerifierProcesses::Children() {
  std::lock_guard lock(mutex_);
  std::vector<pid_t> out = busy_;
  for (const Child& c : idle_) out.push_back(c.pid);
  return out;
}

std::string VerifierProcesses::Ask(std::string& request) {
  // The request holds a password: wiped however this ends.
  struct Wipe {
    std::string& text;
    ~Wipe() { sodium_memzero(text.data(), text.size()); }
  } wipe{request};
  if (request.size() > 3 * kMaxText) {
    Raise(ErrorCode::kInvalidArgument, "The password is too long");
  }
  Child child = Take();
  std::string answer;
  char kind = 0;
  bool ok =
      WriteAll(child.channel, request) && ReadAll(child.channel, &kind, 1);
  if (ok) {
    answer.push_back(kind);
    if (kind == kHashed) {
      std::string hashed;
      ok = ReadText(child.channel, hashed);
      answer += hashed;
    } else {
      ok = kind == kTrue || kind == kFalse || kind == kFailed;
    }
  }
  if (!ok) {
    const pid_t pid = child.pid;
    Stop(child);
    {
      std::lock_guard lock(mutex_);
      busy_.erase(std::remove(busy_.begin(), busy_.end(), pid), busy_.end());
      --started_;
    }
    free_.notify_one();
    Raise(ErrorCode::kUnavailable,
          "The password verifier stopped before it answered; try again in a "
          "moment");
  }
  Give(child);
  return answer;
}

VerifierProcesses::Child VerifierProcesses::Take() {
  std::unique_lock lock(mutex_);
  if (idle_.empty() && started_ >= count_ && waiting_ >= queue_limit_) {
    Raise(ErrorCode::kUnavailable,
          "Too many sign-ins are waiting; try again in a moment");
  }
  ++waiting_;
  free_.wait(lock, [&] { return !idle_.empty() || started_ < count_; });
  --waiting_;
  Child child;
  if (!idle_.empty()) {
    child = idle_.back();
    idle_.pop_back();
  } else {
    ++started_;
    try {
      Start(child);
    } catch (...) {
      --started_;
      throw;
    }
  }
  busy_.push_back(child.pid);
  return child;
}

void VerifierProcesses::Give(Child child) {
  {
    std::lock_guard lock(mutex_);
    busy_.erase(std::remove(busy_.begin(), busy_.end(), child.pid),
                busy_.end());
    idle_.push_back(child);
  }
  free_.notify_one();
}

void VerifierProcesses::Start(Child& child) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    Raise(ErrorCode::kHost,
          std::string("A password verifier cannot be started: ") +
              std::strerror(errno));
  }
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close(ends[0]);
    close(ends[1]);
    Raise(ErrorCode::kHost,
          std::string("A password verifier cannot be started: ") +
              std::strerror(error));
  }
  if (pid == 0) {
    close(ends[0]);
    ServeChild(ends[1], verify_, hash_);
  }
  close(ends[1]);
  timeval wait{};
  wait.tv_sec = kAnswerSeconds;
  setsockopt(ends[0], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  setsockopt(ends[0], SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  child.pid = pid;
  child.channel = ends[0];
}

void VerifierProcesses::Stop(Child& child) {
  if (child.channel >= 0) close(child.channel);
  child.channel = -1;
  if (child.pid <= 0) return;
  // An idle child ends when its channel closes; one that is out of step is
  // ended here.
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 100; ++i) {
    done = waitpid(child.pid, &status, WNOHANG);
    if (done != 0) break;
    usleep(1000);
  }
  if (done == 0) {
    kill(child.pid, SIGKILL);
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  child.pid = -1;
}

}  // namespace wrenhaven::password
