#include "db/postgres/postgres_value.h"

#include <charconv>
#include <cstdint>
#include <string>

namespace wrenhaven {
namespace {

Variant WholeNumber(std::string_view text) {
  int64_t v = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) {
    // An oid above the 64-bit range cannot occur; anything unreadable
    // stays as the server wrote it.
    return Variant::String(std::string(text));
  }
  if (v >= INT32_MIN && v <= INT32_MAX) {
    return Variant::Long(static_cast<int32_t>(v));
  }
  return Variant::Double(static_cast<double>(v));
}

Variant RealNumber(std::string_view text) {
  double v = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) {
    return Variant::String(std::string(text));
  }
  return Variant::Double(v);
}

// The date and time part of a timestamp: the fraction of a second is
// dropped (stored times carry none) and so is a zone offset.
std::string_view WallClock(std::string_view text) {
  if (text.size() <= 19) return text;
  size_t pos = 19;
  if (text[pos] == '.') {
    ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
  }
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    return text.substr(0, 19);
  }
  return pos == text.size() ? text.substr(0, 19) : text;
}

Variant DateTime(std::string_view text) {
  Date d;
  if (Date::ParseIso(WallClock(text), &d)) return Variant::FromDate(d);
  return Variant::String(std::string(text));
}

// "HH:MM:SS[.ffffff]" as a time on the zero date.
Variant TimeOfDay(std::string_view text) {
  Date d;
  const std::string stamp = "1899-12-30 " + std::string(text);
  if (Date::ParseIso(WallClock(stamp), &d)) {
    return Variant::FromDate(d);
  }
  return Variant::String(std::string(text));
}

}  // namespace

Variant PostgresValue(unsigned type, std::string_view text) {
  switch (type) {
    case pgtype::kInt2:
    case pgtype::kInt4:
    case pgtype::kInt8:
    case pgtype::kOid:
      return WholeNumber(text);
    case pgtype::kFloat4:
    case pgtype::kFloat8:
    case pgtype::kNumeric:
      return RealNumber(text);
    case pgtype::kBool:
      if (text == "t") return Variant::Boolean(true);
      if (text == "f") return Variant::Boolean(false);
      return Variant::String(std::string(text));
    case pgtype::kTimestamp:
    case pgtype::kTimestampTz:
    case pgtype::kDate:
      return DateTime(text);
    case pgtype::kTime:
      return TimeOfDay(text);
    default:
      return Variant::String(std::string(text));
  }
}

}  // namespace wrenhaven
