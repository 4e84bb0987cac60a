// The main window's menu cache: what it keeps, for how long, within which
// bounds, and what reading the two menus through it sends.
#include "web/menu_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "testing/recording_connection.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven::web {
namespace {

MenuItems List(int n, int32_t first_id = 1) {
  auto items = std::make_shared<std::vector<MenuItem>>();
  for (int i = 0; i < n; ++i) {
    MenuItem item;
    item.id = first_id + i;
    item.name = "m" + std::to_string(item.id);
    items->push_back(item);
  }
  return items;
}

constexpr RightsStamp kStamp{4, 0};

TEST(MenuCacheTest, KeepsEachListByRolesAndMenu) {
  MenuCache cache;
  EXPECT_EQ(cache.Find("1,2", std::nullopt, kStamp), nullptr);
  const MenuItems top = List(3);
  const MenuItems left = List(5, 10);
  cache.Keep("1,2", std::nullopt, kStamp, top);
  cache.Keep("1,2", 1, kStamp, left);
  EXPECT_EQ(cache.Find("1,2", std::nullopt, kStamp), top);
  EXPECT_EQ(cache.Find("1,2", 1, kStamp), left);
  // Other roles, another parent, the same roles written otherwise.
  EXPECT_EQ(cache.Find("1,3", std::nullopt, kStamp), nullptr);
  EXPECT_EQ(cache.Find("1,2", 2, kStamp), nullptr);
  EXPECT_EQ(cache.Find("2,1", 1, kStamp), nullptr);
  EXPECT_EQ(cache.lists(), 2u);
  EXPECT_EQ(cache.items(), 8u);
}

// Any move of either counter drops every list; rows read under a stamp
// that has moved on are not kept.
TEST(MenuCacheTest, AMovedStampDropsEverything) {
  const struct {
    const char* what;
    RightsStamp next;
    bool kept;
  } cases[] = {
      {"the same stamp", {4, 0}, true},
      {"the database's version moved", {5, 0}, false},
      {"a change in this process", {4, 1}, false},
      {"an older version (another thread's read)", {3, 0}, false},
  };
  for (const auto& c : cases) {
    MenuCache cache;
    cache.Keep("1", std::nullopt, kStamp, List(2));  // no Find yet: no stamp
    EXPECT_EQ(cache.lists(), 0u) << c.what;
    cache.Find("1", std::nullopt, kStamp);
    cache.Keep("1", std::nullopt, kStamp, List(2));
    EXPECT_EQ(cache.Find("1", std::nullopt, c.next) != nullptr, c.kept)
        << c.what;
    EXPECT_EQ(cache.lists(), c.kept ? 1u : 0u) << c.what;
    // Read under the old stamp, kept only when it still stands.
    cache.Keep("1", 7, kStamp, List(2));
    EXPECT_EQ(cache.Find("1", 7, c.next) != nullptr, c.kept) << c.what;
  }
}

TEST(MenuCacheTest, BoundedInListsAndEntriesTheLeastRecentlyFoundGoFirst) {
  MenuCache cache(MenuCache::Limits{3, 10});
  cache.Find("a", std::nullopt, kStamp);
  cache.Keep("a", std::nullopt, kStamp, List(3));
  cache.Keep("b", std::nullopt, kStamp, List(3));
  cache.Keep("c", std::nullopt, kStamp, List(3));
  ASSERT_NE(cache.Find("a", std::nullopt, kStamp), nullptr);  // a is fresh
  cache.Keep("d", std::nullopt, kStamp,
             List(1));  // three lists at most: b goes
  EXPECT_EQ(cache.Find("b", std::nullopt, kStamp), nullptr);
  EXPECT_EQ(cache.lists(), 3u);
  EXPECT_EQ(cache.items(), 7u);
  // Room for 9 more: c, then a go; d, found or kept last, stays.
  cache.Keep("e", std::nullopt, kStamp, List(9));
  EXPECT_EQ(cache.lists(), 2u);
  EXPECT_EQ(cache.items(), 10u);
  EXPECT_NE(cache.Find("d", std::nullopt, kStamp), nullptr);
  cache.Keep("f", std::nullopt, kStamp, List(11));  // more than all the room
  EXPECT_EQ(cache.Find("f", std::nullopt, kStamp), nullptr);
  EXPECT_NE(cache.Find("e", std::nullopt, kStamp), nullptr);
  // A list kept again replaces the one before.
  cache.Keep("e", std::nullopt, kStamp, List(2));
  EXPECT_EQ(cache.items(), 3u);
}

TEST(MenuCacheTest, VeryLongRoleListsAreNotKept) {
  MenuCache cache;
  const std::string roles(MenuCache::kMaxRolesText + 1, '1');
  cache.Find(roles, std::nullopt, kStamp);
  cache.Keep(roles, std::nullopt, kStamp, List(1));
  EXPECT_EQ(cache.lists(), 0u);
  EXPECT_EQ(cache.Find(roles, std::nullopt, kStamp), nullptr);
}

// Worker threads finding, keeping and moving the stamp at once: every list
// found is one that was kept for its key, and the bounds hold.
TEST(MenuCacheTest, SharedByThreads) {
  MenuCache cache(MenuCache::Limits{16, 64});
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string roles = std::to_string(i % 23);
        const RightsStamp stamp{(i / 500), 0};
        const int32_t parent = i % 5;
        MenuItems found = cache.Find(roles, parent, stamp);
        if (found && found->front().id != parent * 100 + (i % 23)) ++wrong;
        if (!found) {
          cache.Keep(roles, parent, stamp, List(1 + t, parent * 100 + i % 23));
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(cache.lists(), 16u);
  EXPECT_LE(cache.items(), 64u);
}

// ---- the two menus of one main window --------------------------------------

struct Visitor {
  std::shared_ptr<RecordingConnection> conn =
      std::make_shared<RecordingConnection>();
  std::shared_ptr<MemoryContext> context = std::make_shared<MemoryContext>();
  std::shared_ptr<Menu> menu = std::make_shared<Menu>();

  explicit Visitor(const std::string& roles) {
    context->session_obj->Set("RoleID", Variant::String(roles));
    menu->OnStartPage(context);
    menu->SetConn(conn);
  }
  // Answers for the rights version, the top menu and the left menu.
  void QueueWindow(int version) {
    conn->Queue({{"Version"}, {{Variant::Long(version)}}});
    QueueMenus();
  }
  void QueueMenus() {
    const Variant n = Variant::Null();
    conn->Queue({{"menuID", "menuName", "menuIcon", "FunUrl", "MenuTip",
                  "MenuEnglish", "MenuEnglishTip"},
                 {{Variant::Long(1), Variant::String("A"), n, n, n, n, n},
                  {Variant::Long(2), Variant::String("B"), n, n, n, n, n}}});
    conn->Queue({{"ItemID", "ItemName", "ItemIcon", "ItemUrl", "ItemParent",
                  "ItemTip", "ItemEnglish", "ItemEnglishTip", "ItemLevel"},
                 {{Variant::Long(7), Variant::String("B1"), n,
                   Variant::String("/apps/b1"), Variant::Long(2),
                   Variant::String("tip"), Variant::String("B one"), n,
                   Variant::Long(1)}}});
  }
};

TEST(WindowMenusTest, TheWantedTopEntryOrTheFirst) {
  const struct {
    const char* wanted;
    int32_t chosen;
  } cases[] = {{"2", 2}, {"", 1}, {"9", 1}, {"2x", 1}};
  for (const auto& c : cases) {
    Visitor v("3,4");
    v.QueueMenus();
    const WindowMenus w =
        ReadWindowMenus(*v.menu, *v.conn, nullptr, "3,4", c.wanted);
    ASSERT_NE(w.chosen, nullptr) << c.wanted;
    EXPECT_EQ(w.chosen->id, c.chosen) << c.wanted;
    // Without a cache: the two menus only, the left one in one statement.
    ASSERT_EQ(v.conn->sent.size(), 2u);
    EXPECT_NE(v.conn->sent[1].find(
                  "m.MenuParentID=" + std::to_string(c.chosen) + " and"),
              std::string::npos)
        << v.conn->sent[1];
  }
}

TEST(WindowMenusTest, ThroughTheCacheTheVersionFirstThenWhatIsNotKept) {
  MenuCache cache;
  Visitor v("3,4");
  v.QueueWindow(8);
  WindowMenus w = ReadWindowMenus(*v.menu, *v.conn, &cache, "3,4", "2");
  ASSERT_EQ(v.conn->sent.size(), 3u);
  EXPECT_EQ(v.conn->sent[0],
            "SELECT Version FROM SYS_Version WHERE Name='rights'");
  ASSERT_EQ(w.left->size(), 1u);
  EXPECT_EQ(w.left->front().english, "B one");
  EXPECT_EQ(w.left->front().url, "/apps/b1");

  v.conn->Queue({{"Version"}, {{Variant::Long(8)}}});
  w = ReadWindowMenus(*v.menu, *v.conn, &cache, "3,4", "2");
  EXPECT_EQ(v.conn->sent.size(), 4u);
  EXPECT_EQ(w.chosen->id, 2);

  // The version moved: both menus are read again.
  v.QueueWindow(9);
  ReadWindowMenus(*v.menu, *v.conn, &cache, "3,4", "2");
  EXPECT_EQ(v.conn->sent.size(), 7u);

  // No 'rights' row: an error, nothing read from a cache that cannot know.
  Visitor bare("3,4");
  EXPECT_THROW(ReadWindowMenus(*bare.menu, *bare.conn, &cache, "3,4", ""),
               Error);
  EXPECT_EQ(bare.conn->sent.size(), 1u);
}

// Drawn windows are kept per role list, chosen entry and language, go
// with the rows when the stamp moves, and stay within their bounds.
TEST(MenuCacheTest, DrawnWindowsByRolesEntryAndLanguage) {
  MenuCache::Limits limits;
  limits.drawn = 3;
  limits.drawn_bytes = 100;
  MenuCache cache(limits);
  const auto drawn = [](const std::string& top) {
    return std::make_shared<const MenuCache::Drawn>(
        MenuCache::Drawn{top, "left", "/x"});
  };
  const MenuCache::DrawnWindow one = drawn("one");
  EXPECT_EQ(cache.FindDrawn("1,2", 1, true, kStamp), nullptr);
  cache.KeepDrawn("1,2", 1, true, kStamp, one);
  EXPECT_EQ(cache.FindDrawn("1,2", 1, true, kStamp), one);
  EXPECT_EQ(cache.FindDrawn("1,2", 1, false, kStamp), nullptr);
  EXPECT_EQ(cache.FindDrawn("1,2", 2, true, kStamp), nullptr);
  EXPECT_EQ(cache.FindDrawn("2,1", 1, true, kStamp), nullptr);
  EXPECT_EQ(cache.drawn_hits(), 1u);
  EXPECT_EQ(cache.drawn_misses(), 4u);
  EXPECT_EQ(cache.lists(), 0u);  // rows are counted apart

  // A moved stamp drops drawn windows with the rows; one drawn under the
  // old stamp is not kept afterwards.
  cache.Keep("1,2", std::nullopt, kStamp, List(2));
  const RightsStamp next{kStamp.database + 1, 0};
  EXPECT_EQ(cache.FindDrawn("1,2", 1, true, next), nullptr);
  EXPECT_EQ(cache.drawn(), 0u);
  EXPECT_EQ(cache.lists(), 0u);
  cache.KeepDrawn("1,2", 1, true, kStamp, one);
  EXPECT_EQ(cache.drawn(), 0u);

  // At most three windows, and at most 100 bytes of markup: the one found
  // longest ago goes, and one larger than the room is never kept.
  for (int chosen = 1; chosen <= 4; ++chosen) {
    cache.KeepDrawn("1", chosen, true, next, drawn("w"));
    if (chosen == 2) {
      EXPECT_NE(cache.FindDrawn("1", 1, true, next), nullptr);
    }
  }
  EXPECT_EQ(cache.drawn(), 3u);
  EXPECT_NE(cache.FindDrawn("1", 1, true, next), nullptr);  // found lately
  EXPECT_EQ(cache.FindDrawn("1", 2, true, next), nullptr);  // went first
  cache.KeepDrawn("1", 9, true, next, drawn(std::string(120, 'x')));
  EXPECT_EQ(cache.FindDrawn("1", 9, true, next), nullptr);
  EXPECT_EQ(cache.drawn(), 3u);
  cache.KeepDrawn("1", 8, true, next, drawn(std::string(90, 'x')));
  EXPECT_NE(cache.FindDrawn("1", 8, true, next), nullptr);
  EXPECT_EQ(cache.drawn(), 1u);  // 96 bytes: no room for another
}

}  // namespace
}  // namespace wrenhaven::web
