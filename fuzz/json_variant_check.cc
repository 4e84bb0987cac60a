// The JSON values of `wrenhaven call`: a command-line value becomes a
// variant whatever it holds, a JSON number keeps its value, text that is
// no JSON value stays that text, and the variant printed as JSON reads back
// as itself.
#include <cmath>
#include <string>

#include "cli/json_variant.h"
#include "fuzz/checks.h"

namespace wrenhaven::fuzz {

std::string CheckJsonVariant(std::string_view input) {
  using cli::Json;
  Variant value;
  try {
    value = cli::ParseArgument(input);
  } catch (const std::exception& e) {
    return std::string("ParseArgument failed: ") + e.what();
  }
  const Json parsed = Json::parse(input, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() &&
      !(value == Variant::String(std::string(input)))) {
    return "text that is no JSON value reads as " + value.Debug();
  }
  if (!parsed.is_discarded() && parsed.is_number()) {
    const double expected = parsed.get<double>();
    if (!value.is_numeric()) {
      return "a JSON number reads as " + value.Debug();
    }
    if (std::isfinite(expected) && value.ToDouble() != expected) {
      return "the JSON number " + parsed.dump() + " reads as " + value.Debug();
    }
  }
  std::string printed;
  try {
    printed = cli::ToJson(value).dump();
  } catch (const Json::type_error&) {
    return "";  // text that is no UTF-8: printed with replacements
  } catch (const std::exception& e) {
    return std::string("printing failed: ") + e.what();
  }
  const Json again = Json::parse(printed, nullptr, false);
  if (again.is_discarded()) return "the printed value is no JSON: " + printed;
  const std::optional<Variant> back = cli::FromJson(again);
  if (!back) return "the printed value is no variant: " + printed;
  if (!(*back == value)) {
    const bool infinite =
        value.kind() == Kind::kDouble && !std::isfinite(value.double_value());
    if (!infinite) {
      return value.Debug() + " printed as " + printed + " reads back as " +
             back->Debug();
    }
  }
  return "";
}

}  // namespace wrenhaven::fuzz
