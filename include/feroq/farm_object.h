// FarmObject: the root of the object model and the only object a tool
// constructs itself.
//
// The default constructor connects to the farm (see the README for how the
// farm is chosen), reads its name, creates the four services and the object
// registry. Through the farm object a tool lists servers and applications,
// obtains folders and applications, publishes applications and waits for
// change events.
//
// Ownership. Every application and folder object handed out carries one
// reference for the caller, given back with FreeObject (one call per
// reference received); the registry hands out at most one live object per
// identifier, so two requests for the same application give the same
// object. Every memory block handed out (strings, name lists, object arrays,
// icon records) is a zero-filled block of this object's heap, given back
// with FreeMemory. A tool releases every object before it destroys the farm
// object; only the cached root folder is destroyed by the farm object
// itself.
//
// Results. Operations answer with result codes (types.h) and raise no
// exceptions. Unless a comment says otherwise an output is written only on
// success, and pointer arguments are not tested for null.
//
// Threads. The library starts no thread and takes no lock. Calls that
// create, hand out or release objects of one farm object (which includes
// almost every call here and on its objects) must not run on two threads at
// once; WaitForEvent blocks without holding anything, so another thread may
// use the farm object meanwhile under the same rule. CreateEventQueue and
// DeleteEventQueue use no state of the farm object and may run on any
// thread. Farm objects themselves may be constructed and destroyed on
// different threads at once.
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
  // object is half-built: the operations that need them answer E_UNEXPECTED
  // (GetVersion still works). An exception of a service's constructor
  // leaves this constructor.
  FarmObject();
  // Builds an inert object (no name, services, registry or heap): the
  // operations that need them answer E_UNEXPECTED (after their argument
  // checks). The argument is not used.
  explicit FarmObject(char16_t* farm_name);
  FarmObject(const FarmObject&) = delete;
  // Copies every field, pointers included: afterwards both objects share the
  // name, services, registry and root folder, and only one may be destroyed.
  FarmObject& operator=(const FarmObject& other);
  // Destroys the cached root folder (whatever its count), the services and
  // the registry, and ends remote access. Objects still held by the tool are
  // not destroyed and must not be used afterwards.
  ~FarmObject();

  // Writes 1 and returns S_OK, in every state.
  HRESULT GetVersion(LONG* version);
  // A new copy of the farm's name, released with FreeMemory. E_INVALIDARG for
  // a null `name` (in every state); E_UNEXPECTED when the farm has no name
  // (inert object, or the name could not be read); E_OUTOFMEMORY with
  // `*name` null.
  HRESULT GetFarmName(char16_t** name);
  // The application store's highest known record version. E_UNEXPECTED
  // without the store.
  HRESULT GetAppSubsysVersion(LONG* version);
  // Gives back a block this object handed out (or that an object of this
  // farm handed out); null is accepted. Always S_OK.
  HRESULT FreeMemory(void* block);

  // The fields as they are: no check, no reference taken; null in a
  // half-built or inert object.
  void* GetZQWinAppSAL();
  void* GetZQServerSAL();
  void* GetUserSAL();
  void* GetAppFolderSAL();
  void* GetObjectIDMap();
  void* GetHeap();

  // ---- Registry ----
  // The application object for `id`: the registered one with one more
  // reference (the store is not asked), or a new one with count 1,
  // registered, whose record is empty until its Load. E_INVALIDARG with
  // `*app` null when `id` is registered for a folder; E_OUTOFMEMORY with
  // `*app` null (nothing registered); E_UNEXPECTED without the registry
  // (`*app` untouched).
  HRESULT CreateWinAppFromID(ULONG64& id, ZQWinAppObject** app);
  // The folder object for `id`, with one reference for the caller. Mode 0:
  // the registered object (count raised) or a new one, registered. Mode 1,
  // the detaching form: for a registered object that reports a name, a new
  // detached object (no farm, not registered) carrying that name, the
  // registered object being taken out of the registry (its holders keep it);
  // otherwise a new object of this farm, not registered. Any other mode: the
  // registered object (count raised) or a new one that is not registered.
  // `*folder` is null on every failure: E_INVALIDARG when `id` is registered
  // for an application, E_OUTOFMEMORY (nothing registered), E_UNEXPECTED
  // without the registry (`*folder` untouched then).
  HRESULT CreateAppFolderObject(ULONG64& id, AppFolderObject** folder, int mode);
  // Gives back one reference. While other references remain the object
  // lives on and `object` is left as it was (the caller must not use it any
  // more); at count 0 the object is unregistered and destroyed and `object`
  // set to null. Always S_OK for the two object types; E_UNEXPECTED for an
  // object of any other type, E_INVALIDARG for a null `object` (both change
  // nothing).
  HRESULT FreeObject(CommonObject*& object);
  // Removes the registry entry of `id`, if any. Never destroys an object.
  void RemoveObjectFromIDMap(ULONG64 id);

  // ---- Enumeration and moves ----
  // The farm's server names in one block: each name NUL-terminated, the
  // list ended by one more NUL (no servers: a single NUL); `*count` is the
  // number of servers. The block is released with FreeMemory. E_UNEXPECTED
  // without the server service; E_OUTOFMEMORY or E_FAIL when the service
  // fails (`*names` untouched); E_OUTOFMEMORY with `*names` null when the
  // block cannot be had (`*count` is then already written).
  HRESULT EnumerateServers(char16_t** names, ULONG* count);
  // The farm's published applications in the store's order. On entry
  // `*count` is the most objects wanted (0: all); on return it is the number
  // delivered. `*apps` is an array of that many objects, each carrying one
  // reference (give each back with FreeObject), the array itself released
  // with FreeMemory; null when none is delivered. An object that cannot be
  // made ends the array there without an error: S_FALSE when fewer objects
  // than asked for (and not the whole list) came back, S_OK otherwise (a
  // request of 0 never gives S_FALSE). E_OUTOFMEMORY, E_ACCESSDENIED or
  // E_FAIL when the store cannot list them, E_UNEXPECTED without the store:
  // `*apps` null and `*count` 0. E_OUTOFMEMORY with `*count` 0 and `*apps`
  // untouched when the array cannot be had.
  HRESULT EnumerateApps(CommonObject*** apps, ULONG* count);
  // The root application folder, with one reference for the caller (give it
  // back with FreeObject). The object is cached: every call hands out the
  // same object until its last reference is given back. E_NOTIMPL for a
  // type other than FarmObjectAppFolder (in every state); E_UNEXPECTED
  // without the folder service; E_FAIL when the root cannot be read;
  // CreateAppFolderObject's failures. `*folder` is written only with S_OK.
  HRESULT GetRootFolder(_FarmObjectType type, FolderObject** folder);
  // Moves an application or folder into `target` in the farm. Only the farm
  // changes: no child count is adjusted and an application object keeps
  // reporting the parent it cached (AppFolderObject::SetParentFolder and
  // ZQWinAppObject::SetParentFolder are the moves that keep those in step).
  // No reference is taken for the caller. E_UNEXPECTED without the folder
  // service; the object's GetParentFolder failure as it came; E_FAIL for an
  // object of another type; E_OUTOFMEMORY or E_FAIL when the service
  // refuses.
  HRESULT MoveObject(CommonObject* object, AppFolderObject* target);

  // ---- Publishing ----
  // Publishes the application `data` describes (feroq/app_data.h) into the
  // folder its parentFolder names (null or empty: the root folder). On S_OK
  // `*app` is the new application object with count 1, registered, holding
  // the record as stored and its parent folder cached; give it back with
  // FreeObject. Results:
  //   S_OK;
  //   E_UNEXPECTED without the application store;
  //   E_OUTOFMEMORY when memory runs out (also, with `*app` null, when the
  //     object cannot be made after the store took the application: it is
  //     deleted from the farm again);
  //   E_ACCESSDENIED when the store refuses a server of the list because the
  //     record may not be changed;
  //   E_FAIL when the store fails otherwise, or refuses the record with a
  //     detail that has no creation code;
  //   a ZQ_CREATE_E_* code (app_data.h): a value out of range, a value the
  //     record refuses, a server or user of the lists that cannot be
  //     resolved or added, a parent folder that is not found (a name that
  //     finds an application finds no folder), or the store's first detailed
  //     error. These codes are positive: compare the result with S_OK.
  // The store's detailed-error chain never reaches the caller: it is mapped
  // and released inside. On every failure the farm is unchanged (nothing is
  // stored), every reference and child count taken is given back, and `*app`
  // is untouched except as said above.
  HRESULT CreateZQWinApp(_ZQWinAppData* data, ZQWinAppObject** app);

  // ---- Lookup by distinguished name ----
  // The folder or application at `dn`, walking the folder tree one
  // component at a time from `start` (null, or a `dn` that begins with a
  // separator: the root folder). Components are separated by backslashes or
  // slashes in any mix; a first component "Applications" (exactly) stands
  // for the root folder; a trailing separator is ignored; every comparison
  // is exact and case-sensitive. On S_OK `*object` carries one reference for
  // the caller, or is null when `dn` names no component (such as "\").
  // S_FALSE when a component names nothing, or a folder on the way cannot
  // be listed or one of its children read (`*object` untouched);
  // E_INVALIDARG for a null or empty `dn` or a component after an
  // application; E_OUTOFMEMORY; GetRootFolder's failures. The caller's
  // `start` keeps its reference. Listing a folder's children (to find one)
  // raises that folder's child count.
  HRESULT GetObjectByDN(FolderObject* start, char16_t* dn, CommonObject** object);
  // The application whose distinguished name is exactly `dn`, with one
  // reference for the caller; of two with that name the later in the
  // store's order. Loads and names every application of the farm (linear in
  // the farm). `*app` is set to null first and written only on S_OK.
  // E_INVALIDARG when no application has that name; EnumerateApps' failures;
  // a Load or GetDistinguishedName failure of any application as it came.
  HRESULT GetAppByDN(char16_t* dn, ZQWinAppObject** app);

  // ---- Change events ----
  // Makes an event queue and writes its handle to `*queue`. The first
  // `count` masks are combined (null `masks`: every event, 0xFF0; `count`
  // 0 or less: none); the mask bits are those of WaitForEvent, other bits
  // are ignored, and a queue that selects nothing is still made. The queue
  // outlives this object: give it back with DeleteEventQueue. E_INVALIDARG
  // for a null `queue`; E_OUTOFMEMORY or E_FAIL when the service fails
  // (`*queue` untouched).
  HRESULT CreateEventQueue(LONG* masks, LONG count, LONG* queue);
  // Deletes a queue. E_INVALIDARG for handle 0; E_OUTOFMEMORY or E_FAIL when
  // the service fails (as for a handle that names no queue).
  HRESULT DeleteEventQueue(LONG queue);
  // Waits up to `timeout` milliseconds (negative: without bound) for the
  // next event of `queue` and hands out its mask bit and the objects it is
  // about, each carrying one reference for the caller (null where the event
  // has none):
  //   0x10 folder created:  the folder;
  //   0x20 folder deleted:  a detached folder object carrying the name the
  //                         registered object last knew (that object leaves
  //                         the registry; see CreateAppFolderObject mode 1);
  //   0x40 folder renamed:  the folder, and a detached folder object holding
  //                         the old name sent with the event;
  //   0x80 folder moved:    the folder, and its old parent folder;
  //   0x100, 0x200, 0x400 application published, deleted, changed: the
  //                         application;
  //   0x800 application moved: the application, and its old parent folder.
  // For moves the library's view follows the farm: the old parent's child
  // count is lowered (if positive) and the new one's raised, and an
  // application whose cached parent was the old folder now reports the new.
  // Results: E_INVALIDARG for queue 0 or a null output (nothing written);
  // E_FAIL when the wait fails, its time runs out or the event comes without
  // a record (nothing written); E_NOTIMPL for an event outside the table
  // (`*event_type` 0, objects untouched); otherwise the result of making the
  // objects. For 0x10, 0x20 and the application events the outputs are
  // written also on a failure (the object then null); for the others a
  // failure writes nothing and gives back what was made. Blocks the calling
  // thread holding no lock.
  HRESULT WaitForEvent(LONG queue, LONG timeout, LONG* event_type, CommonObject** object,
                       CommonObject** second);

  // The instance number: the process-wide count of farm objects just after
  // this one was made (0 for an inert object). Nothing in the library reads it.
  std::int64_t InstanceNumber() const { return instance_number_; }

 private:
  std::int64_t instance_number_;
  char16_t* farm_name_;
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
