// The main window's menus, kept in memory per set of roles.
//
// Every main window needs the top menu and one left menu of its visitor,
// and visitors with the same roles see the same menus, so the rows are
// read once per role list (the session's "RoleID" text as it stands) and
// kept until who may see what changes. A change shows in two counters,
// which together make the stamp the rows were read under:
//   - the database's rights version (SYS_Version, Name 'rights'), counted
//     up in the same transaction as every change of the roles, the
//     people's roles, the menus, the functions or the grants, by whatever
//     server or program made it;
//   - MenuChangesInProcess(), counted up by every change of the menu tree
//     made through the library in this process, at once.
// Each main window reads both first (one cheap statement, or none when
// the session store read the database's version with the session), and
// the cache forgets everything when the stamp is not the one it holds
// rows for.
//
// Beside the rows, the cache keeps the two menus of a main window as drawn
// (per role list, chosen top entry and language), under the same stamp:
// visitors with the same roles get the same markup, and most main windows
// then draw only the visitor's own part.
//
// Bounded: at most Limits::lists lists and Limits::items entries in all
// (an entry is a menu's number, level and six short texts: the defaults
// hold a few tens of megabytes at the very most), and at most
// Limits::drawn drawn windows of at most Limits::drawn_bytes together; to
// make room the lists (or windows) found longest ago go first, and one
// larger than all the room is not kept. Role lists longer than
// kMaxRolesText are never kept.
//
// Safe to use from several threads at once; the lists handed out are
// never changed afterwards.
#ifndef WRENHAVEN_WEB_MENU_CACHE_H_
#define WRENHAVEN_WEB_MENU_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/menu.h"

namespace wrenhaven::web {

using MenuItems = std::shared_ptr<const std::vector<MenuItem>>;

// What the menus of this moment were read under.
struct RightsStamp {
  int64_t database = 0;  // SYS_Version 'rights'
  uint64_t process = 0;  // MenuChangesInProcess()
  bool operator==(const RightsStamp&) const = default;
};

// MenuChangesInProcess, then the database's rights version: one statement.
// Raises kDatabase when the database has no 'rights' row (CreateSchema
// makes it).
RightsStamp ReadRightsStamp(Connection& conn);

class MenuCache {
 public:
  struct Limits {
    size_t lists = 4096;                    // top menus and left menus together
    size_t items = 100000;                  // entries of all lists together
    size_t drawn = 1024;                    // drawn windows
    size_t drawn_bytes = size_t{32} << 20;  // their markup together
  };

  // One main window's menus as drawn for one role list, chosen top entry
  // and language: markup that goes into the page as it stands.
  struct Drawn {
    std::string top;      // the top menu's links, the chosen one marked
    std::string left;     // the left panel: heading and entries, or a note
    std::string content;  // the address the content frame opens
  };
  using DrawnWindow = std::shared_ptr<const Drawn>;
  // The markup a drawn window holds.
  static size_t Bytes(const Drawn& drawn) {
    return drawn.top.size() + drawn.left.size() + drawn.content.size();
  }

  MenuCache() : MenuCache(Limits{}) {}
  explicit MenuCache(Limits limits) : limits_(limits) {}
  MenuCache(const MenuCache&) = delete;
  MenuCache& operator=(const MenuCache&) = delete;

  // Role lists longer than this are not kept (they are read every time).
  static constexpr size_t kMaxRolesText = 4096;

  // The list kept for `roles` (the top menu when `parent` is nullopt, else
  // the left menu under `parent`), or nullptr. A stamp other than the one
  // the kept lists were read under drops them all first.
  MenuItems Find(std::string_view roles, std::optional<int32_t> parent,
                 const RightsStamp& stamp);
  // Keeps `items`, read under `stamp` after a Find with it, unless the
  // stamp has moved on since (then they may be out of date already).
  void Keep(std::string_view roles, std::optional<int32_t> parent,
            const RightsStamp& stamp, MenuItems items);

  // The window kept for `roles` with the top entry `chosen` in the language
  // `english` says, or nullptr; as Find, a stamp other than the kept one
  // drops everything first.
  DrawnWindow FindDrawn(std::string_view roles, int32_t chosen, bool english,
                        const RightsStamp& stamp);
  // Keeps `drawn`, made from rows read under `stamp`, unless the stamp has
  // moved on since.
  void KeepDrawn(std::string_view roles, int32_t chosen, bool english,
                 const RightsStamp& stamp, DrawnWindow drawn);

  // What is kept now.
  size_t lists() const;
  size_t drawn() const;
  size_t items() const;
  // Finds that gave a kept list, and those that gave none, since the cache
  // was made.
  uint64_t hits() const { return hits_.load(std::memory_order_relaxed); }
  uint64_t misses() const { return misses_.load(std::memory_order_relaxed); }
  // The same for drawn windows.
  uint64_t drawn_hits() const {
    return drawn_hits_.load(std::memory_order_relaxed);
  }
  uint64_t drawn_misses() const {
    return drawn_misses_.load(std::memory_order_relaxed);
  }

 private:
  struct Key {
    std::string roles;
    bool top = true;
    int32_t parent = 0;
    auto operator<=>(const Key&) const = default;
  };
  struct Entry {
    MenuItems items;
    // When it was last found, in ticks of `clock_`.
    mutable std::atomic<uint64_t> used{0};
    size_t weight() const { return items->size(); }
  };
  struct DrawnKey {
    std::string roles;
    int32_t chosen = 0;
    bool english = false;
    auto operator<=>(const DrawnKey&) const = default;
  };
  struct DrawnEntry {
    DrawnWindow drawn;
    mutable std::atomic<uint64_t> used{0};
    size_t weight() const { return Bytes(*drawn); }
  };

  MenuItems Lookup(std::string_view roles, std::optional<int32_t> parent,
                   const RightsStamp& stamp);
  static std::optional<Key> MakeKey(std::string_view roles,
                                    std::optional<int32_t> parent);
  void DropAllLocked(const RightsStamp& stamp);
  // Whether the kept stamp is `stamp`; drops everything when it is not.
  bool StampHoldsLocked(const RightsStamp& stamp);

  const Limits limits_;
  mutable std::shared_mutex mutex_;
  std::map<Key, Entry> entries_;
  size_t items_ = 0;
  std::map<DrawnKey, DrawnEntry> drawn_;
  size_t drawn_bytes_ = 0;
  std::optional<RightsStamp> stamp_;
  std::atomic<uint64_t> clock_{0};
  std::atomic<uint64_t> hits_{0};
  std::atomic<uint64_t> misses_{0};
  std::atomic<uint64_t> drawn_hits_{0};
  std::atomic<uint64_t> drawn_misses_{0};
};

// The two menus of one main window, each read through `cache` (nullptr:
// straight from the database) by `menu`, which is bound to the page:
// the top menu, and the left menu under the top entry whose id is `wanted`
// (the first entry when the visitor sees no such one; none without top
// entries). With a cache: at most three statements (the rights stamp, the
// top menu, the left menu), one when both lists are kept; without: two.
struct WindowMenus {
  MenuItems top;                     // never null
  MenuItems left;                    // never null
  const MenuItem* chosen = nullptr;  // in *top; nullptr when it is empty
  RightsStamp stamp;                 // what they were read under (a cache's)
};
// `stamp`, when given, was read at the start of the page and is used
// instead of reading it again.
WindowMenus ReadWindowMenus(Menu& menu, Connection& conn, MenuCache* cache,
                            std::string_view roles, std::string_view wanted,
                            const RightsStamp* stamp = nullptr);

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_MENU_CACHE_H_
