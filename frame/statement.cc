#include "frame/statement.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

#include "frame/text.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// The databases take at most 65535 values in one statement.
constexpr size_t kMostMarks = 65535;

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Calls found(start, length, number) for each mark of `s`, front to back.
// A number past kMostMarks is given as kMostMarks + 1.
template <class Found>
void ForEachMark(std::string_view s, Found&& found) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const char c = s[i];
    if (c == '\'' || c == '"') {
      // To the closing quote; a doubled one stays inside.
      size_t j = i + 1;
      for (;;) {
        const size_t close = s.find(c, j);
        if (close == std::string_view::npos) return;  // inside to the end
        if (close + 1 < n && s[close + 1] == c) {
          j = close + 2;
          continue;
        }
        i = close + 1;
        break;
      }
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      const size_t end = s.find('\n', i);
      if (end == std::string_view::npos) return;
      i = end + 1;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      const size_t end = s.find("*/", i + 2);
      if (end == std::string_view::npos) return;
      i = end + 2;
    } else if (c == '$' && i + 1 < n &&
               std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      size_t j = i + 1;
      size_t number = 0;
      while (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
        if (number <= kMostMarks) number = number * 10 + (s[j] - '0');
        ++j;
      }
      found(i, j - i, std::min(number, kMostMarks + 1));
      i = j;
    } else if (IsNameChar(c)) {
      // A whole name or number: a $ inside it is none of a mark.
      while (i < n && IsNameChar(s[i])) ++i;
    } else {
      ++i;
    }
  }
}

// `text` between `open` and `close`.
std::string Between(char open, std::string_view text, char close) {
  std::string out(1, open);
  out.append(text);
  out += close;
  return out;
}

[[noreturn]] void MarksDisagree(size_t count, std::string_view why) {
  Raise(ErrorCode::kInvalidArgument,
        "The statement's marks do not match its " + std::to_string(count) +
            (count == 1 ? " value" : " values") + ": " + std::string(why));
}

}  // namespace

std::string Mark(size_t n) {
  std::string out = "$";
  out += std::to_string(n);
  return out;
}

StatementValue ValueOfMark(const Variant& value, size_t mark) {
  StatementValue out;
  switch (value.kind()) {
    case Kind::kNull:
      return out;
    case Kind::kInteger:
    case Kind::kLong:
      out.form = StatementValue::Form::kWhole;
      out.whole = value.ToLong();
      out.text = std::to_string(out.whole);
      return out;
    case Kind::kDouble: {
      const double v = value.double_value();
      if (!std::isfinite(v)) break;
      // Up to 2^53 every whole number is exact in a double.
      constexpr double kExact = 9007199254740992.0;
      if (v == std::trunc(v) && std::fabs(v) <= kExact) {
        out.form = StatementValue::Form::kWhole;
        out.whole = static_cast<int64_t>(v);
        out.text = std::to_string(out.whole);
        return out;
      }
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v);
      out.form = StatementValue::Form::kReal;
      out.real = v;
      out.text = buf;
      return out;
    }
    case Kind::kString:
      if (value.string().find('\0') != std::string::npos) {
        Raise(ErrorCode::kInvalidArgument,
              "The statement's value $" + std::to_string(mark) +
                  " contains a NUL character, which a text cannot hold");
      }
      out.form = StatementValue::Form::kText;
      out.text = value.string();
      return out;
    case Kind::kDate:
      out.form = StatementValue::Form::kText;
      out.text = value.date().ToIso();
      return out;
    default:
      break;
  }
  std::string kind = value.Debug();
  kind = kind.substr(0, kind.find('('));
  Raise(ErrorCode::kTypeMismatch, "The statement's value $" +
                                      std::to_string(mark) + " is " + kind +
                                      ", which a statement cannot take");
}

void CheckMarks(std::string_view statement, size_t count) {
  if (count > kMostMarks) MarksDisagree(count, "more than a statement takes");
  std::vector<bool> seen(count, false);
  ForEachMark(statement, [&](size_t, size_t, size_t number) {
    if (number == 0 || number > count) {
      MarksDisagree(count, number > kMostMarks
                               ? "a mark past " + Mark(kMostMarks)
                               : "it has " + Mark(number));
    }
    seen[number - 1] = true;
  });
  const auto missing = std::find(seen.begin(), seen.end(), false);
  if (missing != seen.end()) {
    MarksDisagree(count, Mark(static_cast<size_t>(missing - seen.begin()) + 1) +
                             " is missing");
  }
}

