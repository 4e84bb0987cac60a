// The function catalogue as the menu pages name functions with it (number,
// name, page address, in the catalogue's order), kept between requests
// under the rights stamp it was read under. Every change of a function
// moves the stamp on, so the kept catalogue is the one of that moment; a
// request under another stamp reads it again.
#ifndef WRENHAVEN_WEB_ADMIN_FUNCTION_SHELF_H_
#define WRENHAVEN_WEB_ADMIN_FUNCTION_SHELF_H_

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "web/menu_cache.h"

namespace wrenhaven::web {

struct FunctionInfo {
  std::string name;
  std::string url;
};

struct FunctionCatalogue {
  std::vector<std::pair<std::string, FunctionInfo>> listed;  // by FunID text
  std::unordered_map<std::string, size_t> by_id;  // index into `listed`

  // The function `id` ("7"), or nullptr.
  const FunctionInfo* Find(const std::string& id) const {
    const auto at = by_id.find(id);
    return at == by_id.end() ? nullptr : &listed[at->second].second;
  }
};

class FunctionShelf {
 public:
  using Kept = std::shared_ptr<const FunctionCatalogue>;

  // The catalogue kept under `stamp`, or nullptr.
  Kept Find(const RightsStamp& stamp) const {
    std::lock_guard lock(mutex_);
    return kept_ && stamp_ == stamp ? kept_ : nullptr;
  }
  // Keeps `catalogue`, read after `stamp` was.
  void Keep(const RightsStamp& stamp, Kept catalogue) {
    std::lock_guard lock(mutex_);
    stamp_ = stamp;
    kept_ = std::move(catalogue);
  }

 private:
  mutable std::mutex mutex_;
  RightsStamp stamp_;
  Kept kept_;
};

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_ADMIN_FUNCTION_SHELF_H_
