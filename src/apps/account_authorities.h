// The account-authority descriptors the user list resolves accounts with:
// "NT", "NDS" and an empty one. They are built when the library is loaded
// and destroyed when it is unloaded.
#ifndef FEROQ_APPS_ACCOUNT_AUTHORITIES_H_
#define FEROQ_APPS_ACCOUNT_AUTHORITIES_H_

#include "feroq/services/user_service.h"

namespace feroq {

const UM_AcctAuthType& NtAuthority();
const UM_AcctAuthType& NdsAuthority();
const UM_AcctAuthType& EmptyAuthority();

}  // namespace feroq

#endif  // FEROQ_APPS_ACCOUNT_AUTHORITIES_H_
