#include "cli/json_variant.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace wrenhaven::cli {
namespace {

// The largest array a command-line value may describe: more is a typing
// slip, and would be allocated before its cells are read.
constexpr int64_t kMaxCells = 1'000'000;
constexpr size_t kMaxDimensions = 60;

// A bound as a 32-bit whole number; nullopt beyond that range.
std::optional<int32_t> Bound(const Json& j) {
  if (j.is_number_unsigned()) {
    const auto n = j.get<uint64_t>();
    if (n > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      return std::nullopt;
    }
    return static_cast<int32_t>(n);
  }
  const auto n = j.get<int64_t>();
  if (n < std::numeric_limits<int32_t>::min() ||
      n > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(n);
}

// Cells of dimension `dim` onwards, starting at storage offset `*pos`.
Json NestCells(const VariantArray& a, size_t dim, size_t* pos) {
  Json out = Json::array();
  const auto& b = a.bounds()[dim];
  for (int32_t i = b.lower; i <= b.upper; ++i) {
    if (dim + 1 == a.bounds().size()) {
      out.push_back(ToJson(a.cells()[(*pos)++]));
    } else {
      out.push_back(NestCells(a, dim + 1, pos));
    }
  }
  return out;
}

bool FillCells(const Json& j, VariantArray* a, size_t dim, size_t* pos) {
  const auto& b = a->bounds()[dim];
  if (!j.is_array() || j.size() != static_cast<size_t>(b.size())) return false;
  for (const Json& item : j) {
    if (dim + 1 == a->bounds().size()) {
      auto v = FromJson(item);
      if (!v) return false;
      a->flat((*pos)++) = std::move(*v);
    } else if (!FillCells(item, a, dim + 1, pos)) {
      return false;
    }
  }
  return true;
}

}  // namespace

Json ToJson(const Variant& v) {
  switch (v.kind()) {
    case Kind::kEmpty:
      return Json{{"type", "empty"}};
    case Kind::kNull:
      return nullptr;
    case Kind::kInteger:
      return v.integer();
    case Kind::kLong:
      return v.long_value();
    case Kind::kDouble: {
      const double d = v.double_value();
      if (!std::isfinite(d)) return nullptr;
      return d;
    }
    case Kind::kString:
      return v.string();
    case Kind::kBoolean:
      return v.boolean();
    case Kind::kDate:
      return Json{{"type", "date"}, {"value", v.date().ToIso()}};
    case Kind::kObject:
      return Json{{"type", "object"}};
    case Kind::kArray: {
      const VariantArray& a = v.array();
      Json bounds = Json::array();
      for (const auto& b : a.bounds())
        bounds.push_back(Json::array({b.lower, b.upper}));
      size_t pos = 0;
      Json cells = a.undimensioned() ? Json::array() : NestCells(a, 0, &pos);
      return Json{{"type", "array"}, {"bounds", bounds}, {"cells", cells}};
    }
  }
  return nullptr;
}

std::optional<Variant> FromJson(const Json& j) {
  if (j.is_null()) return Variant::Null();
  if (j.is_boolean()) return Variant::Boolean(j.get<bool>());
  // A whole number beyond 64 bits with a sign is read unsigned; as a
  // signed one it would wrap round to a negative.
  if (j.is_number_unsigned()) {
    const auto n = j.get<uint64_t>();
    if (n <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      return Variant::Long(static_cast<int32_t>(n));
    }
    return Variant::Double(static_cast<double>(n));
  }
  if (j.is_number_integer()) {
    const auto n = j.get<int64_t>();
    if (n >= std::numeric_limits<int32_t>::min() &&
        n <= std::numeric_limits<int32_t>::max()) {
      return Variant::Long(static_cast<int32_t>(n));
    }
    return Variant::Double(static_cast<double>(n));
  }
  if (j.is_number()) return Variant::Double(j.get<double>());
  if (j.is_string()) return Variant::String(j.get<std::string>());
  if (!j.is_object() || !j.contains("type") || !j["type"].is_string()) {
    return std::nullopt;
  }
  const std::string type = j["type"].get<std::string>();
  if (type == "empty") return Variant();
  if (type == "object") return Variant::Nothing();
  if (type == "date") {
    Date d;
    if (!j.contains("value") || !j["value"].is_string() ||
        !Date::ParseIso(j["value"].get<std::string>(), &d)) {
      return std::nullopt;
    }
    return Variant::FromDate(d);
  }
  if (type == "array") {
    if (!j.contains("bounds") || !j["bounds"].is_array()) return std::nullopt;
    std::vector<VariantArray::Bounds> bounds;
    if (j["bounds"].size() > kMaxDimensions) return std::nullopt;
    int64_t cells = 1;
    for (const Json& b : j["bounds"]) {
      if (!b.is_array() || b.size() != 2 || !b[0].is_number_integer() ||
          !b[1].is_number_integer()) {
        return std::nullopt;
      }
      const std::optional<int32_t> lo = Bound(b[0]);
      const std::optional<int32_t> hi = Bound(b[1]);
      if (!lo || !hi) return std::nullopt;
      // In 64 bits: the extreme bounds would overflow 32.
      const int64_t size = int64_t{*hi} - *lo + 1;
      if (size < 0) return std::nullopt;
      cells *= size;
      if (cells > kMaxCells) return std::nullopt;
      bounds.push_back({*lo, *hi});
    }
    VariantArray a(std::move(bounds));
    if (!a.undimensioned()) {
      size_t pos = 0;
      if (!j.contains("cells") || !FillCells(j["cells"], &a, 0, &pos)) {
        return std::nullopt;
      }
    }
    return Variant::Array(std::move(a));
  }
  return std::nullopt;
}

Variant ParseArgument(std::string_view text) {
  Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!j.is_discarded()) {
    if (auto v = FromJson(j)) return *v;
  }
  return Variant::String(std::string(text));
}

}  // namespace wrenhaven::cli
