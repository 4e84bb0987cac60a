// Small text helpers shared by the frame and the classes.
#ifndef WRENHAVEN_FRAME_TEXT_H_
#define WRENHAVEN_FRAME_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wrenhaven {

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Every occurrence of `from` replaced by `to`, scanning left to right.
std::string ReplaceAll(std::string_view text, std::string_view from,
                       std::string_view to);
// The text made safe to stand between single quotes in a statement: every
// single quote doubled ("it's" gives "it''s"). The one routine that does
// it, for the statement builder's quoted values and the sign-in's request
// values alike.
std::string DoubleQuotes(std::string_view text);
// Leading and trailing blanks (spaces only) removed.
std::string_view TrimSpaces(std::string_view text);
// Leading and trailing spaces and tabs removed (HTTP's optional white
// space).
std::string_view TrimBlanks(std::string_view text);
// True for an optionally signed run of decimal digits.
bool IsWholeNumber(std::string_view text);
// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The number of characters of well-formed UTF-8 `text`.
size_t Utf8Length(std::string_view text);
// The first `max_chars` characters of well-formed UTF-8 `text`.
std::string_view CutUtf8(std::string_view text, size_t max_chars);
// `text` as a message shows it: whole up to `max_bytes`, otherwise its
// beginning (cut between characters) and how long it was, so that one
// failure cannot write a megabyte into a log line.
std::string CutForMessage(std::string_view text, size_t max_bytes = 1000);
// True for a comma list of whole numbers, e.g. "2,5,11" (no blanks).
bool IsWholeNumberList(std::string_view text);
// A whole number written in decimal digits only (no sign, no blanks),
// 0 to 2147483647; nullopt for anything else.
std::optional<int32_t> ParseId(std::string_view text);
// One CSV field: quoted when it holds a comma, a quote or a line break,
// quotes doubled; a field that a spreadsheet would read as a formula
// (starting with =, +, -, @, a tab or a carriage return) gets a leading
// apostrophe.
std::string CsvField(std::string_view text);

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_TEXT_H_
