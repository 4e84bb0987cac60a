// Variant values: the one value type that crosses the library's boundary.
//
// A Variant is Empty, Null, a 16-bit or 32-bit integer, a double, a string,
// a boolean, a date/time, an object reference or an array of variants.
// Arrays are immutable once wrapped in a Variant and shared between copies.
#ifndef WRENHAVEN_VARIANT_H_
#define WRENHAVEN_VARIANT_H_

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace wrenhaven {

// Base of everything a Variant can hold by reference: connections, page
// objects, components.
class Object {
 public:
  virtual ~Object() = default;
};

class VariantArray;

enum class Kind {
  kEmpty,
  kNull,
  kInteger,  // 16-bit signed
  kLong,     // 32-bit signed
  kDouble,
  kString,
  kBoolean,
  kDate,
  kObject,
  kArray,
};

// A date/time as days since 30 December 1899 (the zero date), the fraction
// being the time of day.
struct Date {
  double serial = 0.0;

  static Date FromParts(int year, int month, int day, int hour = 0,
                        int minute = 0, int second = 0);
  // Parts of the date; second is rounded to the nearest whole second.
  void ToParts(int* year, int* month, int* day, int* hour, int* minute,
               int* second) const;
  // "YYYY-MM-DD HH:MM:SS".
  std::string ToIso() const;
  // Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a "T"
  // may stand for the blank). Returns false when the text is no such date.
  static bool ParseIso(std::string_view text, Date* out);
  // The local date and time now.
  static Date Now();

  friend bool operator==(Date a, Date b) { return a.serial == b.serial; }
};

class Variant {
 public:
  Variant() = default;  // Empty

  static Variant Empty() { return Variant(); }
  static Variant Null();
  static Variant Integer(int16_t v);
  static Variant Long(int32_t v);
  static Variant Double(double v);
  static Variant String(std::string v);
  static Variant Boolean(bool v);
  static Variant FromDate(Date v);
  // Nothing is an object reference holding nullptr.
  static Variant FromObject(std::shared_ptr<Object> v);
  static Variant Nothing() { return FromObject(nullptr); }
  static Variant Array(VariantArray v);

  Kind kind() const;
  bool is_empty() const { return kind() == Kind::kEmpty; }
  bool is_null() const { return kind() == Kind::kNull; }
  bool is_numeric() const;  // Integer, Long, Double

  // Accessors for the exact kind; each raises "Type mismatch" on another kind.
  int16_t integer() const;
  int32_t long_value() const;
  double double_value() const;
  const std::string& string() const;
  bool boolean() const;
  Date date() const;
  const std::shared_ptr<Object>& object() const;
  const VariantArray& array() const;

  // The text form used in statement and page text: Empty and Null give "",
  // numbers their decimal text, booleans "True"/"False", dates the short
  // date and time text (date only at midnight, time only on the zero date).
  std::string ToText() const;

  // Conversions with the page languages' rules. Each raises a readable
  // error: "Invalid use of Null" for Null, "Type mismatch" for a text that is
  // no number (or no date), "Overflow" for a number outside the range.
  // Empty converts to 0, to "" and to the zero date.
  int16_t ToInteger() const;
  int32_t ToLong() const;
  double ToDouble() const;
  bool ToBoolean() const;
  Date ToDate() const;
  // Like ToText, but Null raises "Invalid use of Null".
  std::string ToStringStrict() const;

  // Same kind and same value; arrays compare cell by cell.
  friend bool operator==(const Variant& a, const Variant& b);

  // A one-line rendering for tests and logs, e.g. Long(3), String("a"), Null.
  std::string Debug() const;

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  using Storage =
      std::variant<std::monostate, NullTag, int16_t, int32_t, double,
                   std::string, bool, Date, std::shared_ptr<Object>,
                   std::shared_ptr<const VariantArray>>;
  // Builds in place: moving a whole Storage into a new Variant trips a
  // false "may be used uninitialized" warning in GCC 12.
  template <class T>
  static Variant Make(T v) {
    Variant out;
    out.value_.template emplace<T>(std::move(v));
    return out;
  }
  Storage value_;
};

// Writes v.Debug(): for logs, and for test frameworks' failure messages.
std::ostream& operator<<(std::ostream& os, const Variant& v);

// An array of variants with explicit lower and upper bounds per dimension.
// An undimensioned array has no dimensions; asking it for a bound, or any
// array for a cell outside its bounds, raises "Subscript out of range".
class VariantArray {
 public:
  struct Bounds {
    int32_t lower;
    int32_t upper;
    int32_t size() const { return upper - lower + 1; }
    friend bool operator==(Bounds a, Bounds b) {
      return a.lower == b.lower && a.upper == b.upper;
    }
  };

  VariantArray() = default;  // undimensioned
  // REQUIRES: upper >= lower - 1 for every dimension.
  explicit VariantArray(std::vector<Bounds> bounds);
  // Shorthands for arrays whose lower bounds are 0.
  static VariantArray OneDim(int32_t upper);
  static VariantArray TwoDim(int32_t upper1, int32_t upper2);
  // The shared empty forms: (0 To 0, 0 To 0) holding one Empty, and no
  // dimensions at all.
  static VariantArray EmptyGrid() { return TwoDim(0, 0); }
  static VariantArray Undimensioned() { return VariantArray(); }

  int dimensions() const { return static_cast<int>(bounds_.size()); }
  bool undimensioned() const { return bounds_.empty(); }
  // dim counts from 1 as in the page languages.
  int32_t LBound(int dim = 1) const;
  int32_t UBound(int dim = 1) const;
  const std::vector<Bounds>& bounds() const { return bounds_; }

  const Variant& at(std::initializer_list<int32_t> index) const;
  Variant& at(std::initializer_list<int32_t> index);
  const Variant& operator()(int32_t i) const { return at({i}); }
  Variant& operator()(int32_t i) { return at({i}); }
  const Variant& operator()(int32_t i, int32_t j) const { return at({i, j}); }
  Variant& operator()(int32_t i, int32_t j) { return at({i, j}); }

  // Cells in storage order: the last index runs fastest.
  const std::vector<Variant>& cells() const { return cells_; }
  // A cell by its place in storage order; raises "Subscript out of range".
  Variant& flat(size_t offset);

  // Keeps the cells that lie inside both the old and the new bounds (the
  // "ReDim Preserve" of the page languages, without its one-dimension limit).
  void Resize(std::vector<Bounds> bounds);

  // "(0 To 1, 0 To 0) [1] [2]": the bounds, then every cell in storage order
  // by its text form (Null as "Null"); an undimensioned array renders as
  // "()".
  std::string Dump() const;

  friend bool operator==(const VariantArray& a, const VariantArray& b) {
    return a.bounds_ == b.bounds_ && a.cells_ == b.cells_;
  }

 private:
  size_t Offset(const int32_t* index, size_t count) const;
  std::vector<Bounds> bounds_;
  std::vector<Variant> cells_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_VARIANT_H_
