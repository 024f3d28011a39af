// FarmObject::WaitForEvent: one event from the event service turned into its
// mask bit and the objects it is about, with the bookkeeping that keeps the
// library's view of the farm true after the change (detached folders, child
// counts, an application's cached parent).
//
// Every object handed to the caller carries one reference for it. References
// taken only for the mapping's own use are given back before returning, and
// on a failure so is every object already made. The event record is released
// with VORNFree_RPC_Mem exactly once, whatever happens.
#include <new>

#include "events/event_table.h"
#include "farm/holders.h"
#include "feroq/app_folder_object.h"
#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"

namespace {

// Record layout (packed, little-endian): offset 2 the object's identifier;
// for moves offset 10 the old folder and offset 18 the new one; for a rename
// offset 10 the name sent with the event.
constexpr std::size_t kObjectOffset = 2;
constexpr std::size_t kOldParentOffset = 10;
constexpr std::size_t kNewParentOffset = 18;
constexpr std::size_t kNameOffset = 10;

ULONG64 ReadU64(const void* record, std::size_t offset) {
  const auto* bytes = static_cast<const BYTE*>(record) + offset;
  ULONG64 value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// Mask bits 0x10 and 0x20: the folder from the registry (mode 0, or the
// detaching form, mode 1). The outputs are written even when that fails.
HRESULT MapFolderEvent(FarmObject& farm, ULONG64 id, int mode, CommonObject** object,
                       CommonObject** second) {
  AppFolderObject* folder = nullptr;
  const HRESULT result = farm.CreateAppFolderObject(id, &folder, mode);
  *object = folder;
  *second = nullptr;
  return result;
}

// Mask bit 0x40: the folder's registered object and a detached object
// carrying the name sent with the event (the name before the rename).
HRESULT MapRename(FarmObject& farm, ULONG64 id, char16_t* sent_name, CommonObject** object,
                  CommonObject** second) {
  feroq::ObjectRef<AppFolderObject> folder(&farm);
  if (HRESULT result = farm.CreateAppFolderObject(id, &folder.out(), 0); result != S_OK) return result;
  AppFolderObject* detached = new (std::nothrow) AppFolderObject(id, sent_name);
  if (detached == nullptr) return E_OUTOFMEMORY;
  *object = folder.release();
  *second = detached;
  return S_OK;
}

// Mask bits 0x100, 0x200 and 0x400: the application's registered object.
// The outputs are written even when that fails.
HRESULT MapApplicationEvent(FarmObject& farm, ULONG64 id, CommonObject** object,
                            CommonObject** second) {
  ZQWinAppObject* app = nullptr;
  const HRESULT result = farm.CreateWinAppFromID(id, &app);
  *object = app;
  *second = nullptr;
  return result;
}

// Mask bits 0x80 (a folder) and 0x800 (an application): object `id` moved
// from folder `old_id` to folder `new_id`. Hands out the moved object and
// the old parent's object.
HRESULT MapMove(FarmObject& farm, bool application, ULONG64 id, ULONG64 old_id, ULONG64 new_id,
                CommonObject** object, CommonObject** second) {
  feroq::ObjectRef<ZQWinAppObject> app(&farm);
  feroq::ObjectRef<AppFolderObject> folder(&farm);
  HRESULT result = application ? farm.CreateWinAppFromID(id, &app.out())
                               : farm.CreateAppFolderObject(id, &folder.out(), 0);
  if (result != S_OK) return result;
  feroq::ObjectRef<AppFolderObject> new_parent(&farm);
  if (result = farm.CreateAppFolderObject(new_id, &new_parent.out(), 0); result != S_OK) return result;
  feroq::ObjectRef<AppFolderObject> old_parent(&farm);
  if (result = farm.CreateAppFolderObject(old_id, &old_parent.out(), 0); result != S_OK) return result;

  // A folder's parent comes from the folder service with a reference of our
  // own; an application's is its cached parent, which stays the cache's.
  FolderObject* current = nullptr;
  feroq::ObjectRef<FolderObject> own_current(&farm);
  if (application) {
    result = app->GetParentFolder(&current);
  } else {
    result = folder->GetParentFolder(&own_current.out());
    current = own_current.get();
  }
  if (result != S_OK) return result;

  if (current == old_parent.get()) {
    // The library still sees the object in its old folder: move it there
    // too (an application's record and cached parent; a folder in the farm,
    // should the folder service still report the old parent).
    result = application ? app->SetParentFolder(new_parent.get()) : folder->SetParentFolder(new_parent.get());
  } else {
    if (old_parent->GetChildCount() > 0) old_parent->DecrementChildCount();
    new_parent->IncrementChildCount();
    result = S_OK;
  }
  // A move the library could not follow hands out nothing (the holders give
  // back what was made).
  if (result != S_OK) return result;
  *object = application ? static_cast<CommonObject*>(app.release()) : folder.release();
  *second = old_parent.release();
  return result;
}

}  // namespace

HRESULT FarmObject::WaitForEvent(LONG queue, LONG timeout, LONG* event_type, CommonObject** object,
                                 CommonObject** second) {
  if (queue == 0 || event_type == nullptr || object == nullptr || second == nullptr) {
    return E_INVALIDARG;
  }
  ULONG unused_a = 0;
  ULONG event_id = 0;
  ULONG unused_b = 0;
  feroq::RpcBlock<void> held_record;
  const VSTATUS status =
      VORN_WaitGenericVORNEventQueue(queue, timeout, unused_a, event_id, unused_b, held_record.out());
  void* const record = held_record.get();

  HRESULT result;
  if (status != feroq::VORN_OK || record == nullptr) {
    // A timeout, any other failure, or an event without a record: nothing
    // to map, nothing written.
    result = E_FAIL;
  } else {
    const ULONG mask = feroq::events::EventIdToMask(static_cast<USHORT>(event_id & 0xFFFFu));
    *event_type = static_cast<LONG>(mask);
    const ULONG64 id = ReadU64(record, kObjectOffset);
    switch (mask) {
      case feroq::events::kFolderCreatedMask:
        result = MapFolderEvent(*this, id, 0, object, second);
        break;
      case feroq::events::kFolderDeletedMask:
        result = MapFolderEvent(*this, id, 1, object, second);
        break;
      case feroq::events::kFolderRenamedMask:
        result = MapRename(*this, id, reinterpret_cast<char16_t*>(static_cast<BYTE*>(record) + kNameOffset),
                           object, second);
        break;
      case feroq::events::kFolderMovedMask:
      case feroq::events::kAppMovedMask:
        result = MapMove(*this, mask == feroq::events::kAppMovedMask, id,
                         ReadU64(record, kOldParentOffset), ReadU64(record, kNewParentOffset), object,
                         second);
        break;
      case feroq::events::kAppPublishedMask:
      case feroq::events::kAppDeletedMask:
      case feroq::events::kAppChangedMask:
        result = MapApplicationEvent(*this, id, object, second);
        break;
      default:
        result = E_NOTIMPL;  // an identifier outside the table
        break;
    }
  }
  return result;
}
