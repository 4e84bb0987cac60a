// Wrenhaven.AuditTrail: the record of what administrators changed. Every
// change of a menu, a function, a role, a role's grants or a person's roles
// made through the administration pages or `wrenhaven call` leaves one row
// in SYS_Audit: who (PersonID and account), when (the database's clock),
// from which client address, what kind of change ("menu.add",
// "function.update", "role.delete", "grant.update", "person_role.update",
// ...), which identifier, and the values before and after as JSON (null
// where there is nothing: before an add, after a delete).
//
// Audited runs the change and writes its row in one transaction, so a
// change without its row cannot happen and a failed change leaves no row.
// The listing reads the rows newest first, a page at a time, filtered by
// person, kind and time; every filter is checked before any statement is
// sent.
//
// The instance borrows the page's connection (SetConn); the change given
// to Audited must work on the same connection.
#ifndef WRENHAVEN_AUDIT_H_
#define WRENHAVEN_AUDIT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "wrenhaven/class_base.h"
#include "wrenhaven/component.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

// What a change is made to, and the table it reads its values from.
enum class AuditObject {
  kMenu,        // SYS_Menu, by MenuID
  kFunction,    // SYS_Function, by FunID
  kRole,        // SYS_Role, by RoleID
  kGrant,       // SYS_right, a role's granted menus, by RoleID
  kPersonRole,  // SYS_PersonRole, a person's roles, by PersonID
};

enum class AuditAction { kAdd, kUpdate, kDelete };

// "menu.add", "grant.update", "person_role.delete", ...
std::string AuditKind(AuditObject object, AuditAction action);

// Who makes a change: the signed-in person (Empty when nobody is: a
// command run on the server), and the client's address. The account is
// read from HR_person by the row's insert.
struct AuditActor {
  Variant person_id;
  std::string address;
};

// The largest page the listing reads at once, and the size of a page when
// none is asked for.
inline constexpr int32_t kAuditMaxPageSize = 200;
inline constexpr int32_t kAuditDefaultPageSize = 50;

// The listing's filters as they come from outside: each "" when not used.
// `person` is a PersonID; `kind` a kind ("menu.add") or the object's part
// alone ("menu", every change of menus); `from` and `to` are dates
// ("YYYY-MM-DD", every time of that day) or times ("YYYY-MM-DD HH:MM:SS"),
// both ends included.
struct AuditFilter {
  std::string person;
  std::string kind;
  std::string from;
  std::string to;
};

// One of the classes' changes that `wrenhaven call` records: the object,
// the action and which argument names the identifier (-1: none; an add
// learns its identifier from the database).
struct AuditedMethod {
  AuditObject object;
  AuditAction action;
  int id_argument;
};
// The audited change a class method makes, by the class's programmatic
// identifier and the method's name (letter case ignored); nullopt for a
// method that changes nothing that is audited.
std::optional<AuditedMethod> FindAuditedMethod(std::string_view progid,
                                               std::string_view method);

// Slots 1 and 2 are SetConn and GetError of ClassBase
// (wrenhaven/class_base.h).
class AuditTrail : public ClassBase {
 public:
  static const ClassInfo& Info();
  const ClassInfo& class_info() const override { return Info(); }

  // Slot 3. One page of the rows that pass the filters (see AuditFilter;
  // each argument "" or Empty when not used), newest first, row first:
  // (0 To K-1, 0 To 8) holding AuditID, AuditTime, PersonID,
  // PersonAccount, ClientIP, AuditKind, AuditTarget, BeforeValue,
  // AfterValue. Page from 1; a page size above kAuditMaxPageSize reads
  // kAuditMaxPageSize rows. An undimensioned array past the last row. A
  // filter, page or page size that is not what it should be raises
  // kInvalidArgument before any statement is sent.
  VariantArray GetPage(const Variant& person, const Variant& kind,
                       const Variant& from, const Variant& to,
                       const Variant& page, const Variant& page_size);
  // Slot 4. How many rows pass the filters, as a Long.
  Variant GetCount(const Variant& person, const Variant& kind,
                   const Variant& from, const Variant& to);

  // Not slots. The same in C++: `offset` rows skipped, at most `rows`
  // (1 to kAuditMaxPageSize) read.
  VariantArray Rows(const AuditFilter& filter, int64_t offset, int32_t rows);
  int64_t Count(const AuditFilter& filter);

  // Runs `change` and writes its row, in one transaction on the kept
  // connection: the values of `id` before, the change, the values after,
  // the row. For an add, `id` is ignored and the identifier is the one the
  // database gave the new row. An `id` that is no whole number records no
  // values before (the change itself refuses it). Raises what the change
  // or the database raised; then neither the change nor the row is kept.
  void Audited(AuditObject object, AuditAction action, const Variant& id,
               const AuditActor& actor, const std::function<void()>& change);
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_AUDIT_H_
