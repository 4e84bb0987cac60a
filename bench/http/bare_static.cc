// A bare cpp-httplib server that answers GET of one path with one file
// held in memory, with the thread pool, keep-alive and socket settings of
// the page host, for run.sh to compare the host's static files with.
//
//   bare_static FILE PATH [WORKERS [KEEP_ALIVE_SECONDS]]
//
// Prints its address ("http://127.0.0.1:PORT/") and serves until killed.
// The defaults are the page host's (HttpHostOptions).
#include <httplib.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "wrenhaven/http_host.h"

namespace {

// The page host listens with the widest backlog too.
class Listener : public httplib::Server {
 public:
  bool WidenBacklog() {
    return svr_sock_ != INVALID_SOCKET && ::listen(svr_sock_, SOMAXCONN) == 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: bare_static FILE PATH [WORKERS [KEEP_ALIVE]]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  const std::string body(std::istreambuf_iterator<char>(in), {});
  const wrenhaven::HttpHostOptions defaults;
  const size_t workers =
      static_cast<size_t>(argc > 3 ? std::atoi(argv[3]) : defaults.workers);
  const int keep_alive =
      argc > 4 ? std::atoi(argv[4]) : defaults.keep_alive_seconds;

  Listener server;
  server.new_task_queue = [workers] {
    return new httplib::ThreadPool(workers);
  };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(keep_alive);
  server.set_keep_alive_max_count(
      static_cast<size_t>(defaults.keep_alive_requests));
  server.set_payload_max_length(defaults.max_body_bytes);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  server.Get(argv[2], [&body](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, "text/css; charset=utf-8");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0 || !server.WidenBacklog()) {
    std::fprintf(stderr, "cannot listen\n");
    return 2;
  }
  std::printf("http://127.0.0.1:%d/\n", port);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}
