// Session identifiers and the memory store's limits.
#include "host/sessions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

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

}  // namespace
}  // namespace wrenhaven
