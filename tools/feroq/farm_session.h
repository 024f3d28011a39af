// The farm one run of the tool works on, and the helpers every command uses
// to hold objects and strings the library hands out and to find objects by
// distinguished name.
#ifndef FEROQ_TOOLS_FEROQ_FARM_SESSION_H_
#define FEROQ_TOOLS_FEROQ_FARM_SESSION_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "feroq/feroq.h"

namespace feroq::cli {

// Options every command takes.
struct GlobalOptions {
  std::string farm_url;  // --farm; empty: the services' own choice
  bool json = false;     // --json
};

// Opens the farm on first use. The farm URL is handed to the services through
// FEROQ_FARM before the first FarmObject is made (the library reads no
// settings). Objects obtained from farm() must be released before the session
// is destroyed.
class Session {
 public:
  explicit Session(GlobalOptions options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Throws OperationFailed when the farm cannot be opened.
  FarmObject& farm();
  // The services' admin interface on the same farm. Throws OperationFailed,
  // or UsageError for a farm URL of no known form.
  admin::FarmAdmin& admin();
  // Opens the farm, first creating a missing farm file (`farm init`).
  // True when the farm was made now, false when it was there already.
  bool CreateFarm();
  bool json() const { return options_.json; }
  // The URL of the farm the services open, as it may be shown (without a
  // password it may hold).
  std::string url() const;
  // The same with its password, for opening the farm only.
  std::string raw_url() const;

 private:
  void ApplyFarmUrl();
  void OpenAdmin(bool create);

  GlobalOptions options_;
  bool url_applied_ = false;
  std::unique_ptr<FarmObject> farm_;
  std::unique_ptr<admin::FarmAdmin> admin_;
};

// One reference on a farm object, given back with FarmObject::FreeObject.
template <class T>
class Held {
 public:
  Held() = default;
  Held(FarmObject* farm, T* object) : farm_(farm), object_(object) {}
  Held(Held&& other) noexcept : farm_(other.farm_), object_(std::exchange(other.object_, nullptr)) {}
  Held& operator=(Held&& other) noexcept {
    if (this != &other) {
      reset();
      farm_ = other.farm_;
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() { reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives up the reference without releasing it (the caller takes it over).
  T* release() { return std::exchange(object_, nullptr); }
  void reset() {
    if (object_ != nullptr) {
      CommonObject* object = object_;
      farm_->FreeObject(object);
      object_ = nullptr;
    }
  }

 private:
  FarmObject* farm_ = nullptr;
  T* object_ = nullptr;
};

// The text of a string the library handed out, which is then released with
// FreeMemory. Null gives "".
std::string TakeText(FarmObject& farm, char16_t* text);
std::u16string TakeWide(FarmObject& farm, char16_t* text);

// Distinguished-name lookups through FarmObject::GetObjectByDN. Each throws
// ToolFailure when the name names nothing (or an object of the other kind)
// and OperationFailed when the lookup fails. "id:0x..." (an identifier in
// hex) names an object by its identifier instead, which also reaches names
// that no distinguished name can spell (a farm file from before the naming
// rules may hold a name with a backslash).
Held<CommonObject> FindObject(Session& session, const std::string& dn);
Held<AppFolderObject> FindFolder(Session& session, const std::string& dn);
// The application, loaded.
Held<ZQWinAppObject> FindApp(Session& session, const std::string& dn);

// The name the library gives the object (GetObjectName), or "".
std::string NameOf(FarmObject& farm, CommonObject* object);
// The object's distinguished name; for the root folder, which has none,
// a backslash and its name.
std::string DnOf(FarmObject& farm, CommonObject* object);

// The children of `folder` (EnumerateChildren, all of them).
std::vector<Held<CommonObject>> ChildrenOf(FarmObject& farm, FolderObject* folder);
// Runs `body` in one read transaction of the farm: one snapshot and one set
// of file locks for all the service calls it makes, instead of a transaction
// for each. Where that transaction cannot begin, `body` runs with each call
// reading on its own. Exceptions from `body` pass on.
void AsOneRead(const std::function<void()>& body);
// Calls `visit` with every application of the farm, not loaded, in the
// order EnumerateApps lists them, holding at most a window of kAppWindow
// application objects at a time: each window's objects are made, visited
// and given back before the next window's identifiers are read, so that a
// walk over a farm of any size holds a bounded number of objects (the
// folders above the window's applications stay alive for the window, so
// their names are read once a window, not once an application). Throws
// OperationFailed when the farm cannot list or make its applications.
constexpr std::size_t kAppWindow = 256;
void ForEachApp(Session& session, const std::function<void(ZQWinAppObject*)>& visit);

// Splits "\A\B\C" into the parent's name "\A\B" and the last component "C"
// (separators: backslash and slash; a trailing separator is ignored).
std::pair<std::string, std::string> SplitDn(const std::string& dn);

// The server names of the farm (EnumerateServers).
std::vector<std::string> ServerNames(FarmObject& farm);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_FARM_SESSION_H_
