// The libFuzzer entry point of one harness; WRENHAVEN_FUZZ_CHECK names its
// check (fuzz/checks.h). A broken invariant aborts with its description,
// so the fuzzer keeps the input that broke it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = wrenhaven::fuzz::WRENHAVEN_FUZZ_CHECK(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!failure.empty()) {
    std::fwrite(failure.data(), 1, failure.size(), stderr);
    std::fputc('\n', stderr);
    std::abort();
  }
  return 0;
}
