// Statement assembly: literal pieces joined with parameter values in a fixed
// order, so a reader can hold the code next to the exact statement text.
//
//   Statement s;
//   s.Text("Delete from SYS_Menu where MenuID=").Bare(id, "ID");
//   conn.Execute(s.Finish());
//
// Quoted values stand between single quotes that belong to the neighbouring
// literal pieces; each single quote inside the value is doubled. Bare values
// must be numbers or empty: anything else raises an error naming the
// parameter before any statement text leaves the builder. An empty bare
// value leaves a slot that the class's NullMarkers pairs turn into null;
// the pairs apply only around such slots, never inside a value's own text.
#ifndef WRENHAVEN_FRAME_STATEMENT_H_
#define WRENHAVEN_FRAME_STATEMENT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven {

struct NullMarker {
  std::string_view marker;
  std::string_view replacement;
};

class Statement {
 public:
  Statement& Text(std::string_view literal);
  // The value's text form with each "'" doubled. A text holding a NUL
  // character raises kInvalidArgument (the databases would read the
  // statement only up to it).
  Statement& Quoted(const Variant& value);
  // A number in its text form, or (Empty, Null, "") a slot for null.
  // `name` names the parameter in the error for anything else.
  Statement& Bare(const Variant& value, std::string_view name);

  // The assembled text with the pairs applied in order. Each pair replaces
  // every occurrence of its marker that surrounds an empty bare value's
  // slot, scanning from the start and again until none is left, so two
  // empty bare values side by side both become null.
  std::string Finish(std::span<const NullMarker> pairs = {}) const;

 private:
  std::string text_;
  std::vector<size_t> slots_;  // positions of empty bare values, ascending
};

// True when `text` is a decimal number as a bare value may be written:
// optional sign, digits, optional fraction and exponent, no blanks.
bool IsNumberText(std::string_view text);

// Statements whose values stand apart from their text, as the marks $1,
// $2, ... (Connection::OpenWith).

// The mark of the nth value: "$n".
std::string Mark(size_t n);

// One value as a database is sent it.
struct StatementValue {
  enum class Form { kNull, kWhole, kReal, kText };
  Form form = Form::kNull;
  int64_t whole = 0;  // kWhole
  double real = 0;    // kReal
  // Not Null: the value's text, as a number or a text literal holds it
  // ("-12", "1733000000000000", "0.5", "2024-05-01 08:30:00", "it's").
  std::string text;
};

// `value` as the value of mark `mark` (which names it in an error): Null;
// Integer, Long, and a Double that is a whole number up to 2^53 as whole
// numbers; another finite Double as a real number in 17 digits; a String
// as itself; a Date as "YYYY-MM-DD HH:MM:SS". Any other kind raises
// kTypeMismatch, and a text holding a NUL character kInvalidArgument (the
// databases' client libraries read texts up to it). The errors name the
// mark and the kind, never the value.
StatementValue ValueOfMark(const Variant& value, size_t mark);

// Raises kInvalidArgument unless the marks of `statement` are exactly $1
// to $count, each at least once. Marks are read outside '...' literals,
// "..." names and comments; a $ within a name is part of the name.
void CheckMarks(std::string_view statement, size_t count);

// `statement` with each mark replaced by its value as a literal: NULL,
// numbers bare (a negative one in parentheses, so that it cannot follow a
// minus sign as a comment's start), texts between single quotes with
// every quote inside doubled. Checks marks and values as above.
std::string WithValuesWritten(std::string_view statement,
                              std::span<const Variant> values);

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_STATEMENT_H_
