// The page connections' pool: reuse, the bound on open connections, the
// wait for one and its end as an unavailable database.
#include "host/connection_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "testing/recording_connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Counted {
  std::atomic<int> made{0};
  ConnectionFactory factory() {
    return [this] {
      ++made;
      return std::make_shared<RecordingConnection>();
    };
  }
};

TEST(ConnectionPoolTest, ReusesReturnedConnectionsOnly) {
  Counted counted;
  host::ConnectionPool pool(counted.factory(), 2, 50ms);
  auto a = pool.Acquire();
  Connection* first = a.get();
  pool.Release(std::move(a));
  auto again = pool.Acquire();
  EXPECT_EQ(again.get(), first);
  EXPECT_EQ(counted.made, 1);
  pool.Release(std::move(again));
  // One still held elsewhere (kept by an object past its page) is not
  // handed to the next page, and no longer counts.
  auto b = pool.Acquire();
  auto kept = b;
  pool.Release(std::move(b));
  EXPECT_EQ(pool.idle(), 0u);
  EXPECT_EQ(pool.open(), 0u);
  // A discarded one is closed and frees its place.
  auto c = pool.Acquire();
  pool.Discard(std::move(c));
  EXPECT_EQ(pool.open(), 0u);
  auto d1 = pool.Acquire(), d2 = pool.Acquire();
  pool.Release(std::move(d1));
  pool.Release(std::move(d2));
  EXPECT_EQ(pool.idle(), 2u);
  EXPECT_EQ(counted.made, 4);
}

TEST(ConnectionPoolTest, AFullPoolWaitsThenAnswersUnavailable) {
  Counted counted;
  host::ConnectionPool pool(counted.factory(), 2, 300ms);
  auto a = pool.Acquire(), b = pool.Acquire();
  const auto started = Clock::now();
  try {
    pool.Acquire();
    FAIL() << "a third connection was lent";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kUnavailable);
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos)
        << e.what();
  }
  const auto waited = Clock::now() - started;
  EXPECT_GE(waited, 290ms);
  EXPECT_LT(waited, 5s);
  EXPECT_EQ(counted.made, 2);
  EXPECT_EQ(pool.open(), 2u);

  // A connection given back while a page waits goes to that page.
  Connection* const given = a.get();
  std::thread giver([&] {
    std::this_thread::sleep_for(50ms);
    pool.Release(std::move(a));
  });
  auto c = pool.Acquire();
  giver.join();
  EXPECT_EQ(c.get(), given);
  EXPECT_EQ(counted.made, 2);
  // So does the place of a discarded one, with a new connection.
  std::thread discarder([&] {
    std::this_thread::sleep_for(50ms);
    pool.Discard(std::move(b));
  });
  auto d = pool.Acquire();
  discarder.join();
  EXPECT_EQ(counted.made, 3);
  EXPECT_EQ(pool.open(), 2u);
  pool.Release(std::move(c));
  pool.Release(std::move(d));
}

TEST(ConnectionPoolTest, AFailedFactoryGivesItsPlaceBack) {
  int calls = 0;
  host::ConnectionPool pool(
      [&]() -> std::shared_ptr<Connection> {
        if (++calls <= 3) {
          Raise(ErrorCode::kUnavailable, "the database is not running");
        }
        return std::make_shared<RecordingConnection>();
      },
      1, 20ms);
  for (int i = 0; i < 3; ++i) {
    try {
      pool.Acquire();
      ADD_FAILURE() << "a connection was made";
    } catch (const Error& e) {
      // The factory's own error, not a full pool.
      EXPECT_EQ(std::string(e.what()), "the database is not running");
    }
  }
  EXPECT_EQ(pool.open(), 0u);
  auto conn = pool.Acquire();
  EXPECT_NE(conn, nullptr);
  pool.Release(std::move(conn));
}

TEST(ConnectionPoolTest, AFactoryThatGivesNothingIsAnError) {
  host::ConnectionPool none(nullptr, 2, 10ms);
  EXPECT_THROW(none.Acquire(), Error);
  host::ConnectionPool empty([] { return std::shared_ptr<Connection>(); }, 2,
                             10ms);
  EXPECT_THROW(empty.Acquire(), Error);
  EXPECT_EQ(empty.open(), 0u);
}

}  // namespace
}  // namespace wrenhaven
