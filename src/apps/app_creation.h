// Publishing into a folder the caller already holds.
#ifndef FEROQ_APPS_APP_CREATION_H_
#define FEROQ_APPS_APP_CREATION_H_

#include "feroq/app_data.h"
#include "feroq/common_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"

namespace feroq {

// FarmObject::CreateZQWinApp with the parent folder given as an object:
// `data->parentFolder` is not read and `folder` is published into, so that
// publishing many applications does not look the folder up by name each
// time. `folder` keeps the caller's reference; the new object takes one of
// its own. Results and cleanup as CreateZQWinApp's; a null `folder`, or an
// object that is not a folder, gives ZQ_CREATE_E_PARENT_NOT_FOUND.
HRESULT CreateZQWinAppInFolder(FarmObject* farm, _ZQWinAppData* data, FolderObject* folder, ZQWinAppObject** app);

}  // namespace feroq

#endif  // FEROQ_APPS_APP_CREATION_H_
