// Finding objects by distinguished name: the walk down the folder tree
// (GetObjectByDN) and the comparison with every application's name
// (GetAppByDN).
#include <algorithm>
#include <string_view>
#include <vector>

#include "farm/holders.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_base.h"
#include "feroq/zqwinapp_object.h"

namespace {

using feroq::FarmBlock;
using feroq::ObjectArray;
using feroq::ObjectRef;
using Text = std::u16string_view;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

_FarmObjectType TypeOf(CommonObject* object) {
  _FarmObjectType type;
  object->GetObjectType(&type);
  return type;
}

// The components of a name: the runs between separators. A leading
// separator's empty component is skipped, and so is the one after a
// trailing separator; an empty component between two separators stays (and
// matches nothing).
class Components {
 public:
  // Copies `dn` into a work buffer on the heap, cut at every separator;
  // false when the buffer cannot be allocated.
  bool Split(const char16_t* dn) {
    const std::size_t length = Text(dn).size();
    work_.reset(static_cast<char16_t*>(feroq::platform::HeapAllocZero(length * 2 + 2)));
    if (!work_) return false;
    std::replace_copy_if(dn, dn + length, work_.get(), IsSeparator, char16_t{0});
    next_ = IsSeparator(dn[0]) ? 1 : 0;
    limit_ = (IsSeparator(dn[length - 1]) && length - 1 >= next_) ? length - 1 : length;
    more_ = next_ < limit_;
    return true;
  }
  // The next component, or null after the last.
  const char16_t* Next() {
    if (!more_) return nullptr;
    const char16_t* component = work_.get() + next_;
    next_ += Text(component).size() + 1;  // a component ends at or before the limit
    more_ = next_ <= limit_;
    return component;
  }

 private:
  FarmBlock<char16_t> work_;
  std::size_t next_ = 0;
  std::size_t limit_ = 0;
  bool more_ = false;
};

// The child of `parent` named `component`, with a reference for the caller,
// or null. The children are examined as an enumeration of the parent lists
// them, and of two with the same name the later one wins; the children
// whose names could match (equal without regard to case) are found through
// the farm's name index, and only they are made, loaded and named. Making,
// loading or naming one of them that fails ends the search with nothing
// found. The parent's child count rises by its number of children, as an
// enumeration of them raises it, where that count outlives the walk: when
// `walk_holds_only` is false or something besides the walk holds the parent
// (a count on an object the walk alone holds goes with it, so it is not
// counted there: counting reads every child's index entry).
CommonObject* FindChildByName(FarmObject* farm, FolderObject* parent, const char16_t* component,
                              bool walk_holds_only) {
  if (component == nullptr || component[0] == 0) return nullptr;
  ULONG64 parent_id = 0;
  parent->GetObjectID(parent_id);
  const bool counted = !walk_holds_only || parent->GetRefCount() > 1;
  std::vector<ULONG64> named;
  std::size_t children = 0;
  if (feroq::FindChildrenByName(VornRemoteAccess, parent_id, component, &named, counted ? &children : nullptr) !=
      feroq::VORN_OK) {
    return nullptr;
  }
  for (std::size_t i = 0; i < children; ++i) parent->IncrementChildCount();

  ObjectRef<> match(farm);
  for (ULONG64 id : named) {
    ObjectRef<> child(farm);
    if (feroq::ObjectKindOf(id) == feroq::kObjectKindFolder) {
      AppFolderObject* folder = nullptr;
      if (farm->CreateAppFolderObject(id, &folder, 0) != S_OK) return nullptr;
      child.reset(folder);
    } else if (feroq::ObjectKindOf(id) == feroq::kObjectKindApplication) {
      ZQWinAppObject* app = nullptr;
      if (farm->CreateWinAppFromID(id, &app) != S_OK) return nullptr;
      child.reset(app);
      if (app->Load() != S_OK) return nullptr;
    } else {
      continue;
    }
    FarmBlock<char16_t> name;
    if (child->GetObjectName(&name.out()) != S_OK) return nullptr;
    if (name && name.get()[0] != 0 && Text(name.get()) == component) match = std::move(child);
  }
  return match.release();
}

// The walk of GetObjectByDN (which see), for a name that is not empty.
HRESULT LookUp(FarmObject* farm, FolderObject* start, char16_t* dn, CommonObject** object) {
  // `current` is the folder the walk stands in; `walk` holds the walk's own
  // reference on it when it has one (the caller's start folder is never
  // released here).
  FolderObject* current = start;
  ObjectRef<FolderObject> walk(farm);
  if (IsSeparator(dn[0]) || start == nullptr) {
    if (HRESULT result = farm->GetRootFolder(FarmObjectAppFolder, &walk.out()); result != S_OK) return result;
    current = walk.get();
  }
  Components components;
  if (!components.Split(dn)) return E_OUTOFMEMORY;

  // What was found last: the folder `walk` holds, or an application in `leaf`.
  bool found_folder = false;
  ObjectRef<> leaf(farm);
  const char16_t* component = components.Next();
  // The fixed text, not the root folder's name as the service has it.
  if (component != nullptr && Text(component) == u"Applications") {
    ObjectRef<FolderObject> root(farm);
    if (HRESULT result = farm->GetRootFolder(FarmObjectAppFolder, &root.out()); result != S_OK) return result;
    walk = std::move(root);
    current = walk.get();
    found_folder = true;
    component = components.Next();
  }
  while (component != nullptr) {
    ObjectRef<> child(farm, FindChildByName(farm, current, component, walk && current == walk.get()));
    if (!child) return S_FALSE;
    component = components.Next();
    if (TypeOf(child.get()) != FarmObjectAppFolder) {
      if (component != nullptr) return E_INVALIDARG;  // an application has no children
      leaf = std::move(child);
      break;
    }
    walk.reset(static_cast<FolderObject*>(child.release()));
    current = walk.get();
    found_folder = true;
  }
  // The found object's reference becomes the caller's.
  *object = leaf ? leaf.release() : found_folder ? walk.release() : nullptr;
  return S_OK;
}

}  // namespace

