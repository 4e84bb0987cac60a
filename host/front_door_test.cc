// The front door's reading of request heads and bodies: where a head ends,
// the limits on it, the framing headers and the chunked decoder; and how a
// worker keeps a kept-alive connection between requests. The door's limits
// are tested over HTTP (tests/http/limits_test.cc).
#include "host/front_door.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace wrenhaven::host {
namespace {

DoorLimits Small() {
  DoorLimits limits;
  limits.max_head_bytes = 150;
  limits.max_header_line = 60;
  limits.max_headers = 3;
  return limits;
}

TEST(HeadEndTest, EndsAtTheFirstBlankLineAfterTheRequestLine) {
  int refusal = -1;
  const std::string head = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
  EXPECT_EQ(HeadEnd(head + "body", Small(), &refusal), head.size());
  EXPECT_EQ(refusal, 0);
  // Not yet complete.
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\r\nHost: a\r\n", Small(), &refusal), 0u);
  EXPECT_EQ(refusal, 0);
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\r\nHost: a\r\n\r", Small(), &refusal), 0u);
  // A bare LF line is no end; the blank line after it is.
  const std::string bare = "GET / HTTP/1.1\r\nX: 1\n\n\r\n";
  EXPECT_EQ(HeadEnd(bare, Small(), &refusal), bare.size());
  // A request line alone and then the blank line.
  EXPECT_EQ(HeadEnd("GET / HTTP/1.0\r\n\r\n", Small(), &refusal), 18u);
}

TEST(HeadEndTest, LimitsAreAnswered431AsSoonAsTheyArePassed) {
  int refusal = 0;
  // Three headers pass, a fourth does not, complete or not.
  const std::string three = "GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n";
  EXPECT_GT(HeadEnd(three + "\r\n", Small(), &refusal), 0u);
  EXPECT_EQ(refusal, 0);
  EXPECT_EQ(HeadEnd(three + "D: 4\r\n", Small(), &refusal), 0u);
  EXPECT_EQ(refusal, 431);
  // One line too long, even before its end arrives.
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\r\nA: " + std::string(60, 'x'), Small(),
                    &refusal),
            0u);
  EXPECT_EQ(refusal, 431);
  // The longest line: 60 bytes, its CR and LF included.
  EXPECT_EQ(HeadEnd("GET /" + std::string(53, 'x') + "\r\n", Small(), &refusal),
            0u);
  EXPECT_EQ(refusal, 0);
  EXPECT_EQ(HeadEnd("GET /" + std::string(54, 'x') + "\r\n", Small(), &refusal),
            0u);
  EXPECT_EQ(refusal, 431);
  // The head as a whole: 150 bytes pass, 151 do not.
  const std::string start = "GET / HTTP/1.1\r\n";                     // 16
  const std::string longest = "A: " + std::string(55, 'y') + "\r\n";  // 60
  EXPECT_EQ(HeadEnd(start + longest + longest + "B: 1234567\r\n\r\n", Small(),
                    &refusal),
            150u);
  EXPECT_EQ(refusal, 0);
  EXPECT_EQ(HeadEnd(start + longest + longest + "B: 12345678\r\n\r\n", Small(),
                    &refusal),
            0u);
  EXPECT_EQ(refusal, 431);
  // Past the limit before the end arrives.
  DoorLimits many = Small();
  many.max_headers = 100;
  std::string partial = start;
  while (partial.size() <= 150) partial += "C: 1\r\n";
  EXPECT_EQ(HeadEnd(partial, many, &refusal), 0u);
  EXPECT_EQ(refusal, 431);
  EXPECT_EQ(HeadEnd(partial.substr(0, 150), many, &refusal), 0u);
  EXPECT_EQ(refusal, 0);
}

