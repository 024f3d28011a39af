// VORNCommonApplicationSAL: the tree of application folders.
//
// Farm rules it enforces (each refusal leaves the farm unchanged and records
// its precise cause, a FARM_E_* code, in the thread's last service failure):
// - An identifier that names no folder (or no application, for
//   MoveApplication) answers VORN_E_FAILURE (0x80000001).
// - Names (NameRuleBroken): not empty, at most 259 units, no backslash,
//   slash or control character, not "." or "..". A folder's name is unique
//   among the children of its parent, folders and applications together,
//   compared without regard to case; renaming a folder to its own name in
//   another case is allowed. CreateFolder and RenameFolder answer 0x80160006
//   for a name the rules refuse; the root folder cannot be renamed (also
//   0x80160006).
// - DeleteFolder answers 0x8016000C for the root folder and for a folder that
//   holds folders or applications.
// - MoveFolder answers 0x80160004 for the root folder, when `from` is not the
//   folder's parent, when `to` is the folder itself or lies below it, and when
//   `to` holds a folder or application with the same name. A move to the
//   current parent changes nothing and succeeds.
// - MoveApplication answers 0x80160004 when `from` is not the application's
//   folder and when `to` holds a folder or application with its name.
// Blocks handed out (names, child lists) come from the platform heap and are
// released with FreeMemory; a failed allocation answers 0x80000002.
// Every change appends its event to the farm's change log in the same
// transaction (event_service.h).
#include <cstring>
#include <set>

#include "feroq/services/directory_services.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/service_failure.h"
#include "services/service_support.h"

namespace {

using feroq::FARM_E_FOLDER_NOT_EMPTY;
using feroq::FARM_E_MOVE_BELOW_ITSELF;
using feroq::FARM_E_NAME_TAKEN;
using feroq::FARM_E_NOT_THE_PARENT;
using feroq::FARM_E_ROOT_DELETE;
using feroq::FARM_E_ROOT_MOVE;
using feroq::FARM_E_ROOT_RENAME;
using feroq::FOLDER_E_DELETE_REFUSED;
using feroq::FOLDER_E_MOVE_REFUSED;
using feroq::FOLDER_E_RENAME_REFUSED;
using feroq::VORN_E_FAILURE;
using feroq::VORN_OK;
using feroq::kObjectKindFolder;

using feroq::services::CreationSerialOf;
using feroq::services::EnterServiceCall;
using feroq::services::NameRuleBroken;
using feroq::services::ReadFarm;
using feroq::services::Refuse;
using feroq::services::ToText;
using feroq::services::WriteFarm;
using feroq::store::FarmTxn;
using feroq::store::FarmView;
using feroq::store::FolderRecord;

// The cause (a FARM_E_* code) that refuses `name` for a child of `parent`
// other than `self`, or 0 when the name may be used there.
VSTATUS NameRefusedIn(const FarmView& farm, ULONG64 parent, const std::u16string& name, ULONG64 self) {
  if (VSTATUS broken = NameRuleBroken(name)) return broken;
  if (farm.FindChildByName(parent, name, self)) return FARM_E_NAME_TAKEN;
  return VORN_OK;
}

// Whether `candidate` is `folder` or lies below it.
bool IsSameOrBelow(const FarmView& farm, ULONG64 candidate, ULONG64 folder) {
  std::set<ULONG64> seen;  // stops the walk should the tree hold a cycle
  ULONG64 current = candidate;
  while (current != 0 && seen.insert(current).second) {
    if (current == folder) return true;
    std::optional<FolderRecord> record = farm.GetFolder(current);
    if (!record) return false;
    current = record->parent_id;
  }
  return false;
}

}  // namespace

VORNCommonApplicationSAL::VORNCommonApplicationSAL(VORN_PIF_ISubSystem* subsystem)
    : VORN_PIF_SAL(subsystem) {}

VORNCommonApplicationSAL::~VORNCommonApplicationSAL() = default;