// Every service call of the walk reads one snapshot of the farm, in one read
// transaction: the folder service's child lists and each child's record.
// Where that transaction cannot run to its end, the walk runs again with
// each call reading on its own, meeting its own failures.
HRESULT FarmObject::GetObjectByDN(FolderObject* start, char16_t* dn, CommonObject** object) {
  if (dn == nullptr || dn[0] == 0) return E_INVALIDARG;
  HRESULT result = E_FAIL;
  bool finished = false;
  // The services of a farm object read the farm of the remote access (a
  // transaction on another farm would simply not be joined).
  feroq::RunInOneReadTransaction(VornRemoteAccess, [&]() -> VSTATUS {
    result = LookUp(this, start, dn, object);
    finished = true;
    return feroq::VORN_OK;
  });
  return finished ? result : LookUp(this, start, dn, object);
}

HRESULT FarmObject::GetAppByDN(char16_t* dn, ZQWinAppObject** app) {
  *app = nullptr;
  ObjectArray apps(this);
  ULONG count = 0;
  if (HRESULT result = EnumerateApps(&apps.out(), &count); FAILED(result)) return result;
  apps.set_count(count);

  ObjectRef<ZQWinAppObject> match(this);
  for (std::size_t i = 0; i < apps.count(); ++i) {
    auto* candidate = static_cast<ZQWinAppObject*>(apps[i]);
    FarmBlock<char16_t> name;
    HRESULT step = candidate->Load();
    if (step == S_OK) step = candidate->GetDistinguishedName(&name.out());
    if (step != S_OK) return step;
    if (dn != nullptr && Text(name.get()) == dn) {
      match.reset(static_cast<ZQWinAppObject*>(apps.Take(i)));
    } else {
      apps.ReleaseAt(i);
    }
  }
  if (!match) return E_INVALIDARG;
  *app = match.release();
  return S_OK;
}
