#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {
thread_local std::string current_error;
}  // namespace

void Raise(ErrorCode code, std::string description) {
  current_error = description;
  throw Error(code, std::move(description));
}

const std::string& CurrentError() { return current_error; }
void ClearError() { current_error.clear(); }
void RecordError(std::string_view description) {
  current_error.assign(description);
}

}  // namespace wrenhaven
