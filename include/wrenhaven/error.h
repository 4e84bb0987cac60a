// Errors raised by the library.
//
// Every failure reaches the caller as an Error carrying a readable
// description. Raising records the description as the calling thread's
// current error, which each class's GetError returns. A call into a class
// method clears the current error when it starts (GetError excepted), so
// GetError describes the outcome of the most recent call on this thread.
//
// What callers may rely on: the code says what kind of failure it was, and
// the numbers never change. The first six are the numbers the page
// languages give the same run-time errors, so a page that tests an error's
// number sees the familiar one; the others are the library's own. The
// description is for people: its wording may change, so compare codes, not
// texts.
#ifndef WRENHAVEN_ERROR_H_
#define WRENHAVEN_ERROR_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace wrenhaven {

enum class ErrorCode {
  // A value does not fit its type (a date past 9999, a number past 32 bits).
  kOverflow = 6,
  // An array index or bound outside the array.
  kSubscriptOutOfRange = 9,
  // A value of the wrong kind (text where a number must stand).
  kTypeMismatch = 13,
  // Null where a value is needed.
  kInvalidUseOfNull = 94,
  // An object (a connection, a page object) that is not there.
  kObjectRequired = 424,
  // An argument outside what the call accepts (an identifier that names
  // nothing, an unknown method, a page past the last).
  kInvalidArgument = 5,
  // The database refused a statement or failed; the description is the
  // database's.
  kDatabase = 3000,
  // The page host, or the platform under it, failed (a missing page object,
  // no memory, no random source).
  kHost = 3100,
  // The database (or another part the call needs) cannot serve just now:
  // it is busy or unreachable. Trying again later may succeed; a page host
  // answers 503.
  kUnavailable = 3200,
};

class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, std::string description)
      : std::runtime_error(description), code_(code) {}
  ErrorCode code() const { return code_; }
  std::string description() const { return what(); }

 private:
  ErrorCode code_;
};

// Records `description` as the current error and throws Error.
[[noreturn]] void Raise(ErrorCode code, std::string description);

// The description of the current error on this thread, "" when none.
const std::string& CurrentError();
void ClearError();
// Records without throwing; used where an error from elsewhere (a standard
// library exception) is turned into ours.
void RecordError(std::string_view description);

}  // namespace wrenhaven

#endif  // WRENHAVEN_ERROR_H_
