// The front door's reading of request heads and bodies: where a head ends,
// the limits on it, the framing headers and the chunked decoder. The
// door's connections are tested over HTTP (tests/http/limits_test.cc).
#include "host/front_door.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace wrenhaven::host
