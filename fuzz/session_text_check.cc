// The session text codec: any text either decodes or raises an Error, and
// what decodes goes out and comes back as the same values.
#include <cmath>
#include <string>

#include "fuzz/checks.h"
#include "host/session_text.h"
#include "wrenhaven/error.h"

namespace wrenhaven::fuzz {
namespace {

bool SameNumber(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

// Same kind and value, NaN equal to NaN and -0 apart from 0.
bool Same(const Variant& a, const Variant& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::kDouble:
      return SameNumber(a.double_value(), b.double_value());
    case Kind::kDate:
      return SameNumber(a.date().serial, b.date().serial);
    case Kind::kArray: {
      const VariantArray& x = a.array();
      const VariantArray& y = b.array();
      if (x.bounds().size() != y.bounds().size() ||
          x.cells().size() != y.cells().size()) {
        return false;
      }
      for (size_t i = 0; i < x.bounds().size(); ++i) {
        if (x.bounds()[i].lower != y.bounds()[i].lower ||
            x.bounds()[i].upper != y.bounds()[i].upper) {
          return false;
        }
      }
      for (size_t i = 0; i < x.cells().size(); ++i) {
        if (!Same(x.cells()[i], y.cells()[i])) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace

std::string CheckSessionText(std::string_view input) {
  host::SessionValues values;
  try {
    values = host::SessionValuesFromText(input);
  } catch (const Error&) {
    return "";  // refused as damaged: what a damaged store should get
  } catch (const std::exception& e) {
    return std::string("decoding failed with an exception that is no Error: ") +
           e.what();
  }
  std::string text;
  host::SessionValues back;
  try {
    text = host::SessionValuesToText(values);
    back = host::SessionValuesFromText(text);
  } catch (const std::exception& e) {
    return std::string("decoded values do not go out and back: ") + e.what();
  }
  if (back.size() != values.size()) {
    return "decoded values come back as " + std::to_string(back.size()) +
           " values, not " + std::to_string(values.size());
  }
  for (size_t i = 0; i < back.size(); ++i) {
    if (back[i].first != values[i].first) {
      return "the name of value " + std::to_string(i) + " comes back changed";
    }
    if (!Same(back[i].second, values[i].second)) {
      return "value " + std::to_string(i) + " " + values[i].second.Debug() +
             " comes back as " + back[i].second.Debug();
    }
  }
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return "the session text holds a byte beyond ASCII";
    }
  }
  if (host::SessionValuesToText(back) != text) {
    return "the session text of values read back differs";
  }
  return "";
}

}  // namespace wrenhaven::fuzz
