// ImportDefinitionFiles (feroq/app_import.h): every file read and checked
// first, then every application published in one transaction of the farm's
// services, which is committed (or, for a dry run, rolled back) as a whole.
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "apps/app_creation.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "feroq/app_folder_object.h"
#include "feroq/app_import.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_base.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace feroq {
namespace {

constexpr char16_t kRootComponent[] = u"Applications";

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::string Utf8(const std::u16string& text) {
  std::string out;
  platform::AppendUtf16AsUtf8(text.data(), text.size(), &out, true);
  return out;
}

std::u16string Text(const char16_t* text) { return text == nullptr ? std::u16string() : std::u16string(text); }

// The icon file an export writes beside a definition file: the same name
// with the extension .ico.
std::u16string IconFileBeside(const std::u16string& path) {
  const std::size_t name = path.find_last_of(u"\\/") == std::u16string::npos ? 0 : path.find_last_of(u"\\/") + 1;
  const std::size_t dot = path.rfind(u'.');
  return (dot == std::u16string::npos || dot < name ? path : path.substr(0, dot)) + u".ico";
}

// The components of a folder path, the root's own component left out
// (DN lookup rules: either separator; a leading separator and a first
// component "Applications" both stand for the root; a trailing separator is
// ignored). False for an empty component between separators.
bool FolderComponents(const std::u16string& dn, std::vector<std::u16string>* components) {
  std::vector<std::u16string> parts(1);
  for (char16_t c : dn) {
    if (IsSeparator(c)) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  std::size_t first = 0;
  if (!dn.empty() && IsSeparator(dn[0])) first = 1;
  if (first < parts.size() && parts[first] == kRootComponent) ++first;
  if (parts.size() > first && parts.back().empty()) parts.pop_back();
  for (std::size_t i = first; i < parts.size(); ++i) {
    if (parts[i].empty()) return false;
    components->push_back(parts[i]);
  }
  return true;
}

struct FileToImport {
  const char16_t* path;
  ApplicationDefinition definition;
};

// A folder the import publishes into, held (or, for the caller's folder,
// borrowed) until the import ends, with what the import needs to know of it.
struct TargetFolder {
  FolderObject* folder = nullptr;
  std::u16string dn;
  LONG child_count_at_start = 0;
  bool names_listed = false;
  std::set<std::u16string> names_in_farm;  // applications before this import
  std::map<std::u16string, ULONG> names_published;  // by this import: name -> file index
};

class Importer {
 public:
  Importer(FarmObject* farm, const ImportRequest& request) : farm_(farm), request_(request) {}
  ~Importer() = default;
  Importer(const Importer&) = delete;
  Importer& operator=(const Importer&) = delete;

  HRESULT Run();

 private:
  void Report(ImportStage stage, ULONG index, const char16_t* dn = nullptr, HRESULT code = S_OK,
              const DefinitionProblem* problem = nullptr, ULONG service_code = 0) {
    if (request_.callback == nullptr) return;
    const ImportEvent event{stage, index, request_.file_count,
                            index < request_.file_count ? request_.files[index] : nullptr,
                            dn, code, service_code, problem};
    request_.callback(event, request_.context);
  }
  HRESULT Refuse(ULONG index, HRESULT code, const std::u16string& dn, const std::string& message) {
    const DefinitionProblem problem{Utf8(Text(request_.files[index])), 0, message};
    Report(ImportStage::kRefused, index, dn.empty() ? nullptr : dn.c_str(), code, &problem);
    return code;
  }

  HRESULT ReadAll();
  HRESULT TakeIconBeside(ULONG index);
  HRESULT PublishAll();
  HRESULT Publish(ULONG index);
  HRESULT FindTarget(ULONG index, TargetFolder** target);
  HRESULT ListNames(TargetFolder* target);
  // Holds the folder `dn` until the import ends, noting its child count
  // when it is first held. With `reference`, `folder` is one reference the
  // import took (given back now when the folder is held already); without,
  // it is the caller's folder.
  TargetFolder* Hold(FolderObject* folder, const std::u16string& dn, bool reference);
  void TakeBackChildCounts();

  FarmObject* farm_;
  const ImportRequest& request_;
  std::vector<FileToImport> files_;
  ULONG store_version_ = 0;
  std::vector<ObjectRef<FolderObject>> held_;
  std::map<std::u16string, TargetFolder> targets_;   // by distinguished name
  std::map<std::u16string, TargetFolder*> by_path_;  // by the path as a file gives it
};

HRESULT Importer::ReadAll() {
  files_.resize(request_.file_count);
  HRESULT first_refusal = S_OK;
  for (ULONG i = 0; i < request_.file_count; ++i) {
    files_[i].path = request_.files[i];
    DefinitionProblem problem;
    HRESULT result = ReadDefinitionFile(files_[i].path, &files_[i].definition, &problem);
    if (result == E_OUTOFMEMORY) return result;
    if (result == S_OK) result = TakeIconBeside(i);
    if (result == E_OUTOFMEMORY) return result;
    if (result != S_OK) {
      if (!problem.message.empty()) Report(ImportStage::kRefused, i, nullptr, result, &problem);
      if (first_refusal == S_OK) first_refusal = result;
      continue;
    }
    Report(ImportStage::kRead, i);
  }
  return first_refusal;
}

// A file without icon blocks takes its icon from an icon file beside it,
// when there is one.
HRESULT Importer::TakeIconBeside(ULONG index) {
  ApplicationDefinition& def = files_[index].definition;
  if (def.icon) return S_OK;
  const std::u16string icon_path = IconFileBeside(Text(files_[index].path));
  std::string bytes;
  const platform::ReadFileResult read = platform::ReadFileUpTo(icon_path.c_str(), platform::kMaxIconSourceBytes, &bytes);
  if (read == platform::ReadFileResult::kNotFound) return S_OK;
  _ZQWinAppIcon icon{};
  if (read != platform::ReadFileResult::kRead ||
      platform::ExtractIcon32FromBytes(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), 0, icon.mask,
                                       icon.colors) != platform::kIconOk) {
    Refuse(index, ZQ_CREATE_E_ICON_FILE, u"", "the icon file " + Utf8(icon_path) + " beside it holds no icon");
    return ZQ_CREATE_E_ICON_FILE;
  }
  def.icon = icon;
  return S_OK;
}

TargetFolder* Importer::Hold(FolderObject* folder, const std::u16string& dn, bool reference) {
  if (auto held = targets_.find(dn); held != targets_.end()) {
    if (reference) ObjectRef<FolderObject>(farm_, folder).reset();
    return &held->second;
  }
  if (reference) {
    ObjectRef<FolderObject> held(farm_, folder);
    held_.push_back(std::move(held));
  }
  TargetFolder& target = targets_[dn];
  target.folder = folder;
  target.dn = dn;
  target.child_count_at_start = folder->GetChildCount();
  return &target;
}

void Importer::TakeBackChildCounts() {
  for (auto& [key, target] : targets_) {
    while (target.folder->GetChildCount() > target.child_count_at_start) target.folder->DecrementChildCount();
  }
}

// The folder a file's application goes into, found (or created) once for
// every path the files give.
HRESULT Importer::FindTarget(ULONG index, TargetFolder** target) {
  const ApplicationDefinition& def = files_[index].definition;
  const std::u16string path = request_.folder != nullptr ? u"" : def.parent_folder.value_or(u"");
  if (auto found = by_path_.find(path); found != by_path_.end()) {
    *target = found->second;
    return S_OK;
  }
  const std::u16string root_dn = std::u16string(u"\\") + kRootComponent;
  FolderObject* root = nullptr;
  if (const HRESULT result = farm_->GetRootFolder(FarmObjectAppFolder, &root); result != S_OK) {
    return Refuse(index, result, u"", "the root folder cannot be read");
  }
  TargetFolder* current = Hold(root, root_dn, true);
  if (request_.folder != nullptr) {
    ULONG64 root_id = 0, folder_id = 0;
    root->GetObjectID(root_id);
    request_.folder->GetObjectID(folder_id);
    FarmBlock<char16_t> dn;
    if (folder_id != root_id) {
      const HRESULT named = request_.folder->GetDistinguishedName(&dn.out());
      if (named != S_OK) return Refuse(index, named, u"", "the name of the folder to import into cannot be read");
      current = Hold(request_.folder, dn.get(), false);
    }
    *target = by_path_[path] = current;
    return S_OK;
  }
  std::vector<std::u16string> components;
  if (!FolderComponents(path, &components)) {
    return Refuse(index, ZQ_CREATE_E_PARENT_NOT_FOUND, u"", "the folder " + Utf8(path) + " has an empty name in it");
  }
  // Every folder on the way is held to the end, so that the import can take
  // back a child it counted there.
  std::u16string dn = root_dn;
  for (const std::u16string& component : components) {
    dn += u"\\" + component;
    ObjectRef<CommonObject> found(farm_);
    const HRESULT result = farm_->GetObjectByDN(nullptr, dn.data(), &found.out());
    _FarmObjectType type = FarmObjectAppFolder;
    if (result == S_OK && found) found->GetObjectType(&type);
    FolderObject* next = nullptr;
    if (result == S_OK && found && type == FarmObjectAppFolder) {
      next = static_cast<FolderObject*>(found.release());
    } else if (result == S_FALSE && (request_.flags & kImportCreateFolders) != 0) {
      std::u16string name = component;
      const HRESULT created = current->folder->CreateSubFolder(name.data(), &next);
      if (created != S_OK) return Refuse(index, created, u"", "the folder " + Utf8(dn) + " cannot be created");
      Report(ImportStage::kFolderCreated, index, dn.c_str());
    } else if (result == S_FALSE || result == E_INVALIDARG || result == S_OK) {
      return Refuse(index, ZQ_CREATE_E_PARENT_NOT_FOUND, u"",
                    "the folder " + Utf8(dn) +
                        (result == S_FALSE ? " does not exist (import with folder creation to make it)"
                                           : " is not a folder of the farm"));
    } else {
      return Refuse(index, result, u"", "the folder " + Utf8(dn) + " cannot be looked up");
    }
    current = Hold(next, dn, true);
  }
  *target = by_path_[path] = current;
  return S_OK;
}

// The names of the applications the farm holds in `target`, read once
// through the services (a lookup by name would walk the folder again for
// every file).
HRESULT Importer::ListNames(TargetFolder* target) {
  if (target->names_listed) return S_OK;
  VORNCommonApplicationSAL* folders = FolderServiceOf(farm_);
  ZQAppSAL* store = AppStoreOf(farm_);
  ULONG64 id = 0;
  target->folder->GetObjectID(id);
  FolderServiceBlock<ULONG64> children(folders);
  ULONG count = 0;
  VSTATUS status = folders->EnumerateFolder(id, &children.out(), count);
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;
  for (ULONG i = 0; i < count; ++i) {
    if (ObjectKindOf(children.get()[i]) != kObjectKindApplication) continue;
    ZQApp record;
    status = store->Read(children.get()[i], record);
    if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
    if (status != 0) return E_FAIL;
    VORNString name;
    record.GetFriendlyName(name);
    target->names_in_farm.insert(std::u16string(name.c_str(), name.Length()));
  }
  target->names_listed = true;
  return S_OK;
}

HRESULT Importer::Publish(ULONG index) {
  const ApplicationDefinition& def = files_[index].definition;
  TargetFolder* target = nullptr;
  if (const HRESULT found = FindTarget(index, &target); found != S_OK) return found;
  const std::u16string name = def.object_name.value_or(u"");
  const std::u16string dn = target->dn + u"\\" + name;
  if (!name.empty()) {
    if (const HRESULT listed = ListNames(target); listed != S_OK) {
      return Refuse(index, listed, dn, "the applications of " + Utf8(target->dn) + " cannot be listed");
    }
    if (auto earlier = target->names_published.find(name); earlier != target->names_published.end()) {
      return Refuse(index, kImportNameTaken, dn,
                    "the file " + Utf8(Text(request_.files[earlier->second])) + " of this import publishes it too");
    }
    if (target->names_in_farm.count(name) != 0) {
      if ((request_.flags & kImportRefuseExisting) != 0) {
        return Refuse(index, kImportNameTaken, dn, "the farm already holds an application of that name there");
      }
      Report(ImportStage::kAlreadyPresent, index, dn.c_str());
      return S_OK;
    }
  }
  PublishDescription description;
  if (description.Build(def, store_version_) != S_OK) return E_OUTOFMEMORY;
  ObjectRef<ZQWinAppObject> app(farm_);
  const HRESULT created = CreateZQWinAppInFolder(farm_, description.data(), target->folder, &app.out());
  if (created != S_OK) return Refuse(index, created, dn, "the farm refused the application");
  target->names_published.emplace(name, index);
  Report(ImportStage::kPublished, index, dn.c_str());
  return S_OK;
}

HRESULT Importer::PublishAll() {
  for (ULONG i = 0; i < request_.file_count; ++i) {
    if (const HRESULT result = Publish(i); result != S_OK) return result;
  }
  return S_OK;
}

HRESULT Importer::Run() {
  if (const HRESULT read = ReadAll(); read != S_OK) return read;
  LONG version = 0;
  if (const HRESULT result = farm_->GetAppSubsysVersion(&version); result != S_OK) return result;
  store_version_ = static_cast<ULONG>(version);

  HRESULT result = S_OK;
  const TransactionEnd end = (request_.flags & kImportDryRun) != 0 ? TransactionEnd::kRollBack : TransactionEnd::kCommit;
  const VSTATUS kept = RunInOneTransaction(VornRemoteAccess, end, [&]() -> VSTATUS {
    try {
      result = PublishAll();
    } catch (const std::bad_alloc&) {
      result = E_OUTOFMEMORY;
    }
    return result == S_OK ? VORN_OK : VORN_E_FAILURE;
  });
  if (result == S_OK && kept != VORN_OK) {
    result = kept == VORN_E_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
    Report(ImportStage::kNotKept, request_.file_count, nullptr, result, nullptr, kept);
  }
  if (result != S_OK || end == TransactionEnd::kRollBack) TakeBackChildCounts();
  return result;
}

}  // namespace

HRESULT ImportDefinitionFiles(FarmObject* farm, const ImportRequest& request) {
  if (farm == nullptr || request.files == nullptr || request.file_count == 0) return E_INVALIDARG;
  if (FolderServiceOf(farm) == nullptr || AppStoreOf(farm) == nullptr) return E_UNEXPECTED;
  try {
    Importer importer(farm, request);
    return importer.Run();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace feroq
