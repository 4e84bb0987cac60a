#include "wrenhaven/personnel.h"

#include <string>

#include "frame/binding.h"
#include "frame/guard.h"
#include "frame/shapes.h"
#include "frame/statement.h"
#include "frame/text.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

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
          Method("GetPeoplePage", &Personnel::GetPeoplePage,
                 {ByVal("Search"), ByVal("Offset"), ByVal("Count")}),
          Method("CountPeople", &Personnel::CountPeople, {ByVal("Search")}),
          Method("GetPersonByAccount", &Personnel::GetPersonByAccount,
                 {ByVal("Account")}),
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

// The search (or account) as text; raises (without repeating it) unless
// it is short, well-formed UTF-8.
std::string SearchText(const Variant& search, std::string_view what) {
  if (search.is_empty() || search.is_null()) return std::string();
  std::string text = search.ToText();
  if (!IsValidUtf8(text) || Utf8Length(text) > kMaxPeopleSearchLength) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(what) + " must be text of at most " +
              std::to_string(kMaxPeopleSearchLength) + " characters");
  }
  return text;
}

constexpr std::string_view kSearch = "The search for people";

// " where ..." for people whose name or account contains `text`; "" for
// the empty text. The wildcards and the escape mark itself are escaped,
// so that every character matches only itself.
std::string PeopleCondition(const Dialect& dialect, const std::string& text) {
  if (text.empty()) return std::string();
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '!' || c == '%' || c == '_' || c == '[') pattern += '!';
    pattern += c;
  }
  pattern += '%';
  Statement literal;
  literal.Text("'").Quoted(Variant::String(pattern)).Text("'");
  const std::string quoted = literal.Finish();
  return " where (" + dialect.TextLike("PersonName", quoted) + " or " +
         dialect.TextLike("personAccount", quoted) + ")";
}

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

VariantArray Personnel::GetPeoplePage(const Variant& search, int32_t offset,
                                      int32_t count) {
  return Guarded([&] {
    const std::string text = SearchText(search, kSearch);
    if (count < 1 || count > kMaxPeoplePageSize || offset < 0) {
      Raise(ErrorCode::kInvalidArgument,
            "A page of people holds 1 to " +
                std::to_string(kMaxPeoplePageSize) +
                " people from an offset of 0 or more");
    }
    Connection& db = conn();
    const Dialect& dialect = db.dialect();
    // The page is cut from HR_person alone, so that the people before it
    // are only counted off, never joined with their departments.
    const std::string page = dialect.Limited(
        "Select PersonID,PersonName,personAccount,DeptID from HR_person" +
            PeopleCondition(dialect, text) + " order by PersonID",
        count, offset);
    return Query(db,
                 "Select p.PersonID,p.PersonName,p.personAccount,p.DeptID,"
                 "DeptName from (" +
                     page +
                     ") p left join HR_Dept on p.DeptID=HR_Dept.DeptID "
                     "order by p.PersonID",
                 CursorType::kForwardOnly, ReadAllRows);
  });
}

Variant Personnel::CountPeople(const Variant& search) {
  return Guarded([&] {
    const std::string text = SearchText(search, kSearch);
    Connection& db = conn();
    const VariantArray row = Query(
        db,
        "Select count(*) from HR_person" + PeopleCondition(db.dialect(), text),
        CursorType::kForwardOnly, ReadFirstRecord);
    return Variant::Long(row.undimensioned() ? 0 : row(0).ToLong());
  });
}

VariantArray Personnel::GetPersonByAccount(const Variant& account) {
  return Guarded([&] {
    const std::string text = SearchText(account, "An account");
    Statement s;
    s.Text(kPeople)
        .Text(" where personAccount='")
        .Quoted(Variant::String(text))
        .Text("'");
    return Query(conn(), s.Finish(), CursorType::kForwardOnly, ReadFirstRecord);
  });
}

}  // namespace wrenhaven
