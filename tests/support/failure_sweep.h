// Failure sweeps over the library's public operations.
//
// An allocation sweep runs one operation with the platform heap failing at
// allocation 1, 2, 3, ... until a run completes without reaching its failure
// point. A service sweep first records the service calls the operation makes,
// then makes each call in turn answer each code of kSweptServiceCodes. Every
// run starts from a fresh farm and a fresh farm object (SweepTarget), so runs
// are independent and identical up to their failure point. After every run:
//
//  - the result is the one the operation gives for that failure. Allocation:
//    E_OUTOFMEMORY; or, since the failure struck between the last service
//    call made and the one a clean run makes next, the operation's mapping
//    of the services' out-of-memory code 0x80000002 for either of those
//    calls (and of 0x80000001 for the store calls that pass on the record
//    tables' codes, which report running out of memory that way); or a
//    result the operation documents absorbing the failure into. Service:
//    exactly the operation's mapping of that call and code;
//  - once the run's outputs are released, the registry holds only objects
//    that something still holds, each with exactly that many references (the
//    tool's own references plus the parent caches of application objects);
//  - a run that failed left the farm as it found it;
//  - once the tool has released everything and the farm object is gone, the
//    heap holds as many blocks as before the run.
#ifndef FEROQ_TESTS_SUPPORT_FAILURE_SWEEP_H_
#define FEROQ_TESTS_SUPPORT_FAILURE_SWEEP_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "feroq/app_data.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_codes.h"
#include "feroq/types.h"
#include "support/farm_fixture.h"

class AppFolderObject;
class VORNCommonApplicationSAL;
class ZQAppSAL;
class ZQWinAppObject;

namespace feroq::testing {

// What the tool holds while an operation runs. Every object in `held` carries
// one reference of the tool's, given back when the run ends.
struct ToolState {
  FarmObject* farm = nullptr;
  std::vector<CommonObject*> held;
  // Objects a setup obtained for the operation (each also in `held`).
  ZQWinAppObject* app = nullptr;
  AppFolderObject* folder = nullptr;
  AppFolderObject* target = nullptr;
  LONG queue = 0;

  template <typename T>
  T* Hold(T* object) {
    if (object != nullptr) held.push_back(object);
    return object;
  }
};

// What one run handed to the tool; released after the run's result is taken.
class Holdings {
 public:
  explicit Holdings(FarmObject& farm) : farm_(farm) {}
  ~Holdings() { ReleaseAll(); }
  Holdings(const Holdings&) = delete;
  Holdings& operator=(const Holdings&) = delete;

  // An object reference (null is ignored).
  void Object(CommonObject* object);
  // A block from the farm object's heap (null is ignored).
  void Memory(void* block);
  // The elements of an object array, then the array itself.
  void Objects(CommonObject** objects, std::size_t count);
  void ReleaseAll();

  // Runs `call` with a place for one T* (an object, or a block when T is
  // not an object), keeps what it handed out and returns its result.
  template <class T, class Call>
  HRESULT Out(Call call) {
    T* out = nullptr;
    const HRESULT result = call(&out);
    if constexpr (std::is_convertible_v<T*, CommonObject*>) {
      Object(out);
    } else {
      Memory(out);
    }
    return result;
  }

