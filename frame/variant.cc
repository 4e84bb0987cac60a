#include "wrenhaven/variant.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <ostream>

#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kZeroDateDays = -25569;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A decimal number, optionally signed, with optional fraction and exponent.
bool ParseNumber(std::string_view text, double* out) {
  std::string s(TrimBlanks(text));
  if (s.empty()) return false;
  for (char c : s) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' ||
          c == '.' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return false;
  if (errno == ERANGE && std::isinf(v)) return false;
  *out = v;
  return true;
}

[[noreturn]] void Mismatch(const Variant& v, const char* wanted) {
  Raise(ErrorCode::kTypeMismatch, std::string("Type mismatch: ") +
                                      v.Debug() + " is not " + wanted);
}

[[noreturn]] void NullUse() {
  Raise(ErrorCode::kInvalidUseOfNull, "Invalid use of Null");
}

double RoundHalfEven(double v) { return std::nearbyint(v); }

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

// ---- Date -----------------------------------------------------------------

Date Date::FromParts(int year, int month, int day, int hour, int minute,
                     int second) {
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month),
                                     static_cast<unsigned>(day)) -
                       kZeroDateDays;
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return Date{static_cast<double>(days) + time};
}

void Date::ToParts(int* year, int* month, int* day, int* hour, int* minute,
                   int* second) const {
  // Whole seconds since the zero date, rounded, so that 08:12:44.9999 reads
  // as 08:12:45.
  const double total = std::round(serial * 86400.0);
  int64_t secs = static_cast<int64_t>(total);
  int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  int64_t in_day = secs - days * 86400;
  CivilFromDays(days + kZeroDateDays, year, month, day);
  *hour = static_cast<int>(in_day / 3600);
  *minute = static_cast<int>(in_day / 60 % 60);
  *second = static_cast<int>(in_day % 60);
}

std::string Date::ToIso() const {
  int y, mo, d, h, mi, s;
  ToParts(&y, &mo, &d, &h, &mi, &s);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h,
                mi, s);
  return buf;
}

bool Date::ParseIso(std::string_view text, Date* out) {
  text = TrimBlanks(text);
  auto digits = [&](size_t pos, size_t n, int* v) {
    if (pos + n > text.size()) return false;
    int r = 0;
    for (size_t i = pos; i < pos + n; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      r = r * 10 + (text[i] - '0');
    }
    *v = r;
    return true;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!digits(0, 4, &y) || text.size() < 10 || text[4] != '-' ||
      !digits(5, 2, &mo) || text[7] != '-' || !digits(8, 2, &d)) {
    return false;
  }
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || !digits(11, 2, &h) ||
        text.size() < 16 || text[13] != ':' || !digits(14, 2, &mi)) {
      return false;
    }
    if (text.size() > 16) {
      if (text.size() < 19 || text[16] != ':' || !digits(17, 2, &s)) {
        return false;
      }
      size_t pos = 19;
      if (pos < text.size() && text[pos] == '.') {  // fraction of a second
        ++pos;
        while (pos < text.size() &&
               std::isdigit(static_cast<unsigned char>(text[pos]))) {
          ++pos;
        }
      }
      if (pos != text.size()) return false;
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap)) return false;
  *out = FromParts(y, mo, d, h, mi, s);
  return true;
}

Date Date::Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour, local.tm_min, local.tm_sec);
}

// ---- Variant --------------------------------------------------------------

Variant Variant::Null() { return Make(NullTag{}); }
Variant Variant::Integer(int16_t v) { return Make(v); }
Variant Variant::Long(int32_t v) { return Make(v); }
Variant Variant::Double(double v) { return Make(v); }
Variant Variant::String(std::string v) { return Make(std::move(v)); }
Variant Variant::Boolean(bool v) { return Make(v); }
Variant Variant::FromDate(Date v) { return Make(v); }
Variant Variant::FromObject(std::shared_ptr<Object> v) {
  return Make(std::move(v));
}
Variant Variant::Array(VariantArray v) {
  return Make(std::shared_ptr<const VariantArray>(
      std::make_shared<const VariantArray>(std::move(v))));
}

Kind Variant::kind() const {
  switch (value_.index()) {
    case 0: return Kind::kEmpty;
    case 1: return Kind::kNull;
    case 2: return Kind::kInteger;
    case 3: return Kind::kLong;
    case 4: return Kind::kDouble;
    case 5: return Kind::kString;
    case 6: return Kind::kBoolean;
    case 7: return Kind::kDate;
    case 8: return Kind::kObject;
    default: return Kind::kArray;
  }
}

bool Variant::is_numeric() const {
  Kind k = kind();
  return k == Kind::kInteger || k == Kind::kLong || k == Kind::kDouble;
}

