#include "farm_session.h"

#include <cstdlib>
#include <stdexcept>

#include "feroq/services/service_base.h"
#include "output.h"
#include "text_conversion.h"

namespace feroq::cli {

Session::Session(GlobalOptions options) : options_(std::move(options)) {}

// Objects held by commands are gone by now; the farm object goes last.
Session::~Session() = default;

void Session::ApplyFarmUrl() {
  if (url_applied_) return;
  url_applied_ = true;
  if (options_.farm_url.empty()) return;
#if defined(_WIN32)
  ::_putenv_s("FEROQ_FARM", options_.farm_url.c_str());
#else
  ::setenv("FEROQ_FARM", options_.farm_url.c_str(), 1);
#endif
}

std::string Session::raw_url() const {
  if (!options_.farm_url.empty()) return options_.farm_url;
  return admin::CurrentFarmUrl();
}

std::string Session::url() const { return admin::FarmUrlWithoutPassword(raw_url()); }

FarmObject& Session::farm() {
  if (!farm_) {
    ApplyFarmUrl();
    // Opening the admin interface first reports a farm URL the services
    // cannot open with its own code; the farm object would only say
    // E_UNEXPECTED.
    admin();
    farm_ = std::make_unique<FarmObject>();
    char16_t* name = nullptr;
    HRESULT hr = farm_->GetFarmName(&name);
    farm_->FreeMemory(name);
    Check(hr, "opening the farm " + url());
  }
  return *farm_;
}

admin::FarmAdmin& Session::admin() {
  if (!admin_) OpenAdmin(false);
  return *admin_;
}

bool Session::CreateFarm() {
  if (admin_) return false;
  ApplyFarmUrl();
  std::unique_ptr<admin::FarmAdmin> existing;
  const bool existed = admin::FarmAdmin::Open(raw_url(), &existing) != admin::kFarmFileMissing;
  existing.reset();
  OpenAdmin(true);
  return !existed;
}

void Session::OpenAdmin(bool create) {
  ApplyFarmUrl();
  const std::string farm_url = url();
  VSTATUS status = create ? admin::FarmAdmin::Create(raw_url(), &admin_) : admin::FarmAdmin::OpenCurrent(&admin_);
  if (status == VORN_OK) return;
  admin_.reset();
  if (status == VORN_E_INVALIDVALUE) {
    throw UsageError("not a farm URL: " + farm_url + " (farm URLs are sqlite:PATH, memory:NAME or postgresql://...)");
  }
  if (status == admin::kFarmFileMissing) {
    throw OperationFailed::Explained("opening the farm " + farm_url, status,
                                     "no farm at " + farm_url.substr(farm_url.find(':') + 1) +
                                         "; create it with `feroq farm init`");
  }
  std::string hint;
  if (status == admin::kFarmBackendUnavailable) hint = "this build cannot open that kind of farm";
  throw OperationFailed("opening the farm " + farm_url, status, hint);
}

std::string TakeText(FarmObject& farm, char16_t* text) { return ToUtf8(TakeWide(farm, text)); }

std::u16string TakeWide(FarmObject& farm, char16_t* text) {
  std::u16string out = text == nullptr ? std::u16string() : std::u16string(text);
  farm.FreeMemory(text);
  return out;
}

namespace {

constexpr char kIdPrefix[] = "id:";

// The object named "id:0x..." (an identifier as `farm check` and --json
// print it), which reaches also names no distinguished name can spell.
Held<CommonObject> FindById(FarmObject& farm, const std::string& text) {
  ULONG64 id = 0;
  try {
    std::size_t used = 0;
    id = std::stoull(text.substr(sizeof(kIdPrefix) - 1), &used, 16);
    if (used != text.size() - (sizeof(kIdPrefix) - 1)) throw std::invalid_argument(text);
  } catch (const std::exception&) {
    throw UsageError("not an identifier: " + text + " (write id:0x followed by hex digits)");
  }
  CommonObject* object = nullptr;
  HRESULT hr = E_INVALIDARG;
  if (ObjectKindOf(id) == kObjectKindApplication) {
    ZQWinAppObject* app = nullptr;
    hr = farm.CreateWinAppFromID(id, &app);
    object = app;
  } else if (ObjectKindOf(id) == kObjectKindFolder) {
    AppFolderObject* folder = nullptr;
    hr = farm.CreateAppFolderObject(id, &folder, 0);
    object = folder;
  }
  if (hr != S_OK) throw ToolFailure(text + " names no folder or application");
  Held<CommonObject> held(&farm, object);
  // The registry makes objects for any identifier; the farm must know it.
  if (ObjectKindOf(id) == kObjectKindFolder) {
    char16_t* name = nullptr;
    if (object->GetObjectName(&name) != S_OK || name == nullptr) {
      farm.FreeMemory(name);
      throw ToolFailure(text + " names no folder of the farm");
    }
    farm.FreeMemory(name);
  } else if (static_cast<ZQWinAppObject*>(object)->Load() != S_OK) {
    throw ToolFailure(text + " names no application of the farm");
  }
  return held;
}

}  // namespace

Held<CommonObject> FindObject(Session& session, const std::string& dn) {
  FarmObject& farm = session.farm();
  if (dn.rfind(kIdPrefix, 0) == 0) return FindById(farm, dn);
  std::optional<std::u16string> wide = FromUtf8(dn);
  if (!wide || wide->empty()) throw UsageError("a distinguished name must be non-empty UTF-8 text: '" + dn + "'");
  CommonObject* object = nullptr;
  HRESULT hr = farm.GetObjectByDN(nullptr, wide->data(), &object);
  if (hr == S_FALSE) throw ToolFailure("nothing in the farm is named " + dn);
  Check(hr, "looking up " + dn);
  if (object == nullptr) throw ToolFailure(dn + " names no folder or application");
  return Held<CommonObject>(&farm, object);
}

namespace {

_FarmObjectType TypeOf(CommonObject* object) {
  _FarmObjectType type = FarmObjectAppFolder;
  object->GetObjectType(&type);
  return type;
}

}  // namespace

Held<AppFolderObject> FindFolder(Session& session, const std::string& dn) {
  Held<CommonObject> object = FindObject(session, dn);
  if (TypeOf(object.get()) != FarmObjectAppFolder) throw ToolFailure(dn + " is an application, not a folder");
  return Held<AppFolderObject>(&session.farm(), static_cast<AppFolderObject*>(object.release()));
}

Held<ZQWinAppObject> FindApp(Session& session, const std::string& dn) {
  Held<CommonObject> object = FindObject(session, dn);
  if (TypeOf(object.get()) != FarmObjectWinApp) throw ToolFailure(dn + " is a folder, not an application");
  Held<ZQWinAppObject> app(&session.farm(), static_cast<ZQWinAppObject*>(object.release()));
  Check(app->Load(), "loading " + dn);
  return app;
}

std::string NameOf(FarmObject& farm, CommonObject* object) {
  char16_t* name = nullptr;
  if (object->GetObjectName(&name) != S_OK) return std::string();
  return TakeText(farm, name);
}

std::string DnOf(FarmObject& farm, CommonObject* object) {
  char16_t* dn = nullptr;
  if (object->GetDistinguishedName(&dn) == S_OK && dn != nullptr) return TakeText(farm, dn);
  farm.FreeMemory(dn);
  std::string fallback = "\\";
  return fallback += NameOf(farm, object);
}

std::vector<Held<CommonObject>> ChildrenOf(FarmObject& farm, FolderObject* folder) {
  CommonObject** children = nullptr;
  LONG count = 0;
  HRESULT hr = folder->EnumerateChildren(&children, &count);
  std::vector<Held<CommonObject>> out;
  for (LONG i = 0; i < count; ++i) out.emplace_back(&farm, children[i]);
  farm.FreeMemory(children);
  if (FAILED(hr)) throw OperationFailed("listing the children of " + DnOf(farm, folder), static_cast<std::uint32_t>(hr));
  return out;
}

void AsOneRead(const std::function<void()>& body) {
  bool ran = false;
  RunInOneReadTransaction(VornRemoteAccess, [&]() -> VSTATUS {
    ran = true;
    body();
    return VORN_OK;
  });
  if (!ran) body();
}

void ForEachApp(Session& session, const std::function<void(ZQWinAppObject*)>& visit) {
  FarmObject& farm = session.farm();
  admin::FarmAdmin& admin = session.admin();
  std::vector<ULONG64> ids;
  std::vector<Held<ZQWinAppObject>> window;
  window.reserve(kAppWindow);
  for (ULONG64 after = 0;; after = ids.back()) {
    if (VSTATUS status = admin.ListApplicationIds(after, kAppWindow, &ids); status != VORN_OK) {
      throw OperationFailed("listing the applications", status);
    }
    if (ids.empty()) return;
    AsOneRead([&] {
      for (ULONG64 id : ids) {
        ZQWinAppObject* app = nullptr;
        Check(farm.CreateWinAppFromID(id, &app), "listing the applications");
        window.emplace_back(&farm, app);
      }
      for (Held<ZQWinAppObject>& app : window) visit(app.get());
      window.clear();
    });
  }
}

std::pair<std::string, std::string> SplitDn(const std::string& dn) {
  std::string trimmed = dn;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  const std::size_t cut = trimmed.find_last_of("\\/");
  if (cut == std::string::npos) return {std::string(), trimmed};
  return {trimmed.substr(0, cut), trimmed.substr(cut + 1)};
}

std::vector<std::string> ServerNames(FarmObject& farm) {
  char16_t* names = nullptr;
  ULONG count = 0;
  Check(farm.EnumerateServers(&names, &count), "listing the servers");
  std::vector<std::string> out;
  for (const char16_t* p = names; p != nullptr && *p != 0; p += std::char_traits<char16_t>::length(p) + 1) {
    out.push_back(ToUtf8(p));
  }
  farm.FreeMemory(names);
  return out;
}

}  // namespace feroq::cli
