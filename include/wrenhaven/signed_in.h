// What a page host reads about a signed-in person besides the values the
// sign-in put in the session: the login record the sign-in wrote, and the
// person's roles again when they may have changed.
#ifndef WRENHAVEN_SIGNED_IN_H_
#define WRENHAVEN_SIGNED_IN_H_

#include <cstdint>
#include <string>

#include "wrenhaven/connection.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

struct SignInRecord {
  int64_t login_id = 0;  // HR_Login.LoginID
  std::string account;   // HR_person.personAccount
};

// The successful login record of `person_id` that the last insert on
// `conn` wrote: call it on the connection the sign-in used, right after
// it. Raises kInvalidArgument for a person that is no number (before any
// statement), kDatabase when there is no such record.
SignInRecord FindSignInRecord(Connection& conn, const Variant& person_id);

// The person's roles in the form the sign-in puts them in "Role" and
// "RoleID": Empty for none, the value itself for one, the comma-joined
// texts for more, in the order of RoleID. Raises kInvalidArgument for a
// person that is no number, before any statement.
struct RoleValues {
  Variant names;
  Variant ids;
};
RoleValues ReadRoleValues(Connection& conn, const Variant& person_id);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SIGNED_IN_H_
