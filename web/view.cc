#include "web/view.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace wrenhaven::web {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() &&
         std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() &&
         std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// The quality of one Accept-Language entry ("en-GB;q=0.8" gives 0.8).
double Quality(std::string_view params) {
  const size_t q = params.find("q=");
  if (q == std::string_view::npos) return 1.0;
  const std::string value(Trim(params.substr(q + 2)));
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || v < 0 || v > 1) return 0.0;
  return v;
}

// The symbols of static/icons.svg that menus may use.
constexpr std::array<std::string_view, 21> kIcons = {
    "office",    "mail",    "calendar",  "documents", "notices",    "finance",
    "expenses",  "budgets", "projects",  "list",      "timesheets", "sales",
    "customers", "orders",  "admin",     "menus",     "functions",  "roles",
    "rights",    "logins",  "attendance"};

std::string Either(const std::string& preferred, const std::string& other) {
  return Trim(preferred).empty() ? other : preferred;
}

}  // namespace

bool PrefersEnglish(std::string_view accept_language) {
  double english = 0.0;
  double chinese = 0.0;
  // Of two languages with the same quality the one listed first wins.
  int english_at = -1;
  int chinese_at = -1;
  for (int position = 0; !accept_language.empty(); ++position) {
    const size_t comma = accept_language.find(',');
    const std::string_view entry = Trim(accept_language.substr(0, comma));
    accept_language = comma == std::string_view::npos
                          ? std::string_view()
                          : accept_language.substr(comma + 1);
    const size_t semi = entry.find(';');
    const std::string tag = Lower(Trim(entry.substr(0, semi)));
    const double q =
        semi == std::string_view::npos ? 1.0 : Quality(entry.substr(semi + 1));
    const std::string primary = tag.substr(0, tag.find('-'));
    if (primary == "en" && q > english) {
      english = q;
      english_at = position;
    } else if (primary == "zh" && q > chinese) {
      chinese = q;
      chinese_at = position;
    }
  }
  if (english <= 0.0) return false;
  return english > chinese || (english == chinese && english_at < chinese_at);
}

std::string IconName(const Variant& icon) {
  std::string name = Lower(icon.ToText());
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  for (std::string_view known : kIcons) {
    if (name == known) return name;
  }
  return "dot";
}

std::string SafeHref(const Variant& address) {
  const std::string whole = address.ToText();
  const std::string url(Trim(whole));
  if (url.empty()) return "";
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') return "";
  }
  const std::string lower = Lower(url);
  if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) {
    return url;
  }
  if (url.rfind("//", 0) == 0) return "";
  // A scheme is letters before a colon that comes before any "/", "?" or
  // "#"; a path on this server has none.
  const size_t colon = url.find(':');
  if (colon != std::string::npos && colon < url.find_first_of("/?#")) {
    return "";
  }
  return url;
}

std::vector<MenuEntry> MenuEntries(const std::vector<MenuItem>& items,
                                   bool english) {
  std::vector<MenuEntry> entries;
  entries.reserve(items.size());
  for (const MenuItem& item : items) {
    MenuEntry e;
    e.id = std::to_string(item.id);
    e.caption = english ? Either(item.english, item.name)
                        : Either(item.name, item.english);
    e.tip = english ? Either(item.english_tip, item.tip)
                    : Either(item.tip, item.english_tip);
    e.icon = IconName(Variant::String(item.icon));
    e.href = SafeHref(Variant::String(item.url));
    e.level = item.level;
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace wrenhaven::web
