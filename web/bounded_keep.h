// Keeping and finding entries of a bounded map whose entries carry a
// `used` tick (an atomic) and say their own weight(): the caches of the
// web pages share this.
#ifndef WRENHAVEN_WEB_BOUNDED_KEEP_H_
#define WRENHAVEN_WEB_BOUNDED_KEEP_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace wrenhaven::web {

// Finds `key` in `map` (under a shared lock) and marks it used; nullptr
// when it is not kept.
template <typename Map, typename Key>
const typename Map::mapped_type* FindUsed(Map& map, const Key& key,
                                          std::atomic<uint64_t>& clock) {
  auto it = map.find(key);
  if (it == map.end()) return nullptr;
  it->second.used.store(clock.fetch_add(1) + 1, std::memory_order_relaxed);
  return &it->second;
}

// Puts `key` into `map` as `fill` makes it, weighing `weight` against
// `held` (all kept weights together), after making room: the entries found
// longest ago go until at most `most` entries of at most `room` together
// remain with the new one.
template <typename Map, typename Key, typename Fill>
void KeepRoomy(Map& map, size_t& held, Key key, size_t weight, size_t most,
               size_t room, std::atomic<uint64_t>& clock, Fill&& fill) {
  auto old = map.find(key);
  if (old != map.end()) {
    held -= old->second.weight();
    map.erase(old);
  }
  while (!map.empty() && (map.size() >= most || held + weight > room)) {
    auto oldest = std::min_element(
        map.begin(), map.end(), [](const auto& a, const auto& b) {
          return a.second.used.load(std::memory_order_relaxed) <
                 b.second.used.load(std::memory_order_relaxed);
        });
    held -= oldest->second.weight();
    map.erase(oldest);
  }
  held += weight;
  auto [it, added] = map.try_emplace(std::move(key));
  fill(it->second);
  it->second.used.store(clock.fetch_add(1) + 1, std::memory_order_relaxed);
}

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_BOUNDED_KEEP_H_
