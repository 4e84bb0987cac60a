#include "frame/statement.h"

#include <algorithm>
#include <cctype>

#include "frame/text.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

bool IsNumberText(std::string_view s) {
  size_t i = 0;
  auto digits = [&] {
    size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    return i - start;
  };
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t whole = digits();
  size_t fraction = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    fraction = digits();
  }
  if (whole + fraction == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

Statement& Statement::Text(std::string_view literal) {
  text_.append(literal);
  return *this;
}

Statement& Statement::Quoted(const Variant& value) {
  const std::string text = value.ToText();
  // The databases read a statement up to its first NUL: one inside a value
  // would cut the statement short in the middle of its literal.
  if (text.find('\0') != std::string::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "A text value must not contain a NUL character");
  }
  text_.append(DoubleQuotes(text));
  return *this;
}

Statement& Statement::Bare(const Variant& value, std::string_view name) {
  switch (value.kind()) {
    case Kind::kEmpty:
    case Kind::kNull:
      slots_.push_back(text_.size());
      return *this;
    case Kind::kInteger:
    case Kind::kLong:
    case Kind::kDouble:
      text_.append(value.ToText());
      return *this;
    case Kind::kString:
      if (value.string().empty()) {
        slots_.push_back(text_.size());
        return *this;
      }
      if (IsNumberText(value.string())) {
        text_.append(value.string());
        return *this;
      }
      break;
    default:
      break;
  }
  std::string shown = value.kind() == Kind::kString
                          ? "\"" + value.string() + "\""
                          : value.Debug();
  Raise(ErrorCode::kTypeMismatch,
        std::string(name) + " must be a number or empty, not " + shown);
}

std::string Statement::Finish(std::span<const NullMarker> pairs) const {
  std::string text = text_;
  std::vector<size_t> slots = slots_;
  for (const NullMarker& pair : pairs) {
    const size_t len = pair.marker.size();
    bool again = true;
    while (again && !slots.empty()) {
      again = false;
      size_t search = 0;
      while (true) {
        const size_t hit = text.find(pair.marker, search);
        if (hit == std::string::npos) break;
        // The slot strictly inside the occurrence: the marker's characters
        // come from the literal pieces on both sides of an empty value.
        auto inside = std::find_if(slots.begin(), slots.end(), [&](size_t s) {
          return s > hit && s < hit + len;
        });
        if (inside == slots.end()) {
          search = hit + 1;
          continue;
        }
        text.replace(hit, len, pair.replacement);
        slots.erase(inside);
        for (size_t& s : slots) {
          if (s > hit) s = s + pair.replacement.size() - len;
        }
        search = hit + pair.replacement.size();
        again = true;
      }
    }
  }
  return text;
}

}  // namespace wrenhaven
