// Wrenhaven.Function: the function catalogue, one row of SYS_Function per
// feature page of the office system (name, memo, type, order number, class
// and page address). Administration pages list, read, add, change and
// delete functions through it.
//
// The instance borrows the page's connection (SetConn) and holds nothing
// else. Every method but SetConn and GetError needs a connection first.
// Failures raise Error and are recorded for GetError; commands never
// return false. Text values have their single quotes doubled; a bare value
// (FunType, FunOrder, ID) must be a number or empty, and anything else
// raises before a statement is sent. An empty FunType or FunOrder stores
// null.
#ifndef WRENHAVEN_FUNCTION_H_
#define WRENHAVEN_FUNCTION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// Slots 1 and 2 are SetConn and GetError of ClassBase
// (wrenhaven/class_base.h).
class Function : public ClassBase {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 3. Inserts a function; the database assigns its FunID.
  bool AddData(const Variant& fun_name, const Variant& fun_memo,
               const Variant& fun_type, const Variant& fun_order,
               const Variant& fun_class, const Variant& fun_url);
  // Slot 4. Deletes the function `id` (none matching is no failure).
  // Menu entries that point at it are left as they are.
  // REQUIRES: `id` is a number; an empty one raises before anything is
  // sent.
  bool DelData(const Variant& id);
  // Slot 5. Rewrites every column of the function `id` (none matching is
  // no failure). REQUIRES: `id` is a number.
  bool UpdateData(const Variant& id, const Variant& fun_name,
                  const Variant& fun_memo, const Variant& fun_type,
                  const Variant& fun_order, const Variant& fun_class,
                  const Variant& fun_url);

  // Slot 6. Every function in FunClass order, row first, row 0 the column
  // names: (0 To N, 0 To F-1); the names row alone when there is none.
  VariantArray GetAllData();
  // Slot 7. Page `page` (from 1) of `page_size` functions in FunClass
  // order: (0 To K-1, 0 To F-1) without a names row; an undimensioned
  // array when there is no function at all. A page size below 1, or a page
  // below 1 or past the last one, raises.
  VariantArray GetPageData(const Variant& page_size, const Variant& page);
  // Slot 8. The columns of the function `id`: (0 To F-1); an undimensioned
  // array when no function has it.
  VariantArray GetData(int32_t id);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_FUNCTION_H_