 private:
  FarmObject& farm_;
  std::vector<CommonObject*> objects_;
  std::vector<void*> blocks_;
};

// The library's result when a service call answers `code`.
using CodeMapping = std::function<HRESULT(VSTATUS code)>;

// `otherwise` for every code not listed.
CodeMapping Map(std::initializer_list<std::pair<VSTATUS, HRESULT>> listed, HRESULT otherwise);
// The same result whatever the code.
CodeMapping Always(HRESULT result);

// The mapping of each service call an operation makes, by call name
// ("ZQAppSAL::Read"). An entry "Name#k" applies to the k-th call of that name
// within the run (from 0) and takes precedence over "Name"; an entry "*"
// applies to every call without an entry of its own.
using ServiceTable = std::map<std::string, CodeMapping>;

struct SweptOperation {
  std::string name;
  // Runs before anything is armed; obtains what the operation needs.
  std::function<void(ToolState&)> setup;
  // The operation; records everything it hands out in the Holdings.
  std::function<HRESULT(ToolState&, Holdings&)> run;
  // The result of a run without failures.
  HRESULT expected = S_OK;
  ServiceTable services;
  // Further results an allocation failure may end with (documented ways in
  // which the operation absorbs a failure, such as an enumeration that
  // delivers fewer objects).
  std::vector<HRESULT> absorbs;
  // The operation makes application records, whose user table absorbs the
  // failure of its first allocation (it starts without capacity): a run
  // that ends with `expected` is then accepted, with the farm a clean run
  // leaves.
  bool makes_records = false;
  // The operation documents a failure reported after its change of the farm
  // was made (the change then stands).
  bool failure_may_follow_change = false;
};

// ---- The library's results for service codes, by operation family ----------
// Written from the operations' documented mappings; each test's tables
// combine them per service call.
namespace mapping {

inline constexpr VSTATUS kOutOfMemory = 0x80000002u;
inline constexpr VSTATUS kInvalidValue = 0x80000003u;
inline constexpr VSTATUS kRefused = 0x80000007u;
inline constexpr VSTATUS kAccessDenied = 0x80000016u;
inline constexpr VSTATUS kValueRefused = 0x801D1100u;
inline constexpr VSTATUS kNoMore = 0x801D1101u;
inline constexpr VSTATUS kNotSupported = 0x801D1102u;
inline constexpr VSTATUS kReadOnly = 0x801D1103u;
inline constexpr VSTATUS kChecksFailed = 0x801D1104u;
inline constexpr VSTATUS kBrowserNameRefused = 0x801D1106u;
inline constexpr VSTATUS kIterating = 0x801D1108u;
inline constexpr VSTATUS kMoveRefused = 0x80160004u;
inline constexpr VSTATUS kRenameRefused = 0x80160006u;
inline constexpr VSTATUS kDeleteRefused = 0x8016000Cu;

// A result no operation gives (for a run whose own check of an output
// failed).
inline constexpr HRESULT kWrongOutput = 0x7EEEEEEE;

inline const CodeMapping kOomElseFail = Map({{kOutOfMemory, E_OUTOFMEMORY}}, E_FAIL);
// Published application: Load, Save, Delete, Validate.
inline const CodeMapping kLoad =
    Map({{kAccessDenied, E_ACCESSDENIED}, {kOutOfMemory, E_OUTOFMEMORY}, {kRefused, E_NOTIMPL}}, E_FAIL);
inline const CodeMapping kSave = Map({{kOutOfMemory, E_OUTOFMEMORY},
                                      {kRefused, E_ACCESSDENIED},
                                      {kAccessDenied, E_ACCESSDENIED},
                                      {kNotSupported, E_NOTIMPL},
                                      {kChecksFailed, E_NOTIMPL}},
                                     E_FAIL);
inline const CodeMapping kAppDelete =
    Map({{kAccessDenied, E_ACCESSDENIED}, {kRefused, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kValidate = Map({{kAccessDenied, E_ACCESSDENIED},
                                          {kRefused, E_ACCESSDENIED},
                                          {kOutOfMemory, E_OUTOFMEMORY},
                                          {kInvalidValue, E_NOTIMPL},
                                          {kNotSupported, E_NOTIMPL},
                                          {kChecksFailed, E_INVALIDARG}},
                                         E_FAIL);
// Property setters.
inline const CodeMapping kStringSet =
    Map({{kValueRefused, E_INVALIDARG}, {kReadOnly, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kBrowserNameSet =
    Map({{kValueRefused, E_INVALIDARG}, {kBrowserNameRefused, E_INVALIDARG}, {kReadOnly, E_ACCESSDENIED}},
        E_FAIL);
inline const CodeMapping kEnumSet = Map({{kInvalidValue, E_INVALIDARG}, {kReadOnly, E_ACCESSDENIED}}, S_OK);
inline const CodeMapping kColorSet =
    Map({{kInvalidValue, E_ACCESSDENIED}, {kReadOnly, E_ACCESSDENIED}}, S_OK);
inline const CodeMapping kNumberSet =
    Map({{kInvalidValue, E_INVALIDARG}, {kReadOnly, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kIconSet = Map({{kReadOnly, E_ACCESSDENIED}}, E_FAIL);
// Server and user lists.
inline const CodeMapping kServerChange = Map({{kReadOnly, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kServerStep = Map({{kNoMore, S_FALSE}}, E_FAIL);
inline const CodeMapping kFirstUser =
    Map({{kNoMore, S_FALSE}, {kOutOfMemory, E_OUTOFMEMORY}, {kIterating, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kNextUser = Map({{kNoMore, S_FALSE}, {kOutOfMemory, E_OUTOFMEMORY}}, E_FAIL);
// Folders (the folder service's refusal codes count only where named).
inline const CodeMapping kRename = Map({{kRenameRefused, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kMoveRefusal = Map({{kMoveRefused, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kFolderDelete =
    Map({{kOutOfMemory, E_OUTOFMEMORY}, {kDeleteRefused, E_ACCESSDENIED}}, E_FAIL);
inline const CodeMapping kEnumApps =
    Map({{kOutOfMemory, E_OUTOFMEMORY}, {kAccessDenied, E_ACCESSDENIED}}, E_FAIL);
// Files composed by the store.
inline const CodeMapping kFileRequest =
    Map({{kAccessDenied, E_ACCESSDENIED}, {kRefused, E_ACCESSDENIED}, {kOutOfMemory, E_OUTOFMEMORY}}, E_FAIL);

// The distinguished-name builder. Without the root's identifier no name can
// be built: E_FAIL, as for the builder's other service failures.
inline ServiceTable NameBuilder() {
  return {{"VORNCommonApplicationSAL::GetRootFolderID", Always(E_FAIL)},
          {"VORNCommonApplicationSAL::GetFolderName", kOomElseFail},
          {"VORNCommonApplicationSAL::GetFolderParent", kOomElseFail}};
}

// Publishing's filling of a new record: each step's refusal is its creation
// code (a read-only record is E_ACCESSDENIED for a server). The record's
// allocation, the parent folder and the write are each operation's own.
inline ServiceTable RecordFilling() {
  const auto creation = [](HRESULT code) { return Always(code); };
  return {
      {"ZQApp::new", Always(E_OUTOFMEMORY)},
      {"ZQApp::Initialize", creation(ZQ_CREATE_E_VERSION)},
      {"ZQApp::SetBrowserName", creation(ZQ_CREATE_E_BROWSER_NAME)},
      {"ZQApp::SetDefaultInitialProgram", creation(ZQ_CREATE_E_INITIAL_PROGRAM)},
      {"ZQApp::SetDefaultWorkDirectory", creation(ZQ_CREATE_E_WORKING_DIRECTORY)},
      {"ZQApp::SetDescription", creation(ZQ_CREATE_E_DESCRIPTION)},
      {"ZQApp::SetFriendlyName", creation(ZQ_CREATE_E_OBJECT_NAME)},
      {"ZQApp::SetFolder", creation(ZQ_CREATE_E_WL_FOLDER)},
      {"ZQApp::SetDefaultEncryptionLevel", creation(ZQ_CREATE_E_ENCRYPTION_LEVEL)},
      {"ZQApp::SetDefaultSoundType", creation(ZQ_CREATE_E_SOUND_TYPE)},
      {"ZQApp::SetDefaultVideoType", creation(ZQ_CREATE_E_VIDEO_TYPE)},
      {"ZQApp::SetDefaultWindowColor", creation(ZQ_CREATE_E_WINDOW_COLOR)},
      {"ZQApp::SetDefaultWindowType", creation(ZQ_CREATE_E_WINDOW_TYPE)},
      {"ZQApp::SetDefaultWindowHeight", creation(ZQ_CREATE_E_WINDOW_HEIGHT)},
      {"ZQApp::SetDefaultWindowWidth", creation(ZQ_CREATE_E_WINDOW_WIDTH)},
      {"ZQApp::SetDefaultWindowScale", creation(ZQ_CREATE_E_WINDOW_SCALE)},
      {"ZQApp::SetDesktopIntegrate", creation(ZQ_CREATE_E_DESKTOP_INTEGRATE)},
      {"ZQApp::SetZQAttributes", creation(ZQ_CREATE_E_ZQ_ATTRIBUTES)},
      {"ZQApp::SetWLAttributes", creation(ZQ_CREATE_E_WL_ATTRIBUTES)},
      {"ZQApp::SetPublishingFlags", creation(ZQ_CREATE_E_PUBLISHING_FLAGS)},
      {"ZQApp::SetIcon", creation(ZQ_CREATE_E_ICON)},
      // A server: the name lookup's and the record's codes come back as they
      // came; a read-only record is E_ACCESSDENIED, anything else the
      // creation code for servers.
      {"VORN_ZQServerSAL::GetUIDByName", Map({{kReadOnly, E_ACCESSDENIED}}, ZQ_CREATE_E_SERVER)},
      {"ZQApp::AddServer", Map({{kReadOnly, E_ACCESSDENIED}}, ZQ_CREATE_E_SERVER)},
      // A user: any failure to resolve or add it. The authority record's
      // type and instance are set without looking at the result; the user
      // service then finds no account.
      {"UM_AcctAuthInfo::SetType", creation(ZQ_CREATE_E_USER)},
      {"UM_AcctAuthInfo::SetInstance", creation(ZQ_CREATE_E_USER)},
      {"UM_AcctAuthInfo::GetType", creation(ZQ_CREATE_E_USER)},
      {"UM_AcctAuthInfo::GetInstance", creation(ZQ_CREATE_E_USER)},
      {"VORN_UserMgmt_SAL::ResolveAccountNameToDN", creation(ZQ_CREATE_E_USER)},
      {"ZQApp::AddUser", creation(ZQ_CREATE_E_USER)},
      {"ZQApp::SetCommonAppFolder", creation(ZQ_CREATE_E_PARENT_SET)},
      // The write: refused checks without a chain and every other code.
      {"ZQAppSAL::Write", Always(E_FAIL)},
  };
}

inline ServiceTable With(ServiceTable table, const ServiceTable& more) {
  for (const auto& [call, mapping] : more) table[call] = mapping;
  return table;
}

}  // namespace mapping

// Builds the world each run starts from.
class SweepTarget {
 public:
  virtual ~SweepTarget() = default;
  // A fresh farm and farm object, then `op.setup`.
  virtual void StartRun(const SweptOperation& op) = 0;
  virtual ToolState& tool() = 0;
  // Gives back every reference in tool().held and destroys the farm object.
  virtual void EndRun() = 0;
};

// The codes every service call is made to answer: the services' own failure
// codes, the store's record codes, the folder service's refusals and one code
// no service defines.
extern const std::vector<VSTATUS> kSweptServiceCodes;

// Calls whose answer no operation looks at: service releases. A refused
// release leaves its block with the service; they are not swept.
bool IsUnsweptCall(const std::string& call);

struct SweepCounts {
  std::uint64_t failure_points = 0;  // allocation runs that reached their failure
  std::uint64_t service_calls = 0;   // service calls swept
  std::uint64_t service_runs = 0;    // calls x codes
};

// Each returns what it exercised; every mismatch is reported as a test
// failure naming the operation, the failure point and the result.
SweepCounts SweepAllocations(SweepTarget& target, const SweptOperation& op);
SweepCounts SweepServiceFaults(SweepTarget& target, const SweptOperation& op);

// A gtest fixture that is its own SweepTarget. Every run starts from this
// farm (ids are the same in every run):
//   root "Applications"
//     Office
//       Tools
//         viewer  (published first)
//         Editor  (servers SRV1 and SRV2, users CORP\alice and CORP\bob)
// Tools holds no folder and Office only Tools, so a lookup along
// \Applications\Office\Tools\Editor finds nothing as soon as any call on
// its way fails.
class FailureSweepTest : public FarmTest, public SweepTarget {
 protected:
  static constexpr char16_t kAliceDn[] = u"CN=alice,DC=corp";
  static constexpr char16_t kBobDn[] = u"CN=bob,DC=corp";

  void StartRun(const SweptOperation& op) override;
  ToolState& tool() override { return tool_; }
  void EndRun() override;

  // ---- Setup steps (nothing is armed yet) ----
  // The application object of `id`, loaded; the tool holds it.
  ZQWinAppObject* HoldApp(ToolState& t, ULONG64 id);
  AppFolderObject* HoldFolder(ToolState& t, ULONG64 id);
  AppFolderObject* HoldRoot(ToolState& t);
  // The folder service and the application store of the fixture's
  // connection, with calls neither recorded nor faulted: a change of the
  // farm made as another tool would make it.
  void ChangeFarm(const std::function<void(VORNCommonApplicationSAL&, ZQAppSAL&)>& change);

  // Runs both sweeps over every operation of a scenario and reports what
  // they exercised (test properties and a summary line).
  void Sweep(const std::string& scenario, const std::vector<SweptOperation>& ops);

  // Operations on the loaded Editor, on the folder Tools, and of the farm
  // object itself.
  SweptOperation OnApp(std::string name, std::function<HRESULT(ZQWinAppObject*, Holdings&)> run,
                       ServiceTable services = {}, HRESULT expected = S_OK);
  SweptOperation OnTools(std::string name, std::function<HRESULT(AppFolderObject*, Holdings&)> run,
                         ServiceTable services = {}, HRESULT expected = S_OK);
  SweptOperation OnFarm(std::string name, std::function<HRESULT(FarmObject*, Holdings&)> run,
                        ServiceTable services = {}, HRESULT expected = S_OK);

  ToolState tool_;
  ULONG64 srv1_ = 0, srv2_ = 0, office_ = 0, tools_ = 0, viewer_ = 0, editor_ = 0;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_FAILURE_SWEEP_H_
