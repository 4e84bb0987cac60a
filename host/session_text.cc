#include "host/session_text.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "frame/text.h"
#include "host/wire.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

using Json = nlohmann::json;

// The most cells one stored array may claim; more is a damaged text.
constexpr int64_t kMaxCells = 10'000'000;
constexpr size_t kMaxDimensions = 60;

[[noreturn]] void Damaged(std::string_view what) {
  Raise(ErrorCode::kHost,
        "The stored session values are damaged: " + std::string(what));
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    out += kDigits[u >> 4];
    out += kDigits[u & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  if (hex.size() % 2 != 0) Damaged("odd number of hex digits");
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    Damaged("a byte text holds a character that is no hex digit");
  };
  std::string out(hex.size() / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(digit(hex[2 * i]) * 16 + digit(hex[2 * i + 1]));
  }
  return out;
}

// A text that is not UTF-8 (a form value in another encoding) travels as
// its bytes.
Json TextToJson(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  return Json{{"bytes", Hex(text)}};
}

Json DoubleToJson(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  return d;
}

double DoubleFromJson(const Json& j) {
  if (j.is_number()) return j.get<double>();
  if (j == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (j == "inf") return std::numeric_limits<double>::infinity();
  if (j == "-inf") return -std::numeric_limits<double>::infinity();
  Damaged("a number is neither a number nor inf or nan");
}

Json ToJson(const Variant& v) {
  switch (v.kind()) {
    case Kind::kEmpty:
      return Json{{"empty", 0}};
    case Kind::kNull:
      return nullptr;
    case Kind::kInteger:
      return Json{{"int", v.integer()}};
    case Kind::kLong:
      return Json{{"long", v.long_value()}};
    case Kind::kDouble:
      return Json{{"double", DoubleToJson(v.double_value())}};
    case Kind::kString:
      return TextToJson(v.string());
    case Kind::kBoolean:
      return v.boolean();
    case Kind::kDate:
      return Json{{"date", DoubleToJson(v.date().serial)}};
    case Kind::kObject:
      if (v.object() != nullptr) {
        Raise(ErrorCode::kHost,
              "A session kept in the database cannot hold an object; store "
              "its values instead");
      }
      return Json{{"nothing", 0}};
    case Kind::kArray: {
      const VariantArray& a = v.array();
      Json bounds = Json::array();
      for (const auto& b : a.bounds()) {
        bounds.push_back(Json::array({b.lower, b.upper}));
      }
      Json cells = Json::array();
      for (const Variant& cell : a.cells()) cells.push_back(ToJson(cell));
      return Json{{"array", Json{{"bounds", bounds}, {"cells", cells}}}};
    }
  }
  Raise(ErrorCode::kHost, "A session value of an unknown kind");
}

template <class T>
T WholeNumber(const Json& j, std::string_view what) {
  if (!j.is_number_integer())
    Damaged(std::string(what) + " is no whole number");
  const auto n = j.get<int64_t>();
  if (n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max()) {
    Damaged(std::string(what) + " is out of range");
  }
  return static_cast<T>(n);
}

Variant FromJson(const Json& j);

Variant ArrayFromJson(const Json& j) {
  if (!j.is_object() || !j.contains("bounds") || !j.contains("cells") ||
      !j["bounds"].is_array() || !j["cells"].is_array()) {
    Damaged("an array without bounds and cells");
  }
  const Json& jb = j["bounds"];
  const Json& jc = j["cells"];
  if (jb.size() > kMaxDimensions) Damaged("an array of too many dimensions");
  std::vector<VariantArray::Bounds> bounds;
  int64_t count = jb.empty() ? 0 : 1;
  for (const Json& b : jb) {
    if (!b.is_array() || b.size() != 2) Damaged("an array bound is no pair");
    const auto lo = WholeNumber<int32_t>(b[0], "a lower bound");
    const auto hi = WholeNumber<int32_t>(b[1], "an upper bound");
    const int64_t size = int64_t{hi} - lo + 1;
    if (size < 0) Damaged("an upper bound below its lower bound");
    count *= size;
    if (count > kMaxCells) Damaged("an array of too many cells");
    bounds.push_back({lo, hi});
  }
  if (static_cast<int64_t>(jc.size()) != count) {
    Damaged("an array whose cells do not match its bounds");
  }
  VariantArray a(std::move(bounds));
  for (size_t i = 0; i < jc.size(); ++i) a.flat(i) = FromJson(jc[i]);
  return Variant::Array(std::move(a));
}

std::string TextFromJson(const Json& j) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_object() && j.size() == 1 && j.contains("bytes") &&
      j["bytes"].is_string()) {
    return Unhex(j["bytes"].get<std::string>());
  }
  Damaged("a name is no text");
}

Variant FromJson(const Json& j) {
  if (j.is_null()) return Variant::Null();
  if (j.is_boolean()) return Variant::Boolean(j.get<bool>());
  if (j.is_string()) return Variant::String(j.get<std::string>());
  if (!j.is_object() || j.size() != 1) Damaged("a value of no known form");
  // The one member's name and value, held beyond this line (a structured
  // binding to items() would dangle once its proxy is gone).
  const auto member = j.begin();
  const std::string tag = member.key();
  const Json& inner = member.value();
  if (tag == "empty") return Variant();
  if (tag == "nothing") return Variant::Nothing();
  if (tag == "int")
    return Variant::Integer(WholeNumber<int16_t>(inner, "an Integer"));
  if (tag == "long")
    return Variant::Long(WholeNumber<int32_t>(inner, "a Long"));
  if (tag == "double") return Variant::Double(DoubleFromJson(inner));
  if (tag == "date") return Variant::FromDate(Date{DoubleFromJson(inner)});
  if (tag == "bytes") return Variant::String(TextFromJson(j));
  if (tag == "array") return ArrayFromJson(inner);
  Damaged("a value of the unknown form \"" + tag + "\"");
}

}  // namespace

std::string SessionValuesToText(const SessionValues& values) {
  Json out = Json::array();
  for (const auto& [name, value] : values) {
    out.push_back(Json::array({TextToJson(name), ToJson(value)}));
  }
  // ASCII only: everything else is written as \u escapes.
  return out.dump(-1, ' ', /*ensure_ascii=*/true);
}

SessionValues SessionValuesFromText(std::string_view text) {
  const Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) Damaged("it is no JSON text");
  if (!j.is_array()) Damaged("it is no list of values");
  SessionValues out;
  out.reserve(j.size());
  for (const Json& pair : j) {
    if (!pair.is_array() || pair.size() != 2) Damaged("an entry is no pair");
    out.emplace_back(TextFromJson(pair[0]), FromJson(pair[1]));
  }
  return out;
}

std::string KeptText(std::string_view text, size_t most) {
  std::string out;
  for (const char c : text) {
    if (c != '\0') out += c;
  }
  if (out.size() > most) {
    size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    out.resize(cut);
  }
  return out;
}

}  // namespace wrenhaven::host