VSTATUS VORNCommonApplicationSAL::GetRootFolderID(ULONG64& root) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::GetRootFolderID")) return s;
  return ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    const ULONG64 id = farm.RootFolderId();
    if (id == 0) return feroq::VORN_E_FAILURE;
    root = id;
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::GetFolderParent(ULONG64 folder, ULONG64& parent) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::GetFolderParent")) return s;
  return ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    std::optional<FolderRecord> record = farm.GetFolder(folder);
    if (!record) return feroq::VORN_E_FAILURE;
    parent = record->parent_id;
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::GetFolderName(ULONG64 folder, char16_t** name) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::GetFolderName")) return s;
  if (name == nullptr) return feroq::VORN_E_INVALIDVALUE;
  std::u16string text;
  VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    std::optional<FolderRecord> record = farm.GetFolder(folder);
    if (!record) return feroq::VORN_E_FAILURE;
    text = std::move(record->name);
    return feroq::VORN_OK;
  });
  if (status != feroq::VORN_OK) return status;
  auto* block = static_cast<char16_t*>(feroq::platform::HeapAllocZero((text.size() + 1) * sizeof(char16_t)));
  if (block == nullptr) return feroq::VORN_E_OUTOFMEMORY;
  std::memcpy(block, text.data(), text.size() * sizeof(char16_t));
  *name = block;
  return feroq::VORN_OK;
}

VSTATUS VORNCommonApplicationSAL::RenameFolder(ULONG64 folder, char16_t* name) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::RenameFolder")) return s;
  return WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    std::optional<FolderRecord> record = farm.GetFolder(folder);
    if (!record) return feroq::VORN_E_FAILURE;
    const std::u16string new_name = ToText(name);
    if (record->parent_id == 0) return Refuse(FOLDER_E_RENAME_REFUSED, FARM_E_ROOT_RENAME, "name");
    if (VSTATUS cause = NameRefusedIn(farm, record->parent_id, new_name, folder)) {
      return Refuse(FOLDER_E_RENAME_REFUSED, cause, "name");
    }
    if (record->name == new_name) return VORN_OK;
    const std::u16string old_name = std::move(record->name);
    record->name = new_name;
    farm.PutFolder(*record);
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventFolderRenamed,
                                     feroq::services::RenameEventRecord(folder, old_name));
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::CreateFolder(ULONG64 parent, char16_t* name, ULONG64& created) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::CreateFolder")) return s;
  ULONG64 new_id = 0;
  VSTATUS status = WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    if (!farm.GetFolder(parent)) return feroq::VORN_E_FAILURE;
    const std::u16string new_name = ToText(name);
    if (VSTATUS cause = NameRefusedIn(farm, parent, new_name, 0)) {
      return Refuse(FOLDER_E_RENAME_REFUSED, cause, "name");
    }
    new_id = farm.AllocateId(kObjectKindFolder);
    farm.PutFolder(FolderRecord{new_id, parent, new_name, CreationSerialOf(new_id)});
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventFolderCreated,
                                     feroq::services::ObjectEventRecord(new_id));
    return feroq::VORN_OK;
  });
  if (status == feroq::VORN_OK) created = new_id;
  return status;
}

