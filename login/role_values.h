// The role lists of a signed-in session ("Role", "RoleID"), as the sign-in
// puts them and as a host puts them again when the roles change.
#ifndef WRENHAVEN_LOGIN_ROLE_VALUES_H_
#define WRENHAVEN_LOGIN_ROLE_VALUES_H_

#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven {

// The values themselves for a single role, Empty for none, otherwise their
// texts joined by commas, one entry per role so that the n-th name belongs
// to the n-th identifier.
Variant JoinRoleValues(const std::vector<Variant>& values);

}  // namespace wrenhaven

#endif  // WRENHAVEN_LOGIN_ROLE_VALUES_H_
