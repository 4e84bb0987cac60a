#include "frame/shapes.h"

#include <string>

#include "wrenhaven/error.h"

namespace wrenhaven {

VariantArray ReadAllRows(Recordset& rs) {
  if (rs.Eof()) return VariantArray::EmptyGrid();
  return rs.GetRows();
}

VariantArray ReadTitledTable(Recordset& rs) {
  const int32_t n = rs.RecordCount();
  const int f = rs.FieldCount();
  VariantArray out = VariantArray::TwoDim(n, f - 1);
  for (int i = 0; i < f; ++i) out(0, i) = Variant::String(rs.FieldName(i));
  for (int32_t r = 1; r <= n && !rs.Eof(); ++r) {
    for (int i = 0; i < f; ++i) out(r, i) = rs.Value(i);
    rs.MoveNext();
  }
  return out;
}

VariantArray ReadFirstRecord(Recordset& rs) {
  if (rs.Eof()) return VariantArray::Undimensioned();
  const int f = rs.FieldCount();
  VariantArray out = VariantArray::OneDim(f - 1);
  for (int i = 0; i < f; ++i) out(i) = rs.Value(i);
  return out;
}

VariantArray ReadNamesRow(Recordset& rs) {
  const int f = rs.FieldCount();
  VariantArray out = VariantArray::TwoDim(0, f - 1);
  for (int i = 0; i < f; ++i) out(0, i) = Variant::String(rs.FieldName(i));
  return out;
}

VariantArray ReadPage(Recordset& rs, const Variant& page_size,
                      const Variant& page) {
  if (rs.Eof()) return VariantArray::Undimensioned();
  const int32_t size = page_size.ToLong();
  const int32_t number = page.ToLong();
  rs.SetPageSize(size);
  rs.SetAbsolutePage(number);
  const int f = rs.FieldCount();
  std::vector<std::vector<Variant>> rows;
  while (static_cast<int32_t>(rows.size()) < size && !rs.Eof()) {
    std::vector<Variant> row(static_cast<size_t>(f));
    for (int i = 0; i < f; ++i) row[static_cast<size_t>(i)] = rs.Value(i);
    rows.push_back(std::move(row));
    rs.MoveNext();
  }
  if (rows.empty()) {
    Raise(ErrorCode::kSubscriptOutOfRange,
          "Page " + std::to_string(number) + " holds no row");
  }
  const auto k = static_cast<int32_t>(rows.size());
  VariantArray out = VariantArray::TwoDim(k - 1, f - 1);
  for (int32_t r = 0; r < k; ++r) {
    for (int i = 0; i < f; ++i) {
      out(r, i) = std::move(rows[static_cast<size_t>(r)][static_cast<size_t>(i)]);
    }
  }
  return out;
}

bool RunCommand(Connection& conn, std::string_view statement) {
  conn.Execute(statement);
  return true;
}

}  // namespace wrenhaven
