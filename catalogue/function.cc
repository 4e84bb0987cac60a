#include "wrenhaven/function.h"

#include <array>
#include <string>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/members.h"
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

// The row a change or delete is aimed at must be named: an empty ID would
// leave a where clause without a value.
void RequireId(const Variant& id) {
  if (id.is_null()) {
    Raise(ErrorCode::kInvalidUseOfNull, "Invalid use of Null: ID is Null");
  }
  if (id.is_empty() || (id.kind() == Kind::kString && id.string().empty())) {
    Raise(ErrorCode::kInvalidArgument,
          "ID is empty: name the function to change or delete");
  }
}

}  // namespace

Connection& Function::conn() const {
  ConnectionMember held;
  held.Set(conn_);
  return held.Get();
}

void Function::SetConn(std::shared_ptr<Connection> pConn) {
  Guarded([&] { conn_ = std::move(pConn); });
}

std::string Function::GetError() { return CurrentError(); }

bool Function::AddData(const Variant& FunName, const Variant& FunMemo,
                       const Variant& FunType, const Variant& FunOrder,
                       const Variant& FunClass, const Variant& FunUrl) {
  return Guarded([&] {
    Connection& c = conn();
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
    return RunCommand(c, s.Finish(kInsertNulls));
  });
}

bool Function::DelData(const Variant& ID) {
  return Guarded([&] {
    Connection& c = conn();
    RequireId(ID);
    Statement s;
    s.Text("Delete from SYS_Function where FunID=").Bare(ID, "ID");
    return RunCommand(c, s.Finish());
  });
}

bool Function::UpdateData(const Variant& ID, const Variant& FunName,
                          const Variant& FunMemo, const Variant& FunType,
                          const Variant& FunOrder, const Variant& FunClass,
                          const Variant& FunUrl) {
  return Guarded([&] {
    Connection& c = conn();
    RequireId(ID);
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
    return RunCommand(c, s.Finish(kUpdateNulls));
  });
}

VariantArray Function::GetAllData() {
  return Guarded([&] {
    Connection& c = conn();
    return Query(c, c.dialect().FunctionList(), CursorType::kStatic,
                 ReadTitledTable);
  });
}

VariantArray Function::GetPageData(const Variant& nPageSize,
                                   const Variant& nPage) {
  return Guarded([&] {
    Connection& c = conn();
    return Query(c, c.dialect().FunctionList(), CursorType::kStatic,
                 [&](Recordset& rs) { return ReadPage(rs, nPageSize, nPage); });
  });
}

VariantArray Function::GetData(int32_t ID) {
  return Guarded([&] {
    Connection& c = conn();
    const std::string text =
        "Select * From SYS_Function Where FunID=" + std::to_string(ID);
    return Query(c, text, CursorType::kStatic, ReadFirstRecord);
  });
}

}  // namespace wrenhaven
