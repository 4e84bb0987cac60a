// Session identifiers.
#ifndef WRENHAVEN_HOST_SESSIONS_H_
#define WRENHAVEN_HOST_SESSIONS_H_

#include <string>
#include <string_view>

namespace wrenhaven::host {

// 256 random bits from the system's secure source, as 64 lowercase hex
// digits.
std::string NewSessionId();

// True for a text NewSessionId could have made; anything else is never
// looked up.
bool IsSessionId(std::string_view text);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_SESSIONS_H_
