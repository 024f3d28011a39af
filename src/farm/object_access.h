// The library's own view of the objects it hands out: what an application
// object wraps (its record, its farm, its cached parent folder) and the size
// of a folder object's name cache. The public classes keep these private.
#ifndef FEROQ_FARM_OBJECT_ACCESS_H_
#define FEROQ_FARM_OBJECT_ACCESS_H_

#include "feroq/app_folder_object.h"
#include "feroq/zqwinapp_object.h"

namespace feroq {

class ObjectAccess {
 public:
  // Null after a successful Delete.
  static ZQApp* Record(const ZQWinAppObject& app) { return app.record_; }
  // Gives `app`, made without a record, a blank one to be made at `place`
  // (apps/app_block.h) when it is first reached.
  static void MakeRecordWhenReached(ZQWinAppObject& app, void* place) {
    app.record_ = ZQWinAppObject::RecordRef::MadeWhenReached(place);
  }
  static FarmObject* Farm(const ZQWinAppObject& app) { return app.farm_; }
  // The parent folder the object holds a reference on; null when none is
  // cached yet.
  static AppFolderObject* CachedParent(const ZQWinAppObject& app) { return app.parent_; }
  // Capacity in bytes of the folder's cached name buffer (0 when none).
  static ULONG CachedNameCapacity(const AppFolderObject& folder) { return folder.cached_name_capacity_; }
};

}  // namespace feroq

#endif  // FEROQ_FARM_OBJECT_ACCESS_H_
