// ZQWinAppObject: the application's server list. The record keeps servers by
// identifier with a _ZQAPP_SERVER_CONFIG each; the tool sees them by name in
// _ZQServerConfig records. Names and identifiers are converted through the
// server service. The library changes nothing in the record on a failure of
// its own; what the record does is the store's affair.
#include "apps/app_servers.h"

#include <new>

#include "apps/heap_text.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

// An own string counts as given when it is non-null and non-empty.
bool OwnStringTooLong(const char16_t* text) {
  return feroq::HasText(text) && feroq::TextLength(text) > feroq::kServerStringMaxLength;
}

bool OwnStringsTooLong(const _ZQServerConfig& config) {
  return OwnStringTooLong(config.initialProgram) || OwnStringTooLong(config.workingDirectory);
}

// Fills the store entry for `config`: each given own string is copied and its
// flag set; a string not given stays empty with its flag clear. Raises
// std::bad_alloc when a copy cannot be made.
void BuildServerEntry(const _ZQServerConfig& config, _ZQAPP_SERVER_CONFIG& entry) {
  entry.flags = 0;
  if (feroq::HasText(config.initialProgram)) {
    entry.initialProgram = config.initialProgram;
    entry.flags |= feroq::kServerConfigHasInitialProgram;
  }
  if (feroq::HasText(config.workingDirectory)) {
    entry.workDirectory = config.workingDirectory;
    entry.flags |= feroq::kServerConfigHasWorkDirectory;
  }
}

// ZQApp::AddServer and ZQApp::RemoveServer; ZQApp::GetFirstServer and
// GetNextServer. The server service's name lookups map kOutOfMemoryStatus.
constexpr feroq::StatusMapping kServerChangeStatuses[] = {{feroq::ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
constexpr feroq::StatusMapping kServerIterationStatuses[] = {{feroq::ZQAPP_E_NO_MORE, S_FALSE}};

// Writes the server `id` with its store entry into `config` as the tool sees
// it: the server's name and the own strings whose flags are set, each a new
// heap block; the others null. On a failed lookup `config` is untouched; on
// an allocation failure its three pointers are null and nothing stays
// allocated. Pointers already in `config` are overwritten, not released.
HRESULT ConvertServerEntry(FarmObject* farm, ULONG64 id, const _ZQAPP_SERVER_CONFIG& entry,
                           _ZQServerConfig* config) {
  VORN_ZQServerSAL* servers = feroq::ServerServiceOf(farm);
  if (servers == nullptr) return E_UNEXPECTED;
  try {
    VORNString name;
    const VSTATUS status = servers->GetNameByUID(id, name);
    if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus);

    *config = _ZQServerConfig{};
    feroq::FarmBlock<char16_t> server_name(feroq::CopyTextToHeap(name.c_str()));
    if (!server_name) return E_OUTOFMEMORY;
    feroq::FarmBlock<char16_t> initial_program;
    if ((entry.flags & feroq::kServerConfigHasInitialProgram) != 0) {
      initial_program.reset(feroq::CopyTextToHeap(entry.initialProgram.c_str()));
      if (!initial_program) return E_OUTOFMEMORY;
    }
    feroq::FarmBlock<char16_t> working_directory;
    if ((entry.flags & feroq::kServerConfigHasWorkDirectory) != 0) {
      working_directory.reset(feroq::CopyTextToHeap(entry.workDirectory.c_str()));
      if (!working_directory) return E_OUTOFMEMORY;
    }
    config->serverName = server_name.release();
    config->initialProgram = initial_program.release();
    config->workingDirectory = working_directory.release();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

namespace feroq {

VSTATUS AddServerToNewRecord(FarmObject* farm, ZQApp* record, _ZQServerConfig* config) {
  if (!HasText(config->serverName)) return VORN_E_INVALIDVALUE;
  if (OwnStringsTooLong(*config)) return VORN_E_INVALIDVALUE;
  VORN_ZQServerSAL* servers = ServerServiceOf(farm);
  if (servers == nullptr) return VORN_E_INVALIDVALUE;
  ULONG64 id = 0;
  const VSTATUS status = servers->GetUIDByName(config->serverName, id);
  if (status != VORN_OK) return status;
  try {
    _ZQAPP_SERVER_CONFIG entry;
    BuildServerEntry(*config, entry);
    return record->AddServer(id, entry);
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

}  // namespace feroq

HRESULT ZQWinAppObject::AddServer(_ZQServerConfig* config) {
  if (config == nullptr || !feroq::HasText(config->serverName)) return E_INVALIDARG;
  if (OwnStringsTooLong(*config)) return E_INVALIDARG;
  VORN_ZQServerSAL* servers = feroq::ServerServiceOf(farm_);
  if (record_ == nullptr || servers == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  const VSTATUS status = servers->GetUIDByName(config->serverName, id);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus);
  try {
    _ZQAPP_SERVER_CONFIG entry;
    BuildServerEntry(*config, entry);
    return feroq::MapServiceStatus(record_->AddServer(id, entry), kServerChangeStatuses);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ZQWinAppObject::RemoveServer(char16_t* server_name) {
  if (!feroq::HasText(server_name)) return E_INVALIDARG;
  VORN_ZQServerSAL* servers = feroq::ServerServiceOf(farm_);
  if (record_ == nullptr || servers == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  const VSTATUS status = servers->GetUIDByName(server_name, id);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus);
  return feroq::MapServiceStatus(record_->RemoveServer(id), kServerChangeStatuses);
}

HRESULT ZQWinAppObject::GetServerCount(LONG* count) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (count == nullptr) return E_INVALIDARG;
  *count = static_cast<LONG>(record_->GetServerCount());
  return S_OK;
}

HRESULT ZQWinAppObject::GetFirstServer(_ZQServerConfig* config) {
  if (config == nullptr) return E_INVALIDARG;
  if (record_ == nullptr) return E_UNEXPECTED;
  if (server_iteration_active_ != 0) {
    record_->StopGetServer();
    server_iteration_active_ = 0;
  }
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG entry;
  const VSTATUS status = record_->GetFirstServer(id, entry);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, kServerIterationStatuses);
  const HRESULT converted = ConvertServerEntry(farm_, id, entry, config);
  if (converted != S_OK) {
    record_->StopGetServer();
    return converted;
  }
  server_iteration_active_ = 1;
  return S_OK;
}

HRESULT ZQWinAppObject::GetNextServer(_ZQServerConfig* config) {
  if (config == nullptr) return E_INVALIDARG;
  if (record_ == nullptr || server_iteration_active_ == 0) return E_UNEXPECTED;
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG entry;
  const VSTATUS status = record_->GetNextServer(id, entry);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, kServerIterationStatuses);
  return ConvertServerEntry(farm_, id, entry, config);
}
