// Session identifiers, the memory store's limits, and the connection pool.
#include "host/sessions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include "host/connection_pool.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven {
namespace {

using namespace std::chrono_literals;

TEST(SessionIdTest, LongRandomAndRecognised) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string id = host::NewSessionId();
    ASSERT_EQ(id.size(), 64u);  // 256 bits
    EXPECT_TRUE(host::IsSessionId(id));
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_FALSE(host::IsSessionId(""));
  EXPECT_FALSE(host::IsSessionId("planted"));
  EXPECT_FALSE(host::IsSessionId(std::string(64, 'A')));
  EXPECT_FALSE(host::IsSessionId(std::string(63, 'a')));
}

class FakeClock {
 public:
  SessionClock::time_point now() const { return now_; }
  void Advance(std::chrono::seconds s) { now_ += s; }

 private:
  SessionClock::time_point now_ = SessionClock::time_point(1000h);
};

SessionStore::Entry Entry(const FakeClock& clock, int32_t person) {
  return {{{"PersonID", Variant::Long(person)}}, clock.now()};
}

TEST(MemorySessionStoreTest, KeepsValuesUntilIdleTooLong) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  store->Save("s", Entry(clock, 7));
  clock.Advance(19min);
  auto loaded = store->Load("s");
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->values.at(0).second, Variant::Long(7));
  // Each page restarts the idle count.
  clock.Advance(19min);
  EXPECT_TRUE(store->Load("s").has_value());
  clock.Advance(20min);
  EXPECT_FALSE(store->Load("s").has_value());
  // Gone for good, not only hidden.
  clock.Advance(-40min);
  EXPECT_FALSE(store->Load("s").has_value());
}

TEST(MemorySessionStoreTest, AbsoluteLimitHoldsHoweverBusy) {
  FakeClock clock;
  auto store = MakeMemorySessionStore({20min, 1h}, [&] { return clock.now(); });
  store->Save("s", Entry(clock, 7));
  for (int i = 0; i < 5; ++i) {
    clock.Advance(10min);
    EXPECT_TRUE(store->Load("s").has_value()) << i;
  }
  clock.Advance(10min);
  EXPECT_FALSE(store->Load("s").has_value());
}

TEST(MemorySessionStoreTest, RemoveAndUnknown) {
  FakeClock clock;
  auto store = MakeMemorySessionStore({}, [&] { return clock.now(); });
  store->Save("a", Entry(clock, 1));
  store->Save("b", Entry(clock, 2));
  store->Remove("a");
  EXPECT_FALSE(store->Load("a").has_value());
  EXPECT_EQ(store->Load("b")->values.at(0).second, Variant::Long(2));
  EXPECT_FALSE(store->Load("c").has_value());
}

TEST(MemorySessionStoreTest, CountsOnlyTheOpenSessions) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  EXPECT_EQ(store->CountOpen(), 0u);
  store->Save("a", Entry(clock, 1));
  clock.Advance(15min);
  store->Save("b", Entry(clock, 2));
  store->Save("c", Entry(clock, 3));
  EXPECT_EQ(store->CountOpen(), 3u);
  store->Remove("c");
  EXPECT_EQ(store->CountOpen(), 2u);
  // "a" runs out unused; it is not yet swept away, but not open either.
  clock.Advance(6min);
  EXPECT_EQ(store->CountOpen(), 1u);
}

// A connection that does nothing: the pool only hands it around.
class IdleConnection : public Connection {
 public:
  void Execute(std::string_view) override {}
  std::unique_ptr<Recordset> Open(std::string_view, CursorType) override {
    return nullptr;
  }
  const Dialect& dialect() const override { std::abort(); }
  void Begin() override {}
  void Commit() override {}
  void Rollback() override {}
  int transaction_depth() const override { return 0; }
};

TEST(ConnectionPoolTest, ReusesReturnedConnectionsOnly) {
  int made = 0;
  host::ConnectionPool pool(
      [&] {
        ++made;
        return std::make_shared<IdleConnection>();
      },
      2);
  auto a = pool.Acquire();
  Connection* first = a.get();
  pool.Release(std::move(a));
  EXPECT_EQ(pool.Acquire().get(), first);
  EXPECT_EQ(made, 1);
  // One still held elsewhere (kept by an object past its page) is not
  // handed to the next page.
  auto b = pool.Acquire();
  auto kept = b;
  pool.Release(std::move(b));
  EXPECT_EQ(pool.idle(), 0u);
  // At most max_idle are kept.
  auto c1 = pool.Acquire(), c2 = pool.Acquire(), c3 = pool.Acquire();
  pool.Release(std::move(c1));
  pool.Release(std::move(c2));
  pool.Release(std::move(c3));
  EXPECT_EQ(pool.idle(), 2u);
}

TEST(ConnectionPoolTest, CountsConnectionsInUseAndCallersWaiting) {
  std::atomic<bool> open{false};
  std::atomic<bool> making{false};
  host::ConnectionPool pool(
      [&] {
        making = true;
        while (!open) std::this_thread::sleep_for(1ms);
        return std::make_shared<IdleConnection>();
      },
      4);
  std::shared_ptr<Connection> slow;
  std::thread waiter([&] { slow = pool.Acquire(); });
  while (!making) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(pool.waiting(), 1u);
  EXPECT_EQ(pool.in_use(), 0u);
  open = true;
  waiter.join();
  EXPECT_EQ(pool.waiting(), 0u);
  EXPECT_EQ(pool.in_use(), 1u);
  auto second = pool.Acquire();
  EXPECT_EQ(pool.in_use(), 2u);
  // Given back after a page that failed: dropped, and no longer in use.
  pool.Release(std::move(slow), /*reuse=*/false);
  EXPECT_EQ(pool.in_use(), 1u);
  EXPECT_EQ(pool.idle(), 0u);
  pool.Release(std::move(second));
  EXPECT_EQ(pool.in_use(), 0u);
  EXPECT_EQ(pool.idle(), 1u);
  pool.Release(nullptr);
  EXPECT_EQ(pool.in_use(), 0u);
  // A factory that fails leaves nobody waiting.
  host::ConnectionPool failing(
      []() -> std::shared_ptr<Connection> {
        Raise(ErrorCode::kDatabase, "refused");
      },
      1);
  EXPECT_THROW(failing.Acquire(), Error);
  EXPECT_EQ(failing.waiting(), 0u);
  EXPECT_EQ(failing.in_use(), 0u);
}

TEST(ConnectionPoolTest, AFactoryThatGivesNothingIsAnError) {
  host::ConnectionPool none(nullptr, 2);
  EXPECT_THROW(none.Acquire(), Error);
  host::ConnectionPool empty([] { return std::shared_ptr<Connection>(); }, 2);
  EXPECT_THROW(empty.Acquire(), Error);
}

}  // namespace
}  // namespace wrenhaven
