// Session values as text, for stores that keep sessions outside the
// process. Every kind comes back as it went in: Integer stays Integer,
// Empty stays Empty, a date keeps its exact serial, an array its bounds.
// The text is plain ASCII JSON, so any database encoding holds it.
#ifndef WRENHAVEN_HOST_SESSION_TEXT_H_
#define WRENHAVEN_HOST_SESSION_TEXT_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven::host {

using SessionValues = std::vector<std::pair<std::string, Variant>>;

// Raises kHost for a value that cannot leave the process (an object other
// than Nothing).
std::string SessionValuesToText(const SessionValues& values);

// Raises kHost when `text` is not what SessionValuesToText makes.
SessionValues SessionValuesFromText(std::string_view text);

// `text` as a session keeps a holder's text: without NUL characters, at
// most `most` bytes, never cut inside a UTF-8 sequence.
std::string KeptText(std::string_view text, size_t most);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_SESSION_TEXT_H_
