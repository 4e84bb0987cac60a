// Session identifiers, and the references that tie an error page to its
// log line.
#ifndef WRENHAVEN_HOST_SESSIONS_H_
#define WRENHAVEN_HOST_SESSIONS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace wrenhaven::host {

// 256 random bits from the system's secure source, as 64 lowercase hex
// digits.
std::string NewSessionId();

// True for a text NewSessionId could have made; anything else is never
// looked up.
bool IsSessionId(std::string_view text);

// Sets up libsodium once; raises kHost when it cannot be.
void InitSodiumOnce();

// 48 random bits as 12 lowercase hex digits: short enough to read out from
// an error page, long enough to find its one line in the log.
std::string NewReference();

// SessionList::total of a listing asked for without a count: the matches
// up to the end of the page, as far as its rows show them.
inline size_t UncountedTotal(size_t offset, size_t rows) {
  return rows == 0 ? 0 : offset + rows;
}

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_SESSIONS_H_