VSTATUS VORNCommonApplicationSAL::DeleteFolder(ULONG64 folder) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::DeleteFolder")) return s;
  return WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    std::optional<FolderRecord> record = farm.GetFolder(folder);
    if (!record) return VORN_E_FAILURE;
    if (record->parent_id == 0) return Refuse(FOLDER_E_DELETE_REFUSED, FARM_E_ROOT_DELETE);
    if (!farm.ChildFolderIds(folder).empty() || !farm.ApplicationIds(folder).empty()) {
      return Refuse(FOLDER_E_DELETE_REFUSED, FARM_E_FOLDER_NOT_EMPTY);
    }
    // The entry goes first, so that it keeps the name the folder had.
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventFolderDeleted,
                                     feroq::services::ObjectEventRecord(folder));
    farm.DeleteFolder(folder);
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::EnumerateFolder(ULONG64 folder, ULONG64** children, ULONG& count) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::EnumerateFolder")) return s;
  if (children == nullptr) return feroq::VORN_E_INVALIDVALUE;
  std::vector<ULONG64> ids;
  VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    if (!farm.GetFolder(folder)) return feroq::VORN_E_FAILURE;
    ids = farm.ChildFolderIds(folder);
    std::vector<ULONG64> apps = farm.ApplicationIds(folder);
    ids.insert(ids.end(), apps.begin(), apps.end());
    return feroq::VORN_OK;
  });
  if (status != feroq::VORN_OK) return status;
  ULONG64* block = nullptr;
  if (!ids.empty()) {
    block = static_cast<ULONG64*>(feroq::platform::HeapAllocZero(ids.size() * sizeof(ULONG64)));
    if (block == nullptr) return feroq::VORN_E_OUTOFMEMORY;
    std::memcpy(block, ids.data(), ids.size() * sizeof(ULONG64));
  }
  *children = block;
  count = static_cast<ULONG>(ids.size());
  return feroq::VORN_OK;
}

VSTATUS feroq::FindChildrenByName(VORN_PIF_ISubSystem* subsystem, ULONG64 folder, const char16_t* name,
                                  std::vector<ULONG64>* ids, std::size_t* count) {
  if (VSTATUS s = EnterServiceCall("feroq::FindChildrenByName")) return s;
  if (name == nullptr || ids == nullptr) return feroq::VORN_E_INVALIDVALUE;
  try {
    const std::u16string text(name);
    std::vector<ULONG64> named;
    std::size_t children = 0;
    VSTATUS status = ReadFarm(subsystem, [&](const FarmView& farm) -> VSTATUS {
      if (!farm.GetFolder(folder)) return VORN_E_FAILURE;
      named = farm.ChildrenNamed(folder, text);
      if (count != nullptr) children = farm.ChildCount(folder);
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
    *ids = std::move(named);
    if (count != nullptr) *count = children;
    return VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS VORNCommonApplicationSAL::MoveFolder(ULONG64 folder, ULONG64 from, ULONG64 to) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::MoveFolder")) return s;
  return WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    std::optional<FolderRecord> record = farm.GetFolder(folder);
    if (!record) return VORN_E_FAILURE;
    if (record->parent_id == 0) return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_ROOT_MOVE);
    if (record->parent_id != from) return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_NOT_THE_PARENT);
    if (!farm.GetFolder(to)) return VORN_E_FAILURE;
    if (to == from) return VORN_OK;
    if (IsSameOrBelow(farm, to, folder)) return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_MOVE_BELOW_ITSELF);
    if (farm.FindChildByName(to, record->name, folder)) {
      return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_NAME_TAKEN, "name");
    }
    record->parent_id = to;
    farm.PutFolder(*record);
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventFolderMoved,
                                     feroq::services::MoveEventRecord(folder, from, to));
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::MoveApplication(ULONG64 application, ULONG64 from, ULONG64 to) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::MoveApplication")) return s;
  return WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    std::optional<ULONG64> current = farm.ApplicationFolder(application);
    if (!current) return VORN_E_FAILURE;
    if (*current != from) return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_NOT_THE_PARENT);
    if (!farm.GetFolder(to)) return VORN_E_FAILURE;
    if (to == from) return VORN_OK;
    std::optional<feroq::store::ApplicationRecord> record = farm.GetApplication(application);
    if (farm.FindChildByName(to, record->data.friendly_name, application)) {
      return Refuse(FOLDER_E_MOVE_REFUSED, FARM_E_NAME_TAKEN, "FriendlyName");
    }
    record->folder_id = to;
    farm.PutApplication(*record);
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventApplicationMoved,
                                     feroq::services::MoveEventRecord(application, from, to));
    return feroq::VORN_OK;
  });
}

VSTATUS VORNCommonApplicationSAL::FreeMemory(unsigned char* block) {
  if (VSTATUS s = EnterServiceCall("VORNCommonApplicationSAL::FreeMemory")) return s;
  feroq::platform::HeapFree(block);
  return feroq::VORN_OK;
}
