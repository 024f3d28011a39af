// Finding objects by distinguished name: the walk down the folder tree
// (GetObjectByDN) and the comparison with every application's name
// (GetAppByDN).
#include <cstring>

#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

constexpr WCHAR kRootComponent[] = u"Applications";

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

bool Equal(const WCHAR* a, const WCHAR* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

void Release(FarmObject* farm, CommonObject* object) {
  if (object != nullptr) farm->FreeObject(object);
}

// The child of `parent` named `component`, with a reference for the caller,
// or null. Every child is examined; of two with the same name the later one
// wins. The children's enumeration raises the parent's child count.
CommonObject* FindChildByName(FarmObject* farm, FolderObject* parent, const WCHAR* component) {
  if (component == nullptr || component[0] == 0) return nullptr;
  CommonObject** children = nullptr;
  LONG count = 0;
  if (FAILED(parent->EnumerateChildren(&children, &count))) return nullptr;

  CommonObject* match = nullptr;
  LONG examined = 0;
  for (; examined < count; ++examined) {
    CommonObject* child = children[examined];
    _FarmObjectType type;
    child->GetObjectType(&type);
    HRESULT result = S_OK;
    if (type == FarmObjectWinApp) result = static_cast<ZQWinAppObject*>(child)->Load();
    WCHAR* name = nullptr;
    if (result == S_OK) result = child->GetObjectName(&name);
    if (result != S_OK) {
      farm->FreeMemory(name);
      break;  // the search ends with nothing found
    }
    if (name != nullptr && name[0] != 0 && Equal(name, component)) {
      Release(farm, match);
      match = child;
    } else {
      Release(farm, child);
    }
    farm->FreeMemory(name);
  }
  if (examined < count) {
    // Stopped early: release what was not examined and any match held.
    for (LONG i = examined; i < count; ++i) Release(farm, children[i]);
    Release(farm, match);
    match = nullptr;
  }
  farm->FreeMemory(children);
  return match;
}

}  // namespace

HRESULT FarmObject::GetObjectByDN(FolderObject* start, WCHAR* dn, CommonObject** object) {
  if (dn == nullptr || dn[0] == 0) return E_INVALIDARG;
  const bool rooted = IsSeparator(dn[0]);

  // `current` is the folder the walk stands in; `owned` says whether the walk
  // holds a reference of its own on it (the caller's start folder is never
  // released here).
  FolderObject* current = start;
  bool owned = false;
  if (rooted || start == nullptr) {
    HRESULT result = GetRootFolder(FarmObjectAppFolder, &current);
    if (result != S_OK) return result;
    owned = true;
  }

  std::size_t length = 0;
  while (dn[length] != 0) ++length;
  auto* work = static_cast<WCHAR*>(feroq::platform::HeapAllocZero(length * 2 + 2));
  if (work == nullptr) {
    if (owned) Release(this, current);
    return E_OUTOFMEMORY;
  }
  std::memcpy(work, dn, length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    if (IsSeparator(work[i])) work[i] = 0;
  }

  // Components: the runs between separators within [position, limit). A
  // leading separator's empty component is skipped, and so is the one after
  // a trailing separator; an empty component between two separators stays
  // (and matches nothing).
  std::size_t position = rooted ? 1 : 0;
  std::size_t limit = length;
  if (length > 0 && IsSeparator(dn[length - 1]) && length - 1 >= position) limit = length - 1;
  bool exhausted = position >= limit;
  auto next_component = [&](const WCHAR** component) {
    if (exhausted) return false;
    std::size_t end = position;
    while (end < limit && work[end] != 0) ++end;
    *component = work + position;
    work[end] = 0;  // `end` is below the buffer's NUL slot
    if (end >= limit) {
      exhausted = true;
    } else {
      position = end + 1;
    }
    return true;
  };

  CommonObject* found = nullptr;
  bool found_owned = false;
  HRESULT result = S_OK;
  const WCHAR* component = nullptr;
  bool have = next_component(&component);
  if (have && Equal(component, kRootComponent)) {
    FolderObject* root = nullptr;
    result = GetRootFolder(FarmObjectAppFolder, &root);
    if (result != S_OK) {
      feroq::platform::HeapFree(work);
      if (owned) Release(this, current);
      return result;
    }
    if (owned) Release(this, current);
    current = root;
    owned = true;
    found = root;
    found_owned = false;  // shared with `current`
    have = next_component(&component);
  }

  bool stopped_at_application = false;
  while (have) {
    CommonObject* child = FindChildByName(this, current, component);
    if (child == nullptr) {
      result = S_FALSE;
      break;
    }
    if (found_owned) Release(this, found);
    found = child;
    found_owned = true;
    _FarmObjectType type;
    child->GetObjectType(&type);
    have = next_component(&component);
    if (type != FarmObjectAppFolder) {
      stopped_at_application = true;
      break;
    }
    // Step into the child: the walk's reference moves from `current` to it.
    if (owned) Release(this, current);
    current = static_cast<FolderObject*>(child);
    owned = true;
    found_owned = false;  // shared with `current`
  }
  feroq::platform::HeapFree(work);

  if (result == S_FALSE) {
    if (found_owned) Release(this, found);
    if (owned) Release(this, current);
    return S_FALSE;
  }
  if (stopped_at_application && have) {
    Release(this, found);  // an application has no children
    if (owned) Release(this, current);
    return E_INVALIDARG;
  }
  // The found object keeps one reference for the caller. When it is the
  // folder the walk stands in, the walk's reference becomes the caller's.
  if (found != nullptr && found == current) {
    owned = false;
  }
  if (owned) Release(this, current);
  *object = found;
  return S_OK;
}

HRESULT FarmObject::GetAppByDN(WCHAR* dn, ZQWinAppObject** app) {
  *app = nullptr;
  CommonObject** apps = nullptr;
  ULONG count = 0;
  HRESULT result = EnumerateApps(&apps, &count);
  if (FAILED(result)) return result;

  ZQWinAppObject* match = nullptr;
  for (ULONG i = 0; i < count; ++i) {
    auto* candidate = static_cast<ZQWinAppObject*>(apps[i]);
    WCHAR* name = nullptr;
    HRESULT step = candidate->Load();
    if (step == S_OK) step = candidate->GetDistinguishedName(&name);
    if (step != S_OK) {
      for (ULONG j = i; j < count; ++j) Release(this, apps[j]);
      Release(this, match);
      FreeMemory(apps);
      return step;
    }
    if (dn != nullptr && Equal(name, dn)) {
      Release(this, match);
      match = candidate;
    } else {
      Release(this, candidate);
    }
    FreeMemory(name);
  }
  FreeMemory(apps);
  if (match == nullptr) return E_INVALIDARG;
  *app = match;
  return S_OK;
}
