#include "wrenhaven/function.h"

#include <array>
#include <string>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& Function::Info() {
  static const ClassInfo info{
      "Wrenhaven.Function",
      "_Function",
      {
          Method("SetConn", &Function::SetConn, {ByRef("pConn")}),
          Method("GetError", &Function::GetError),
          Method("AddData", &Function::AddData,
                 {ByVal("FunName"), ByVal("FunMemo"), ByVal("FunType"),
                  ByVal("FunOrder"), ByVal("FunClass"), ByVal("FunUrl")}),
          Method("DelData", &Function::DelData, {ByRef("ID")}),
          Method("UpdateData", &Function::UpdateData,
                 {ByVal("ID"), ByVal("FunName"), ByVal("FunMemo"),
                  ByVal("FunType"), ByVal("FunOrder"), ByVal("FunClass"),
                  ByVal("FunUrl")}),
          Method("GetAllData", &Function::GetAllData),
          Method("GetPageData", &Function::GetPageData,
                 {ByVal("nPageSize"), ByVal("nPage")}),
          Method("GetData", &Function::GetData, {ByVal("ID")}),
      },
      [] { return std::make_shared<Function>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(Function::Info());

// The insert's values list: an empty FunType or FunOrder stands between
// two commas; the first and last values are quoted, so "(," and ",)" only
// guard the list's ends.
constexpr std::array<NullMarker, 3> kInsertNulls{{
    {",,", ",NULL,"},
    {"(,", "(NULL,"},
    {",)", ",NUll)"},
}};

// The update's set list: an empty FunType or FunOrder is followed by a
// comma; the value before the where clause is quoted.
constexpr std::array<NullMarker, 2> kUpdateNulls{{
    {"=,", "=null,"},
    {"= where", "= null where"},
}};

}  // namespace

bool Function::AddData(const Variant& fun_name, const Variant& fun_memo,
                       const Variant& fun_type, const Variant& fun_order,
                       const Variant& fun_class, const Variant& fun_url) {
  return Guarded([&] {
    Connection& db = conn();
    Statement s;
    s.Text(
         "Insert into SYS_Function "
         "(FunName,FunMemo,FunType,FunOrder,FunClass,FunUrl) values('")
        .Quoted(fun_name)
        .Text("','")
        .Quoted(fun_memo)
        .Text("',")
        .Bare(fun_type, "FunType")
        .Text(",")
        .Bare(fun_order, "FunOrder")
        .Text(",'")
        .Quoted(fun_class)
        .Text("','")
        .Quoted(fun_url)
        .Text("')");
    return RunCommand(db, s.Finish(kInsertNulls));
  });
}

bool Function::DelData(const Variant& id) {
  return Guarded([&] {
    Connection& db = conn();
    RequireId(id, "ID", "function to change or delete");
    Statement s;
    s.Text("Delete from SYS_Function where FunID=").Bare(id, "ID");
    return RunCommand(db, s.Finish());
  });
}

bool Function::UpdateData(const Variant& id, const Variant& fun_name,
                          const Variant& fun_memo, const Variant& fun_type,
                          const Variant& fun_order, const Variant& fun_class,
                          const Variant& fun_url) {
  return Guarded([&] {
    Connection& db = conn();
    RequireId(id, "ID", "function to change or delete");
    Statement s;
    s.Text("update SYS_Function set FunName='")
        .Quoted(fun_name)
        .Text("',FunMemo='")
        .Quoted(fun_memo)
        .Text("',FunType=")
        .Bare(fun_type, "FunType")
        .Text(",FunOrder=")
        .Bare(fun_order, "FunOrder")
        .Text(",FunClass='")
        .Quoted(fun_class)
        .Text("',FunUrl='")
        .Quoted(fun_url)
        .Text("' where FunID=")
        .Bare(id, "ID");
    return RunCommand(db, s.Finish(kUpdateNulls));
  });
}

VariantArray Function::GetAllData() {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db, db.dialect().FunctionList(), CursorType::kStatic,
                 ReadTitledTable);
  });
}

VariantArray Function::GetPageData(const Variant& page_size,
                                   const Variant& page) {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db, db.dialect().FunctionList(), CursorType::kStatic,
                 [&](Recordset& rs) { return ReadPage(rs, page_size, page); });
  });
}

VariantArray Function::GetData(int32_t id) {
  return Guarded([&] {
    Connection& db = conn();
    const std::string text =
        "Select * From SYS_Function Where FunID=" + std::to_string(id);
    return Query(db, text, CursorType::kStatic, ReadFirstRecord);
  });
}

}  // namespace wrenhaven
