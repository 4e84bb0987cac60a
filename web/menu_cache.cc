#include "web/menu_cache.h"

#include <algorithm>
#include <mutex>
#include <utility>

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
  stamp_ = stamp;
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
      auto it = entries_.find(*key);
      if (it == entries_.end()) return nullptr;
      it->second.used.store(clock_.fetch_add(1) + 1, std::memory_order_relaxed);
      return it->second.items;
    }
  }
  std::unique_lock lock(mutex_);
  if (stamp_ != stamp) DropAllLocked(stamp);
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
  auto old = entries_.find(*key);
  if (old != entries_.end()) {
    items_ -= old->second.items->size();
    entries_.erase(old);
  }
  // Room first: the lists found longest ago go.
  while (!entries_.empty() && (entries_.size() >= limits_.lists ||
                               items_ + items->size() > limits_.items)) {
    auto oldest = std::min_element(
        entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
          return a.second.used.load(std::memory_order_relaxed) <
                 b.second.used.load(std::memory_order_relaxed);
        });
    items_ -= oldest->second.items->size();
    entries_.erase(oldest);
  }
  items_ += items->size();
  auto [it, added] = entries_.try_emplace(std::move(*key));
  it->second.items = std::move(items);
  it->second.used.store(clock_.fetch_add(1) + 1, std::memory_order_relaxed);
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
  RightsStamp stamp;
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

  WindowMenus window;
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