std::string WithValuesWritten(std::string_view statement,
                              std::span<const Variant> values) {
  CheckMarks(statement, values.size());
  std::vector<std::string> literals;
  literals.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    StatementValue v = ValueOfMark(values[i], i + 1);
    switch (v.form) {
      case StatementValue::Form::kNull:
        literals.emplace_back("NULL");
        break;
      case StatementValue::Form::kWhole:
      case StatementValue::Form::kReal:
        literals.push_back(v.text.starts_with('-') ? Between('(', v.text, ')')
                                                   : std::move(v.text));
        break;
      case StatementValue::Form::kText:
        literals.push_back(Between('\'', DoubleQuotes(v.text), '\''));
        break;
    }
  }
  std::string out;
  size_t copied = 0;
  ForEachMark(statement, [&](size_t start, size_t length, size_t number) {
    out.append(statement.substr(copied, start - copied));
    out.append(literals[number - 1]);
    copied = start + length;
  });
  out.append(statement.substr(copied));
  return out;
}

void Connection::ExecuteWith(std::string_view statement,
                             std::span<const Variant> values) {
  Execute(WithValuesWritten(statement, values));
}

std::unique_ptr<Recordset> Connection::OpenWith(std::string_view statement,
                                                std::span<const Variant> values,
                                                CursorType cursor) {
  return Open(WithValuesWritten(statement, values), cursor);
}

bool IsNumberText(std::string_view s) {
  size_t i = 0;
  auto digits = [&] {
    size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    return i - start;
  };
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t whole = digits();
  size_t fraction = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    fraction = digits();
  }
  if (whole + fraction == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

Statement& Statement::Text(std::string_view literal) {
  text_.append(literal);
  return *this;
}

Statement& Statement::Quoted(const Variant& value) {
  const std::string text = value.ToText();
  // The databases read a statement up to its first NUL: one inside a value
  // would cut the statement short in the middle of its literal.
  if (text.find('\0') != std::string::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "A text value must not contain a NUL character");
  }
  text_.append(DoubleQuotes(text));
  return *this;
}

Statement& Statement::Bare(const Variant& value, std::string_view name) {
  switch (value.kind()) {
    case Kind::kEmpty:
    case Kind::kNull:
      slots_.push_back(text_.size());
      return *this;
    case Kind::kInteger:
    case Kind::kLong:
    case Kind::kDouble:
      text_.append(value.ToText());
      return *this;
    case Kind::kString:
      if (value.string().empty()) {
        slots_.push_back(text_.size());
        return *this;
      }
      if (IsNumberText(value.string())) {
        text_.append(value.string());
        return *this;
      }
      break;
    default:
      break;
  }
  std::string shown = value.kind() == Kind::kString
                          ? "\"" + value.string() + "\""
                          : value.Debug();
  Raise(ErrorCode::kTypeMismatch,
        std::string(name) + " must be a number or empty, not " + shown);
}

std::string Statement::Finish(std::span<const NullMarker> pairs) const {
  std::string text = text_;
  std::vector<size_t> slots = slots_;
  for (const NullMarker& pair : pairs) {
    const size_t len = pair.marker.size();
    bool again = true;
    while (again && !slots.empty()) {
      again = false;
      size_t search = 0;
      while (true) {
        const size_t hit = text.find(pair.marker, search);
        if (hit == std::string::npos) break;
        // The slot strictly inside the occurrence: the marker's characters
        // come from the literal pieces on both sides of an empty value.
        auto inside = std::find_if(slots.begin(), slots.end(), [&](size_t s) {
          return s > hit && s < hit + len;
        });
        if (inside == slots.end()) {
          search = hit + 1;
          continue;
        }
        text.replace(hit, len, pair.replacement);
        slots.erase(inside);
        for (size_t& s : slots) {
          if (s > hit) s = s + pair.replacement.size() - len;
        }
        search = hit + pair.replacement.size();
        again = true;
      }
    }
  }
  return text;
}

}  // namespace wrenhaven