TEST(HeadFactsTest, FramingHeaders) {
  HeadFacts facts;
  EXPECT_EQ(ReadHeadFacts("POST / HTTP/1.1\r\ncontent-length:  12 \r\n\r\n",
                          100, &facts),
            0);
  EXPECT_TRUE(facts.has_length);
  EXPECT_EQ(facts.length, 12u);
  EXPECT_FALSE(facts.chunked);
  EXPECT_EQ(ReadHeadFacts("POST / HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n"
                          "Expect: 100-continue\r\n\r\n",
                          100, &facts),
            0);
  EXPECT_TRUE(facts.chunked);
  EXPECT_TRUE(facts.expects_continue);
  EXPECT_EQ(ReadHeadFacts("GET / HTTP/1.1\r\nHost: a\r\n\r\n", 100, &facts), 0);
  EXPECT_FALSE(facts.has_length || facts.chunked || facts.expects_continue);

  struct Case {
    const char* headers;
    int status;
  } cases[] = {
      {"Content-Length: 101\r\n", 413},
      {"Content-Length: 99999999999999999999\r\n", 400},
      {"Content-Length: 18446744073709551615\r\n", 400},
      {"Content-Length: 9999999999999999999\r\n", 413},
      {"Content-Length: -1\r\n", 400},
      {"Content-Length: 1e3\r\n", 400},
      {"Content-Length:\r\n", 400},
      {"Content-Length: 5\r\nContent-Length: 5\r\n", 400},
      {"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", 400},
      {"Transfer-Encoding: gzip, chunked\r\n", 400},
      {"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", 400},
      {"Expect: 200-ok\r\n", 417},
      {"Content-Length: 100\r\n", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        ReadHeadFacts(std::string("POST / HTTP/1.1\r\n") + c.headers + "\r\n",
                      100, &facts),
        c.status)
        << c.headers;
  }
}

