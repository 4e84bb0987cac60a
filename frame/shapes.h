// The procedures that fill the result shapes from an open result set, and
// the one that runs a command. Each class method builds its statement,
// opens a result set of its own and hands it to one of these.
//
// Shapes (all lower bounds 0; F fields, N rows):
//   FieldsByRows        (0 To F-1, 0 To N-1), field first   ReadAllRows
//   TitledRowsByFields  (0 To N, 0 To F-1), row 0 the names ReadTitledTable
//   RowsByFields        (0 To K-1, 0 To F-1), row first     ReadPage
//   SingleRecord        (0 To F-1), the first row           ReadFirstRecord
// Empty forms: EmptyGrid for FieldsByRows, the names row alone for
// TitledRowsByFields, UndimensionedArray for RowsByFields and SingleRecord.
#ifndef WRENHAVEN_FRAME_SHAPES_H_
#define WRENHAVEN_FRAME_SHAPES_H_

#include <string_view>

#include "wrenhaven/connection.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

VariantArray ReadAllRows(Recordset& rs);
// REQUIRES: a static result set that no row has been read from.
VariantArray ReadTitledTable(Recordset& rs);
VariantArray ReadFirstRecord(Recordset& rs);
// The names of the result's fields as one row: (0 To 0, 0 To F-1).
VariantArray ReadNamesRow(Recordset& rs);
// Page `page` (from 1) of `page_size` rows; UndimensionedArray for an empty
// result. A page size below 1, a page below 1 or past the last page raises
// an error. REQUIRES: a static result set.
VariantArray ReadPage(Recordset& rs, const Variant& page_size,
                      const Variant& page);

// Opens `statement` with `cursor`, fills the result with `read` and closes
// the result set, also when `read` fails.
template <class Read>
VariantArray Query(Connection& conn, std::string_view statement,
                   CursorType cursor, Read read) {
  std::unique_ptr<Recordset> rs = conn.Open(statement, cursor);
  VariantArray result = read(*rs);
  rs->Close();
  return result;
}

// Runs a command statement; a command has no false outcome.
bool RunCommand(Connection& conn, std::string_view statement);

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_SHAPES_H_
