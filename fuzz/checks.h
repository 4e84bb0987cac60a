// The checks behind the fuzzing harnesses. Each takes one input as the
// fuzzer hands it over and returns "" when every invariant holds, or a
// description of the first one that broke. The fuzzer entry points abort
// on a description; the regression tests feed the checked-in inputs to the
// same functions in the ordinary build.
#ifndef WRENHAVEN_FUZZ_CHECKS_H_
#define WRENHAVEN_FUZZ_CHECKS_H_

#include <string>
#include <string_view>
#include <vector>

namespace wrenhaven::fuzz {

// Statement assembly: values from outside, joined by the Statement builder
// and by the classes (the sign-in's person statement and login record, the
// menus' role lists, menu maintenance), never change a statement's token
// structure against the same statement built from harmless values, and
// what SQLite prepares of it.
std::string CheckStatement(std::string_view input);
// The part of it that judges one statement against its harmless twin.
std::string CompareStatements(const std::string& sql,
                              const std::string& reference);

// Request decoding of the page host: URL-encoded forms, the cookie header,
// cookie values, header names and what goes back out (locations, HTML).
std::string CheckWire(std::string_view input);

// The session text codec: decoding never fails other than with an Error,
// and what decodes encodes and decodes again to the same values.
std::string CheckSessionText(std::string_view input);

// The JSON values of `wrenhaven call`: every argument becomes a variant,
// and its JSON form reads back as the same variant.
std::string CheckJsonVariant(std::string_view input);

// The attendance CSV: every row reads back with a CSV reader to the cells
// that went in, and no cell starts as a formula.
std::string CheckCsv(std::string_view input);

// Splits `input` at the unit separator (0x1F) into at most `max_parts`
// pieces; the last piece keeps any further separators.
std::vector<std::string> SplitFields(std::string_view input, size_t max_parts);

}  // namespace wrenhaven::fuzz

#endif  // WRENHAVEN_FUZZ_CHECKS_H_
