// Typed access to a farm object's services (the farm object hands them out
// untyped). A null farm has no services.
#ifndef FEROQ_FARM_SERVICE_ACCESS_H_
#define FEROQ_FARM_SERVICE_ACCESS_H_

#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/services/user_service.h"
#include "feroq/services/zqapp.h"

namespace feroq {

inline VORNCommonApplicationSAL* FolderServiceOf(FarmObject* farm) {
  return farm == nullptr ? nullptr : static_cast<VORNCommonApplicationSAL*>(farm->GetAppFolderSAL());
}
inline ZQAppSAL* AppStoreOf(FarmObject* farm) {
  return farm == nullptr ? nullptr : static_cast<ZQAppSAL*>(farm->GetZQWinAppSAL());
}
inline VORN_ZQServerSAL* ServerServiceOf(FarmObject* farm) {
  return farm == nullptr ? nullptr : static_cast<VORN_ZQServerSAL*>(farm->GetZQServerSAL());
}
inline VORN_UserMgmt_SAL* UserServiceOf(FarmObject* farm) {
  return farm == nullptr ? nullptr : static_cast<VORN_UserMgmt_SAL*>(farm->GetUserSAL());
}

}  // namespace feroq

#endif  // FEROQ_FARM_SERVICE_ACCESS_H_
