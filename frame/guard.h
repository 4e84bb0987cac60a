// What every public method of a class does around its body: clear the
// thread's current error, and make sure any failure leaves as a recorded
// wrenhaven::Error with a readable description.
#ifndef WRENHAVEN_FRAME_GUARD_H_
#define WRENHAVEN_FRAME_GUARD_H_

#include <exception>
#include <new>
#include <string>

#include "wrenhaven/error.h"

namespace wrenhaven {

template <class Body>
auto Guarded(Body&& body) -> decltype(body()) {
  ClearError();
  try {
    return body();
  } catch (const Error& e) {
    RecordError(e.what());
    throw;
  } catch (const std::bad_alloc&) {
    Raise(ErrorCode::kHost, "Out of memory");
  } catch (const std::exception& e) {
    Raise(ErrorCode::kHost, e.what());
  }
}

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_GUARD_H_
