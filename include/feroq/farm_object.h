// FarmObject: the root of the object model and the only object a tool
// constructs itself.
//
// The default constructor connects to the farm (see the README for how the
// farm is chosen), reads its name, creates the four services and the object
// registry. Every application and folder object it hands out carries one
// reference for the caller, given back with FreeObject; every memory block it
// hands out comes from its heap and is given back with FreeMemory. A tool
// releases every object before it destroys the farm object.
//
// Not thread-safe: calls that create, hand out or release objects of one farm
// object must not run on two threads at once.
#ifndef FEROQ_FARM_OBJECT_H_
#define FEROQ_FARM_OBJECT_H_

#include "feroq/common_object.h"
#include "feroq/types.h"

class AppFolderObject;
class ZQWinAppObject;
class ZQAppSAL;
class VORN_ZQServerSAL;
class VORN_UserMgmt_SAL;
class VORNCommonApplicationSAL;
struct _ZQWinAppData;

namespace feroq {
struct ObjectIdMap;
}

class FEROQ_API FarmObject {
 public:
  // Connects to the farm. If a service or the registry cannot be created the
  // object is half-built: its operations answer E_UNEXPECTED.
  FarmObject();
  // Builds an inert object (no name, services, registry or heap); the
  // argument is not used.
  explicit FarmObject(WCHAR* farm_name);
  FarmObject(const FarmObject&) = delete;
  // Copies every field, pointers included: afterwards both objects share the
  // name, services, registry and root folder, and only one may be destroyed.
  FarmObject& operator=(const FarmObject& other);
  ~FarmObject();

  // Writes 1; S_OK.
  HRESULT GetVersion(LONG* version);
  // A new copy of the farm name (release with FreeMemory). E_INVALIDARG for a
  // null pointer, E_UNEXPECTED without a name, E_OUTOFMEMORY.
  HRESULT GetFarmName(WCHAR** name);
  // The application store's highest known record version.
  HRESULT GetAppSubsysVersion(LONG* version);
  // Releases a block this object handed out; null is accepted. S_OK.
  HRESULT FreeMemory(void* block);

  // The fields as they are: no check, no reference taken.
  void* GetZQWinAppSAL();
  void* GetZQServerSAL();
  void* GetUserSAL();
  void* GetAppFolderSAL();
  void* GetObjectIDMap();
  void* GetHeap();

  // ---- Registry ----
  // The registered application object for `id` with one more reference, or a
  // new one (count 1, registered, record not yet loaded).
  HRESULT CreateWinAppFromID(ULONG64& id, ZQWinAppObject** app);
  // Mode 0: the registered folder object with one more reference, or a new
  // registered one. Mode 1 detaches a registered folder (used for deleted
  // folders). Any other mode never registers.
  HRESULT CreateAppFolderObject(ULONG64& id, AppFolderObject** folder, int mode);
  // Gives back one reference; at count 0 unregisters and destroys the object
  // and sets `object` to null. E_UNEXPECTED for an object of unknown type.
  HRESULT FreeObject(CommonObject*& object);
  // Removes the registry entry of `id`, if any. Never destroys an object.
  void RemoveObjectFromIDMap(ULONG64 id);

  // ---- Enumeration and moves ----
  HRESULT EnumerateServers(WCHAR** names, ULONG* count);
  HRESULT EnumerateApps(CommonObject*** apps, ULONG* count);
  HRESULT GetRootFolder(_FarmObjectType type, FolderObject** folder);
  HRESULT MoveObject(CommonObject* object, AppFolderObject* target);

  // ---- Publishing, lookup, events ----
  HRESULT CreateZQWinApp(_ZQWinAppData* data, ZQWinAppObject** app);
  HRESULT GetObjectByDN(FolderObject* start, WCHAR* dn, CommonObject** object);
  HRESULT GetAppByDN(WCHAR* dn, ZQWinAppObject** app);
  HRESULT CreateEventQueue(LONG* masks, LONG count, LONG* queue);
  HRESULT DeleteEventQueue(LONG queue);
  HRESULT WaitForEvent(LONG queue, LONG timeout, LONG* event_type, CommonObject** object,
                       CommonObject** second);

  // The instance number: the process-wide count of farm objects just after
  // this one was made (0 for an inert object). Nothing in the library reads it.
  std::int64_t InstanceNumber() const { return instance_number_; }

 private:
  std::int64_t instance_number_;
  WCHAR* farm_name_;
  ULONG farm_name_size_;
  ZQAppSAL* app_store_;
  VORN_ZQServerSAL* server_service_;
  VORN_UserMgmt_SAL* user_service_;
  VORNCommonApplicationSAL* folder_service_;
  feroq::ObjectIdMap* id_map_;
  FolderObject* root_folder_;
  void* heap_;
};

#endif  // FEROQ_FARM_OBJECT_H_