int16_t Variant::integer() const {
  if (auto* p = std::get_if<int16_t>(&value_)) return *p;
  Mismatch(*this, "an Integer");
}
int32_t Variant::long_value() const {
  if (auto* p = std::get_if<int32_t>(&value_)) return *p;
  Mismatch(*this, "a Long");
}
double Variant::double_value() const {
  if (auto* p = std::get_if<double>(&value_)) return *p;
  Mismatch(*this, "a Double");
}
const std::string& Variant::string() const {
  if (auto* p = std::get_if<std::string>(&value_)) return *p;
  Mismatch(*this, "a String");
}
bool Variant::boolean() const {
  if (auto* p = std::get_if<bool>(&value_)) return *p;
  Mismatch(*this, "a Boolean");
}
Date Variant::date() const {
  if (auto* p = std::get_if<Date>(&value_)) return *p;
  Mismatch(*this, "a Date");
}
const std::shared_ptr<Object>& Variant::object() const {
  if (auto* p = std::get_if<std::shared_ptr<Object>>(&value_)) return *p;
  Mismatch(*this, "an object");
}
const VariantArray& Variant::array() const {
  if (auto* p = std::get_if<std::shared_ptr<const VariantArray>>(&value_)) {
    return **p;
  }
  Mismatch(*this, "an array");
}

std::string Variant::ToText() const {
  switch (kind()) {
    case Kind::kEmpty:
    case Kind::kNull:
      return "";
    case Kind::kInteger:
      return std::to_string(integer());
    case Kind::kLong:
      return std::to_string(long_value());
    case Kind::kDouble: {
      double v = double_value();
      if (v == 0) return "0";  // no "-0"
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15G", v);
      return buf;
    }
    case Kind::kString:
      return string();
    case Kind::kBoolean:
      return boolean() ? "True" : "False";
    case Kind::kDate: {
      const Date d = date();
      int y, mo, dd, h, mi, s;
      d.ToParts(&y, &mo, &dd, &h, &mi, &s);
      const bool has_time = h != 0 || mi != 0 || s != 0;
      const bool zero_day = y == 1899 && mo == 12 && dd == 30;
      std::string time = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
      if (zero_day) return time;
      std::string day = d.ToIso().substr(0, 10);
      return has_time ? day + " " + time : day;
    }
    case Kind::kObject:
      Mismatch(*this, "convertible to text");
    case Kind::kArray:
      Mismatch(*this, "convertible to text");
  }
  return "";
}

std::string Variant::ToStringStrict() const {
  if (is_null()) NullUse();
  return ToText();
}

double Variant::ToDouble() const {
  switch (kind()) {
    case Kind::kEmpty: return 0;
    case Kind::kNull: NullUse();
    case Kind::kInteger: return integer();
    case Kind::kLong: return long_value();
    case Kind::kDouble: return double_value();
    case Kind::kBoolean: return boolean() ? -1 : 0;
    case Kind::kDate: return date().serial;
    case Kind::kString: {
      double v;
      if (!ParseNumber(string(), &v)) Mismatch(*this, "a number");
      return v;
    }
    default: Mismatch(*this, "a number");
  }
}

int32_t Variant::ToLong() const {
  if (kind() == Kind::kLong) return long_value();
  if (kind() == Kind::kInteger) return integer();
  const double r = RoundHalfEven(ToDouble());
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
    Raise(ErrorCode::kOverflow,
          "Overflow: " + Debug() + " does not fit a 32-bit whole number");
  }
  return static_cast<int32_t>(r);
}

int16_t Variant::ToInteger() const {
  const double r = RoundHalfEven(ToDouble());
  if (!(r >= -32768.0 && r <= 32767.0)) {
    Raise(ErrorCode::kOverflow,
          "Overflow: " + Debug() + " does not fit a 16-bit whole number");
  }
  return static_cast<int16_t>(r);
}

bool Variant::ToBoolean() const {
  switch (kind()) {
    case Kind::kNull: NullUse();
    case Kind::kBoolean: return boolean();
    case Kind::kString: {
      std::string_view s = TrimBlanks(string());
      auto equals = [&](std::string_view word) {
        if (s.size() != word.size()) return false;
        for (size_t i = 0; i < s.size(); ++i) {
          if (std::tolower(static_cast<unsigned char>(s[i])) != word[i]) return false;
        }
        return true;
      };
      if (equals("true")) return true;
      if (equals("false")) return false;
      double v;
      if (!ParseNumber(s, &v)) Mismatch(*this, "a truth value");
      return v != 0;
    }
    default: return ToDouble() != 0;
  }
}

Date Variant::ToDate() const {
  switch (kind()) {
    case Kind::kEmpty: return Date{0};
    case Kind::kNull: NullUse();
    case Kind::kDate: return date();
    case Kind::kString: {
      Date d;
      if (Date::ParseIso(string(), &d)) return d;
      double v;
      if (ParseNumber(string(), &v)) return Date{v};
      Mismatch(*this, "a date");
    }
    case Kind::kInteger:
    case Kind::kLong:
    case Kind::kDouble:
    case Kind::kBoolean:
      return Date{ToDouble()};
    default:
      Mismatch(*this, "a date");
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() == Kind::kArray) return a.array() == b.array();
  return a.value_ == b.value_;
}

