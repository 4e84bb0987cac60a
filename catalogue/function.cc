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

bool Function::AddData(const Variant& FunName, const Variant& FunMemo,
                       const Variant& FunType, const Variant& FunOrder,
                       const Variant& FunClass, const Variant& FunUrl) {
  return Guarded([&] {
    Connection& db = conn();
    Statement s;
    s.Text(
         "Insert into SYS_Function "
         "(FunName,FunMemo,FunType,FunOrder,FunClass,FunUrl) values('")
        .Quoted(FunName)
        .Text("','")
        .Quoted(FunMemo)
        .Text("',")
        .Bare(FunType, "FunType")
        .Text(",")
        .Bare(FunOrder, "FunOrder")
        .Text(",'")
        .Quoted(FunClass)
        .Text("','")
        .Quoted(FunUrl)
        .Text("')");
    return RunCommand(db, s.Finish(kInsertNulls));
  });
}

bool Function::DelData(const Variant& ID) {
  return Guarded([&] {
    Connection& db = conn();
    RequireId(ID, "ID", "function to change or delete");
    Statement s;
    s.Text("Delete from SYS_Function where FunID=").Bare(ID, "ID");
    return RunCommand(db, s.Finish());
  });
}

bool Function::UpdateData(const Variant& ID, const Variant& FunName,
                          const Variant& FunMemo, const Variant& FunType,
                          const Variant& FunOrder, const Variant& FunClass,
                          const Variant& FunUrl) {
  return Guarded([&] {
    Connection& db = conn();
    RequireId(ID, "ID", "function to change or delete");
    Statement s;
    s.Text("update SYS_Function set FunName='")
        .Quoted(FunName)
        .Text("',FunMemo='")
        .Quoted(FunMemo)
        .Text("',FunType=")
        .Bare(FunType, "FunType")
        .Text(",FunOrder=")
        .Bare(FunOrder, "FunOrder")
        .Text(",FunClass='")
        .Quoted(FunClass)
        .Text("',FunUrl='")
        .Quoted(FunUrl)
        .Text("' where FunID=")
        .Bare(ID, "ID");
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

VariantArray Function::GetPageData(const Variant& nPageSize,
                                   const Variant& nPage) {
  return Guarded([&] {
    Connection& db = conn();
    return Query(db, db.dialect().FunctionList(), CursorType::kStatic,
                 [&](Recordset& rs) { return ReadPage(rs, nPageSize, nPage); });
  });
}

VariantArray Function::GetData(int32_t ID) {
  return Guarded([&] {
    Connection& db = conn();
    const std::string text =
        "Select * From SYS_Function Where FunID=" + std::to_string(ID);
    return Query(db, text, CursorType::kStatic, ReadFirstRecord);
  });
}

}  // namespace wrenhaven
