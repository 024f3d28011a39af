// ZQWinAppObject::ExportFile: writes the application as a client launch
// file or an HTML page (both composed by the application store) or as the
// application definition file (written by the library).
#include <new>

#include "export/definition_file.h"
#include "export/text_buffer.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/app_export.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

// The languages ExportFile accepts (compared without regard to case). The
// language has no further effect.
constexpr const char16_t* kExportLanguages[] = {u"English", u"French", u"German", u"Japanese", u"Spanish"};

bool IsExportLanguage(const char16_t* language) {
  for (const char16_t* known : kExportLanguages) {
    if (feroq::platform::CompareWideNoCase(language, known) == 0) return true;
  }
  return false;
}

BYTE AsFlagByte(int value) { return value != 0 ? 1 : 0; }

// The store's encryption byte of an encryption level; 1 (basic) for any
// value without one.
BYTE EncryptionRequestByte(_ZQEncryptionLevel level) {
  switch (level) {
    case ZQEncryptionRC5Logon: return 2;
    case ZQEncryptionRC5_40Bit: return 3;
    case ZQEncryptionRC5_56Bit: return 4;
    case ZQEncryptionRC5_128Bit: return 5;
    default: return 1;
  }
}

void FillHTMLRequest(const _HTMLFileOptions& options, ZQAPP_HTMLFILE* request) {
  *request = ZQAPP_HTMLFILE{};
  request->pageWidth = options.pageWidth;
  request->refreshSeconds = options.refreshSeconds;
  request->maxServers = options.maxServers;
  request->showDescription = AsFlagByte(options.showDescription);
  request->showServers = AsFlagByte(options.showServers);
  request->showDisplaySettings = AsFlagByte(options.showDisplaySettings);
}

// Fills every field but the string (the caller assigns it, since that may
// raise std::bad_alloc).
void FillLaunchRequest(const _LaunchFileOptions& options, ZQAPP_OBRFILE* request) {
  request->windowed = options.fullScreen == 0 ? 1 : 0;
  request->windowHeight = options.windowHeight;
  request->windowWidth = options.windowWidth;
  request->fullScreen = static_cast<BYTE>(options.fullScreen);
  request->colorDepth = static_cast<BYTE>(options.colorDepth);
  request->encryptionLevel = EncryptionRequestByte(options.encryptionLevel);
  request->sound = AsFlagByte(options.sound);
  request->compression = AsFlagByte(options.compression);
  request->port = options.port;
}

// The store's answer to a file request: 0 continues (S_OK here).
constexpr feroq::StatusMapping kFileRequestStatuses[] = {
    {feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED}, {feroq::VORN_E_REFUSED, E_ACCESSDENIED}, {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}};

// Writes the strings of `lines`, from its head, each followed by a line
// end, up to its end or its first empty string. E_FAIL when the file cannot
// be created; write errors are not reported.
HRESULT WriteLines(const char16_t* file_name, VORNMultiString& lines) {
  feroq::TextBuffer out;
  for (const char16_t* line = lines.GetHeadString(); line != nullptr && line[0] != u'\0';
       line = lines.GetNextString()) {
    out.AppendWide(line);
    out.Append("\n");
  }
  feroq::platform::FileHandle* file = feroq::platform::CreateFileForWrite(file_name);
  if (file == nullptr) return E_FAIL;
  (void)feroq::WriteAndClose(file, out.bytes());
  return S_OK;
}

// WriteHTMLFile and WriteLaunchFile: nothing is created when the store
// fails; the request's string and the line list are released on every path.
HRESULT WriteHTMLFile(FarmObject* farm, ULONG64 id, const char16_t* file_name, const void* options) {
  ZQAppSAL* store = feroq::AppStoreOf(farm);
  if (store == nullptr) return E_UNEXPECTED;
  if (options == nullptr) return E_INVALIDARG;
  try {
    ZQAPP_HTMLFILE request;
    FillHTMLRequest(*static_cast<const _HTMLFileOptions*>(options), &request);
    VORNMultiString lines;
    const HRESULT result = feroq::MapServiceStatus(store->CreateHTMLFile(id, &request, lines), kFileRequestStatuses);
    if (result != S_OK) return result;
    return WriteLines(file_name, lines);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WriteLaunchFile(FarmObject* farm, ULONG64 id, const char16_t* file_name, const void* options) {
  ZQAppSAL* store = feroq::AppStoreOf(farm);
  if (store == nullptr) return E_UNEXPECTED;
  if (options == nullptr) return E_INVALIDARG;
  try {
    const auto& launch = *static_cast<const _LaunchFileOptions*>(options);
    ZQAPP_OBRFILE request{};
    FillLaunchRequest(launch, &request);
    request.preferredServer = launch.preferredServer;
    VORNMultiString lines;
    const HRESULT result = feroq::MapServiceStatus(store->CreateOBRFile(id, &request, lines), kFileRequestStatuses);
    if (result != S_OK) return result;
    return WriteLines(file_name, lines);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT ZQWinAppObject::ExportFile(_ZQWinAppFileType type, char16_t* language, char16_t* file_name, void* options) {
  if (type < ZQWinAppLaunchFile || type > ZQWinAppDefinitionFile) return E_INVALIDARG;
  if (file_name == nullptr || file_name[0] == u'\0') return E_INVALIDARG;
  if (language != nullptr && !IsExportLanguage(language)) return E_INVALIDARG;
  if (record_ == nullptr || feroq::AppStoreOf(farm_) == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  switch (type) {
    case ZQWinAppLaunchFile:
      return WriteLaunchFile(farm_, id, file_name, options);
    case ZQWinAppHTMLFile:
      return WriteHTMLFile(farm_, id, file_name, options);
    default:
      return feroq::WriteApplicationDefinitionFile(farm_, this, file_name,
                                                   static_cast<const _DefinitionFileOptions*>(options));
  }
}
