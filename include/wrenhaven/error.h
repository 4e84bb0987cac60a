// Errors raised by the library.
//
// Every failure reaches the caller as an Error carrying a readable
// description. Raising records the description as the calling thread's
// current error, which each class's GetError returns. A call into a class
// method clears the current error when it starts (GetError excepted), so
// GetError describes the outcome of the most recent call on this thread.
#ifndef WRENHAVEN_ERROR_H_
#define WRENHAVEN_ERROR_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace wrenhaven {

enum class ErrorCode {
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kInvalidUseOfNull = 94,
  kObjectRequired = 424,
  kInvalidArgument = 5,
  kDatabase = 3000,
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