TEST(HeadFactsTest, TheLibrarySeesOneLengthOfTheBodyRead) {
  EXPECT_EQ(RewrittenHead("POST /a?b HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: "
                          "chunked\r\nexpect: 100-continue\r\nX-A: 1\r\n\r\n",
                          42),
            "POST /a?b HTTP/1.1\r\nHost: h\r\nX-A: 1\r\nContent-Length: "
            "42\r\n\r\n");
  EXPECT_EQ(RewrittenHead("GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 0),
            "GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  // A header whose name only looks like a framing one stays.
  EXPECT_EQ(
      RewrittenHead("GET / HTTP/1.1\r\nContent-Length : 9\r\n\r\n", 0),
      "GET / HTTP/1.1\r\nContent-Length : 9\r\nContent-Length: 0\r\n\r\n");
}

TEST(ChunkedBodyTest, DecodesPieceByPieceAndKeepsWhatFollows) {
  const std::string body =
      "5\r\nhello\r\n1;ext=1\r\n \r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n"
      "GET /next";
  // Fed in every split, the same body.
  for (size_t split = 0; split <= body.size(); ++split) {
    ChunkedBody chunked(100);
    std::string bytes = body.substr(0, split);
    int fed = chunked.Feed(bytes);
    bytes += body.substr(split);
    if (fed == ChunkedBody::kMore) fed = chunked.Feed(bytes);
    ASSERT_EQ(fed, ChunkedBody::kDone) << split;
    EXPECT_EQ(chunked.body(), "hello 0123456789") << split;
    EXPECT_EQ(bytes, "GET /next") << split;
  }
}

TEST(ChunkedBodyTest, RefusesMalformedAndOversizedBodies) {
  struct Case {
    std::string bytes;
    int status;
  } cases[] = {
      {"5\r\nhelloXX", 400},          // no CRLF after the data
      {"x\r\n", 400},                 // no size
      {"5x\r\nhello\r\n", 400},       // junk after the size
      {"1000000000000000\r\n", 400},  // sixteen digits
      {"65\r\n", 413},                // 101 > 100
      {"64\r\n" + std::string(100, 'a') + "\r\n1\r\n", 413},
      {std::string(5000, '1'), 400},            // a size line without end
      {"0\r\n" + std::string(9000, 'a'), 400},  // an endless trailer
  };
  for (const Case& c : cases) {
    ChunkedBody chunked(100);
    std::string bytes = c.bytes;
    EXPECT_EQ(chunked.Feed(bytes), c.status) << c.bytes.substr(0, 20);
  }
  // Exactly the limit passes.
  ChunkedBody full(100);
  std::string bytes = "64\r\n" + std::string(100, 'a') + "\r\n0\r\n\r\n";
  EXPECT_EQ(full.Feed(bytes), ChunkedBody::kDone);
  EXPECT_EQ(full.body().size(), 100u);
}

// A door whose pages answer with the path they were asked for, and the
// client end of connections to it (socket pairs, admitted as accepted
// sockets are).
class LingerTest : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;

  void Start(DoorLimits limits) {
    door_ = std::make_unique<FrontDoor>(
        std::move(limits), [](httplib::Stream& stream, bool, bool&) {
          std::string request;
          char chunk[512];
          while (stream.is_readable()) {
            const ssize_t n = stream.read(chunk, sizeof chunk);
            if (n <= 0) break;
            request.append(chunk, static_cast<size_t>(n));
          }
          const size_t from = request.find(' ') + 1;
          const std::string path =
              request.substr(from, request.find(' ', from) - from);
          const std::string answer = Ok(path);
          return stream.write(answer.data(), answer.size()) ==
                 static_cast<ssize_t>(answer.size());
        });
    door_->Start();
  }

  // A new connection's client end.
  int Connect() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return -1;
    door_->Admit(pair[1]);
    clients_.push_back(pair[0]);
    return pair[0];
  }

  static bool Send(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // What arrives on `fd` within `wait`: one answer (its head and body),
  // or what came before the connection closed or the time ran out.
  static std::string Answer(int fd, std::chrono::milliseconds wait) {
    std::string got;
    const auto until = Clock::now() + wait;
    for (;;) {
      const size_t head_end = got.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        const size_t length = got.find("Content-Length: ");
        const size_t body = length == std::string::npos
                                ? 0
                                : std::stoul(got.substr(length + 16));
        if (got.size() >= head_end + 4 + body) return got;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - Clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 ||
          ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return got;
      }
      // A byte at a time: what follows the answer stays for the next.
      char byte = 0;
      if (::recv(fd, &byte, 1, 0) != 1) return got;
      got += byte;
    }
  }

  // Asks for `path` on the connection and waits for the answer.
  static std::string Get(int fd, const std::string& path) {
    if (!Send(fd, "GET " + path + " HTTP/1.1\r\nHost: h\r\n\r\n")) return "";
    return Answer(fd, std::chrono::seconds(5));
  }

  static DoorLimits Lingering(size_t workers,
                              std::chrono::microseconds linger) {
    DoorLimits limits;
    limits.workers = workers;
    limits.linger = linger;
    return limits;
  }

  static std::string Ok(const std::string& path) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(path.size()) +
           "\r\n\r\n" + path;
  }

  void TearDown() override {
    if (door_) door_->Stop();
    for (const int fd : clients_) ::close(fd);
  }

  std::unique_ptr<FrontDoor> door_;
  std::vector<int> clients_;
};

using std::chrono_literals::operator""ms;
using std::chrono_literals::operator""s;

