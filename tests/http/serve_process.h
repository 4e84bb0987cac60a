// One `wrenhaven serve` process on a free port of 127.0.0.1, for tests
// that need the real command: stopped with SIGTERM when the object goes
// (SIGKILL when it does not stop within 10 s), or killed at once.
#ifndef WRENHAVEN_TESTS_HTTP_SERVE_PROCESS_H_
#define WRENHAVEN_TESTS_HTTP_SERVE_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace wrenhaven::testing {

class ServeProcess {
 public:
  // Raises std::runtime_error when the server does not start.
  ServeProcess(const std::string& db, std::vector<std::string> extra);
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return port_; }
  std::string Log() const;
  // SIGKILL, as a crash: no clean stop, nothing flushed.
  void Kill();

 private:
  std::string log_;
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace wrenhaven::testing

#endif  // WRENHAVEN_TESTS_HTTP_SERVE_PROCESS_H_
