// The JSON form of a variant, as the `wrenhaven` command reads and prints
// it:
//   Empty {"type":"empty"}; Null null; numbers; strings; true/false;
//   a date {"type":"date","value":"YYYY-MM-DD HH:MM:SS"};
//   an object {"type":"object"};
//   an array {"type":"array","bounds":[[lo,hi],...],"cells":[...]}, the
//   cells nested by the first index, then the second.
#ifndef WRENHAVEN_CLI_JSON_VARIANT_H_
#define WRENHAVEN_CLI_JSON_VARIANT_H_

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "wrenhaven/variant.h"

namespace wrenhaven::cli {

using Json = nlohmann::ordered_json;

Json ToJson(const Variant& v);
// nullopt when `j` is not the JSON form of a variant.
std::optional<Variant> FromJson(const Json& j);
// A command-line value: its JSON form where it parses as one, otherwise
// the text itself as a string.
Variant ParseArgument(std::string_view text);

}  // namespace wrenhaven::cli

#endif  // WRENHAVEN_CLI_JSON_VARIANT_H_
