#include <string>

#include "frame/text.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

int Recordset::FieldIndex(std::string_view name) const {
  const int n = FieldCount();
  for (int i = 0; i < n; ++i) {
    if (EqualsIgnoreCase(FieldName(i), name)) return i;
  }
  Raise(ErrorCode::kDatabase, "Item cannot be found in the collection: no field named " +
                                  std::string(name));
}

VariantArray Recordset::GetRows() {
  const int f = FieldCount();
  std::vector<std::vector<Variant>> rows;
  while (!Eof()) {
    std::vector<Variant> row(static_cast<size_t>(f));
    for (int i = 0; i < f; ++i) row[static_cast<size_t>(i)] = Value(i);
    rows.push_back(std::move(row));
    MoveNext();
  }
  const auto n = static_cast<int32_t>(rows.size());
  VariantArray out = VariantArray::TwoDim(f - 1, n - 1);
  for (int32_t r = 0; r < n; ++r) {
    for (int i = 0; i < f; ++i) {
      out(i, r) = std::move(rows[static_cast<size_t>(r)][static_cast<size_t>(i)]);
    }
  }
  return out;
}

}  // namespace wrenhaven
