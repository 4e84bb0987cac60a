#include "wrenhaven/personnel.h"

#include <string>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"

namespace wrenhaven {

const ClassInfo& Personnel::Info() {
  static const ClassInfo info{
      "Wrenhaven.Personnel",
      "_Personnel",
      {
          Method("SetConn", &Personnel::SetConn, {ByRef("pConn")}),
          Method("GetError", &Personnel::GetError),
          Method("GetDepartments", &Personnel::GetDepartments),
          Method("GetDeptName", &Personnel::GetDeptName, {ByVal("DeptID")}),
          Method("GetPeople", &Personnel::GetPeople),
          Method("GetPerson", &Personnel::GetPerson, {ByVal("PersonID")}),
      },
      [] { return std::make_shared<Personnel>(); },
  };
  return info;
}

namespace {

const bool kRegistered = RegisterClass(Personnel::Info());

// A person's columns for the pages: no password, the department's name
// beside its number.
constexpr std::string_view kPeople =
    "Select HR_person.PersonID,PersonName,personAccount,HR_person.DeptID,"
    "DeptName from HR_person left join HR_Dept on "
    "HR_person.DeptID=HR_Dept.DeptID";

}  // namespace

VariantArray Personnel::GetDepartments() {
  return Guarded([&] {
    return Query(conn(), "Select DeptID,DeptName from HR_Dept order by DeptID",
                 CursorType::kForwardOnly, ReadAllRows);
  });
}

std::string Personnel::GetDeptName(const Variant& dept_id) {
  return Guarded([&] {
    Connection& db = conn();
    if (dept_id.is_empty() || dept_id.is_null() ||
        (dept_id.kind() == Kind::kString && dept_id.string().empty())) {
      return std::string();
    }
    Statement s;
    s.Text("Select DeptName from HR_Dept where DeptID=")
        .Bare(dept_id, "DeptID");
    const VariantArray name =
        Query(db, s.Finish(), CursorType::kForwardOnly, ReadFirstRecord);
    return name.undimensioned() ? std::string() : name(0).ToText();
  });
}

VariantArray Personnel::GetPeople() {
  return Guarded([&] {
    Statement s;
    s.Text(kPeople).Text(" order by HR_person.PersonID");
    return Query(conn(), s.Finish(), CursorType::kForwardOnly, ReadAllRows);
  });
}

VariantArray Personnel::GetPerson(int32_t person_id) {
  return Guarded([&] {
    Statement s;
    s.Text(kPeople)
        .Text(" where HR_person.PersonID=")
        .Bare(Variant::Long(person_id), "PersonID");
    return Query(conn(), s.Finish(), CursorType::kForwardOnly, ReadFirstRecord);
  });
}

}  // namespace wrenhaven
