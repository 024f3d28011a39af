// Resolution of a tool's account record to the directory name that an
// application record lists, shared by the user list and by publishing.
#ifndef FEROQ_APPS_APP_USERS_H_
#define FEROQ_APPS_APP_USERS_H_

#include "feroq/app_records.h"
#include "feroq/farm_object.h"
#include "feroq/services/vorn_system.h"

namespace feroq {

// Writes the directory name of the Windows domain account `user` describes
// into `dn`, through the farm's user service (authority type "NT", instance
// the domain). Checks, in order:
// - E_UNEXPECTED when the farm has no user service;
// - E_INVALIDARG for an authority kind other than 0, an account kind other
//   than 0, 1 or 2, or a null or empty account name or domain;
// then E_OUTOFMEMORY when the authority record cannot be made or the service
// reports 0x80000002, E_FAIL for any other service failure, else S_OK.
// `user` must be valid. `dn` is written only by the user service.
HRESULT ResolveAccountToDN(FarmObject* farm, const _UserAccountInfo* user, VORNString& dn);

}  // namespace feroq

#endif  // FEROQ_APPS_APP_USERS_H_