TEST_F(LingerTest, RequestsInQuickSuccessionStayWithTheirWorker) {
  Start(Lingering(2, std::chrono::seconds(5)));
  const int fd = Connect();
  for (int i = 0; i < 20; ++i) {
    const std::string path = "/" + std::to_string(i);
    ASSERT_EQ(Get(fd, path), Ok(path));
  }
  // Two requests in one go: the second is read with the first.
  ASSERT_TRUE(Send(fd,
                   "GET /a HTTP/1.1\r\nHost: h\r\n\r\n"
                   "GET /b HTTP/1.1\r\nHost: h\r\n\r\n"));
  EXPECT_EQ(Answer(fd, 5000ms), Ok("/a"));
  EXPECT_EQ(Answer(fd, 5000ms), Ok("/b"));
  EXPECT_EQ(door_->hand_backs(), 0u);
  // The client that leaves ends its connection without the poller.
  ::shutdown(fd, SHUT_WR);
  EXPECT_EQ(Answer(fd, 5000ms), "");
  for (int i = 0; i < 100 && door_->open_connections() > 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(door_->open_connections(), 0u);
  EXPECT_EQ(door_->hand_backs(), 0u);
}

// What a lingering worker read of a head it did not see complete goes to
// the poller with the connection, and the head's deadline still runs from
// its first byte.
TEST_F(LingerTest, AHeadBegunWhileLingeringKeepsItsBytesAndDeadline) {
  DoorLimits limits = Lingering(2, std::chrono::milliseconds(400));
  limits.head_deadline = std::chrono::milliseconds(600);
  limits.keep_alive = std::chrono::seconds(4);
  Start(limits);
  const int fd = Connect();
  ASSERT_EQ(Get(fd, "/first"), Ok("/first"));
  ASSERT_TRUE(Send(fd, "GET /second HTTP/1.1\r\n"));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(door_->hand_backs(), 1u);
  ASSERT_TRUE(Send(fd, "Host: h\r\n\r\n"));
  EXPECT_EQ(Answer(fd, 5000ms), Ok("/second"));

  const auto begun = Clock::now();
  ASSERT_TRUE(Send(fd, "GET /third HTTP/1.1\r\n"));
  const std::string late = Answer(fd, 3000ms);
  const auto took = Clock::now() - begun;
  EXPECT_EQ(late.substr(0, late.find("\r\n")), "HTTP/1.1 408 Request Timeout");
  // Not 600 ms from the hand-back, 400 ms later.
  EXPECT_GE(took, 550ms);
  EXPECT_LT(took, 950ms);
}

TEST_F(LingerTest, AWaitingConnectionCallsALingeringWorkerAway) {
  Start(Lingering(1, std::chrono::seconds(20)));
  const int first = Connect();
  ASSERT_EQ(Get(first, "/first"), Ok("/first"));
  std::this_thread::sleep_for(100ms);
  // The only worker still waits for the first connection's next request.
  ASSERT_EQ(door_->hand_backs(), 0u);

  const int second = Connect();
  const auto asked = Clock::now();
  EXPECT_EQ(Get(second, "/second"), Ok("/second"));
  EXPECT_LT(Clock::now() - asked, 1s);
  EXPECT_EQ(door_->hand_backs(), 1u);
  // The first connection, handed back, is served as before.
  EXPECT_EQ(Get(first, "/again"), Ok("/again"));

  // Stopping calls the lingering worker away too.
  std::this_thread::sleep_for(100ms);
  const auto stopping = Clock::now();
  door_->Stop();
  EXPECT_LT(Clock::now() - stopping, 1s);
  EXPECT_EQ(Answer(second, 1000ms), "");
  EXPECT_EQ(door_->open_connections(), 0u);
}

TEST_F(LingerTest, AtMostHalfTheWorkersLinger) {
  Start(Lingering(2, std::chrono::seconds(20)));
  const int first = Connect();
  ASSERT_EQ(Get(first, "/first"), Ok("/first"));
  // The answer leaves before its worker begins to linger.
  std::this_thread::sleep_for(100ms);
  const int second = Connect();
  ASSERT_EQ(Get(second, "/second"), Ok("/second"));
  // The second went back to the poller at once; the first still lingers.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(door_->hand_backs(), 1u);
  const int third = Connect();
  EXPECT_EQ(Get(third, "/third"), Ok("/third"));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(door_->hand_backs(), 2u);
  // The lingering worker serves the first connection's next request.
  EXPECT_EQ(Get(first, "/again"), Ok("/again"));
  EXPECT_EQ(door_->hand_backs(), 2u);
}

}  // namespace
}  // namespace wrenhaven::host
