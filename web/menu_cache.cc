#include "web/menu_cache.h"

#include <mutex>
#include <utility>

#include "web/bounded_keep.h"
#include "wrenhaven/error.h"
#include "wrenhaven/schema.h"

namespace wrenhaven::web {

RightsStamp ReadRightsStamp(Connection& conn) {
  RightsStamp stamp;
  // The process's count first: a change made after it was read moves it
  // again, so rows read after that change are never kept under it.
  stamp.process = MenuChangesInProcess();
  stamp.database = RightsVersion(conn);
  return stamp;
}

std::optional<MenuCache::Key> MenuCache::MakeKey(
    std::string_view roles, std::optional<int32_t> parent) {
  if (roles.size() > kMaxRolesText) return std::nullopt;
  Key key;
  key.roles = std::string(roles);
  key.top = !parent.has_value();
  key.parent = parent.value_or(0);
  return key;
}

void MenuCache::DropAllLocked(const RightsStamp& stamp) {
  entries_.clear();
  items_ = 0;
  drawn_.clear();
  drawn_bytes_ = 0;
  stamp_ = stamp;
}

bool MenuCache::StampHoldsLocked(const RightsStamp& stamp) {
  if (stamp_ == stamp) return true;
  DropAllLocked(stamp);
  return false;
}

MenuItems MenuCache::Find(std::string_view roles, std::optional<int32_t> parent,
                          const RightsStamp& stamp) {
  MenuItems found = Lookup(roles, parent, stamp);
  (found ? hits_ : misses_).fetch_add(1, std::memory_order_relaxed);
  return found;
}

MenuItems MenuCache::Lookup(std::string_view roles,
                            std::optional<int32_t> parent,
                            const RightsStamp& stamp) {
  const std::optional<Key> key = MakeKey(roles, parent);
  {
    std::shared_lock lock(mutex_);
    if (stamp_ == stamp) {
      if (!key) return nullptr;
      const Entry* found = FindUsed(entries_, *key, clock_);
      return found != nullptr ? found->items : nullptr;
    }
  }
  std::unique_lock lock(mutex_);
  StampHoldsLocked(stamp);
  return nullptr;
}

void MenuCache::Keep(std::string_view roles, std::optional<int32_t> parent,
                     const RightsStamp& stamp, MenuItems items) {
  std::optional<Key> key = MakeKey(roles, parent);
  if (!key || !items || items->size() > limits_.items || limits_.lists == 0) {
    return;
  }
  std::unique_lock lock(mutex_);
  if (stamp_ != stamp) return;
  const size_t weight = items->size();
  KeepRoomy(entries_, items_, std::move(*key), weight, limits_.lists,
            limits_.items, clock_,
            [&items](Entry& entry) { entry.items = std::move(items); });
}

MenuCache::DrawnWindow MenuCache::FindDrawn(std::string_view roles,
                                            int32_t chosen, bool english,
                                            const RightsStamp& stamp) {
  DrawnWindow found;
  if (roles.size() <= kMaxRolesText) {
    const DrawnKey key{std::string(roles), chosen, english};
    std::shared_lock lock(mutex_);
    if (stamp_ == stamp) {
      const DrawnEntry* entry = FindUsed(drawn_, key, clock_);
      if (entry != nullptr) found = entry->drawn;
    } else {
      lock.unlock();
      std::unique_lock write(mutex_);
      StampHoldsLocked(stamp);
    }
  }
  (found ? drawn_hits_ : drawn_misses_).fetch_add(1, std::memory_order_relaxed);
  return found;
}

void MenuCache::KeepDrawn(std::string_view roles, int32_t chosen, bool english,
                          const RightsStamp& stamp, DrawnWindow drawn) {
  if (!drawn || roles.size() > kMaxRolesText || limits_.drawn == 0) return;
  const size_t weight = Bytes(*drawn);
  if (weight > limits_.drawn_bytes) return;
  std::unique_lock lock(mutex_);
  if (stamp_ != stamp) return;
  KeepRoomy(drawn_, drawn_bytes_, DrawnKey{std::string(roles), chosen, english},
            weight, limits_.drawn, limits_.drawn_bytes, clock_,
            [&drawn](DrawnEntry& entry) { entry.drawn = std::move(drawn); });
}

size_t MenuCache::drawn() const {
  std::shared_lock lock(mutex_);
  return drawn_.size();
}

size_t MenuCache::lists() const {
  std::shared_lock lock(mutex_);
  return entries_.size();
}

size_t MenuCache::items() const {
  std::shared_lock lock(mutex_);
  return items_;
}

WindowMenus ReadWindowMenus(Menu& menu, Connection& conn, MenuCache* cache,
                            std::string_view roles, std::string_view wanted,
                            const RightsStamp* known) {
  WindowMenus window;
  RightsStamp& stamp = window.stamp;
  if (cache != nullptr)
    stamp = known != nullptr ? *known : ReadRightsStamp(conn);
  auto read = [&](std::optional<int32_t> parent) -> MenuItems {
    if (cache != nullptr) {
      if (MenuItems kept = cache->Find(roles, parent, stamp)) return kept;
    }
    auto items = std::make_shared<const std::vector<MenuItem>>(
        parent ? menu.LeftMenuItems(*parent) : menu.TopMenuItems());
    if (cache != nullptr) cache->Keep(roles, parent, stamp, items);
    return items;
  };

  window.top = read(std::nullopt);
  for (const MenuItem& item : *window.top) {
    if (std::to_string(item.id) == wanted) {
      window.chosen = &item;
      break;
    }
  }
  if (window.chosen == nullptr && !window.top->empty()) {
    window.chosen = &window.top->front();
  }
  window.left = window.chosen != nullptr
                    ? read(window.chosen->id)
                    : std::make_shared<const std::vector<MenuItem>>();
  return window;
}

}  // namespace wrenhaven::web