std::string Variant::Debug() const {
  switch (kind()) {
    case Kind::kEmpty: return "Empty";
    case Kind::kNull: return "Null";
    case Kind::kInteger: return "Integer(" + ToText() + ")";
    case Kind::kLong: return "Long(" + ToText() + ")";
    case Kind::kDouble: return "Double(" + ToText() + ")";
    case Kind::kString: return "String(\"" + string() + "\")";
    case Kind::kBoolean: return std::string("Boolean(") + ToText() + ")";
    case Kind::kDate: return "Date(" + date().ToIso() + ")";
    case Kind::kObject: return object() ? "Object" : "Nothing";
    case Kind::kArray: return "Array" + array().Dump();
  }
  return "";
}

std::ostream& operator<<(std::ostream& os, const Variant& v) {
  return os << v.Debug();
}

// ---- VariantArray ---------------------------------------------------------

VariantArray::VariantArray(std::vector<Bounds> bounds)
    : bounds_(std::move(bounds)) {
  size_t n = 1;
  for (const Bounds& b : bounds_) {
    if (b.upper < b.lower - 1) {
      Raise(ErrorCode::kSubscriptOutOfRange,
            "Subscript out of range: upper bound below lower bound");
    }
    n *= static_cast<size_t>(b.size());
  }
  cells_.resize(bounds_.empty() ? 0 : n);
}

VariantArray VariantArray::OneDim(int32_t upper) {
  return VariantArray({{0, upper}});
}

VariantArray VariantArray::TwoDim(int32_t upper1, int32_t upper2) {
  return VariantArray({{0, upper1}, {0, upper2}});
}

int32_t VariantArray::LBound(int dim) const {
  if (dim < 1 || dim > dimensions()) {
    Raise(ErrorCode::kSubscriptOutOfRange, "Subscript out of range");
  }
  return bounds_[static_cast<size_t>(dim - 1)].lower;
}

int32_t VariantArray::UBound(int dim) const {
  if (dim < 1 || dim > dimensions()) {
    Raise(ErrorCode::kSubscriptOutOfRange, "Subscript out of range");
  }
  return bounds_[static_cast<size_t>(dim - 1)].upper;
}

size_t VariantArray::Offset(const int32_t* index, size_t count) const {
  if (count != bounds_.size()) {
    Raise(ErrorCode::kSubscriptOutOfRange, "Subscript out of range");
  }
  size_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    const Bounds& b = bounds_[i];
    if (index[i] < b.lower || index[i] > b.upper) {
      Raise(ErrorCode::kSubscriptOutOfRange, "Subscript out of range");
    }
    offset = offset * static_cast<size_t>(b.size()) +
             static_cast<size_t>(index[i] - b.lower);
  }
  return offset;
}

const Variant& VariantArray::at(std::initializer_list<int32_t> index) const {
  return cells_[Offset(index.begin(), index.size())];
}

Variant& VariantArray::at(std::initializer_list<int32_t> index) {
  return cells_[Offset(index.begin(), index.size())];
}

Variant& VariantArray::flat(size_t offset) {
  if (offset >= cells_.size()) {
    Raise(ErrorCode::kSubscriptOutOfRange, "Subscript out of range");
  }
  return cells_[offset];
}

void VariantArray::Resize(std::vector<Bounds> bounds) {
  VariantArray next(std::move(bounds));
  if (next.dimensions() == dimensions() && !next.cells_.empty()) {
    // Walk every cell of the new array and copy the ones the old one has.
    std::vector<int32_t> idx(bounds_.size());
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = next.bounds_[i].lower;
    for (Variant& cell : next.cells_) {
      bool inside = true;
      for (size_t i = 0; i < idx.size(); ++i) {
        if (idx[i] < bounds_[i].lower || idx[i] > bounds_[i].upper) inside = false;
      }
      if (inside) cell = std::move(cells_[Offset(idx.data(), idx.size())]);
      for (size_t i = idx.size(); i-- > 0;) {
        if (++idx[i] <= next.bounds_[i].upper) break;
        idx[i] = next.bounds_[i].lower;
      }
    }
  }
  *this = std::move(next);
}

std::string VariantArray::Dump() const {
  std::string out = "(";
  for (size_t i = 0; i < bounds_.size(); ++i) {
    if (i) out += ", ";
    out += std::to_string(bounds_[i].lower) + " To " +
           std::to_string(bounds_[i].upper);
  }
  out += ")";
  for (const Variant& v : cells_) {
    out += " [";
    if (v.kind() == Kind::kArray) {
      out += v.Debug();
    } else if (v.is_null()) {
      out += "Null";
    } else {
      out += v.ToText();
    }
    out += "]";
  }
  return out;
}

}  // namespace wrenhaven
