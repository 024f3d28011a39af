// ZQAppSAL: the application store service.
//
// Codes: an identifier that names no stored application answers
// VORN_E_FAILURE (0x80000001); a record of a version
// above kZQAppCurrentVersion 0x801D1102; running out of memory 0x80000002.
// Every Write is one farm transaction: on failure nothing is stored.
// A record that breaks the store's rules (app_checks.h) is refused by Write
// and reported by ValidateOldApp with 0x801D1104 and a detailed-error chain.
#include <new>

#include "feroq/services/zqapp.h"
#include "services/app_checks.h"
#include "services/app_files/app_files.h"
#include "services/app_record_codec.h"
#include "services/event_service.h"
#include "services/record_access.h"
#include "services/service_support.h"

namespace {

using feroq::VORN_E_FAILURE;
using feroq::VORN_OK;
using feroq::ZQAPP_E_CHECKS_FAILED;
using feroq::kObjectKindApplication;

using feroq::services::EnterServiceCall;
using feroq::services::ReadFarm;
using feroq::services::RecordAccess;
using feroq::services::WriteFarm;
using feroq::services::NameLookups;
using feroq::store::ApplicationName;
using feroq::store::ApplicationRecord;
using feroq::store::AppRecordData;
using feroq::store::FarmTxn;
using feroq::store::FarmView;

}  // namespace

ZQAppSAL::ZQAppSAL(VORN_PIF_ISubSystem* subsystem) : VORN_PIF_SAL(subsystem) {}

ZQAppSAL::~ZQAppSAL() = default;

// On success `record` holds the stored application (and its stored id is `id`);
// on failure after the farm was read (a setter's refusal, memory) the record
// may be partly filled.
VSTATUS ZQAppSAL::Read(ULONG64 id, ZQApp& record) {
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::Read")) return s;
  std::shared_ptr<const ApplicationRecord> stored;
  VSTATUS status = feroq::services::ReadFarmOne(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    stored = farm.GetApplicationShared(id);
    return stored ? feroq::VORN_OK : feroq::VORN_E_FAILURE;
  });
  if (status != feroq::VORN_OK) return status;
  try {
    return feroq::services::DataToRecord(stored->data, stored->id, stored->folder_id, record);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

// With `id` 0 the application is published in the record's CommonAppFolder
// (0: the root folder); otherwise the stored application `id` is replaced
// and moved to the record's CommonAppFolder when that is not 0. On success
// `id` and the record's stored id hold the application's identifier.
VSTATUS ZQAppSAL::Write(ULONG64& id, ZQApp& record, _VORN_ZQAPP_DETAILED_ERR** details) {
  if (details != nullptr) *details = nullptr;
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::Write")) return s;
  try {
    std::vector<ULONG> armed;
    if (feroq::services::TakeArmedDetailCodes("ZQAppSAL::Write", &armed)) {
      if (details != nullptr) *details = feroq::services::MakeDetailChain(armed);
      return ZQAPP_E_CHECKS_FAILED;
    }
    std::vector<feroq::services::BrokenRule> failed;
    // The row's data is made once and only read inside the transaction
    // (checked, then copied by the store into its row), so that a farm on a
    // database server, which runs the transaction again after a collision
    // with another writer, finds it whole; each run sets the identifier and
    // folder afresh. The thread keeps the row from one write to the next,
    // so that the record's texts (about a kilobyte) are copied into blocks
    // they already fit; every field of it is written again here.
    thread_local ApplicationRecord row;
    if (VSTATUS status = feroq::services::RecordToData(record, &row.data)) return status;
    if (row.data.version > feroq::kZQAppCurrentVersion) return feroq::ZQAPP_E_NOT_SUPPORTED;
    ULONG64 folder = 0;
    record.GetCommonAppFolder(folder);
    using feroq::services::CheckApplication;
    ULONG64 written_id = 0;
    VSTATUS status = WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
      row.id = 0;
      // A save that neither moves nor renames (the record's folder and display
      // name are those of the row) is checked as one and written in one step
      // where the store can tell that the row keeps them; otherwise, or when
      // the row does not, its names are read first.
      if (id != 0 && folder != 0 && farm.WritesKeepingNames()) {
        row.id = id;
        row.folder_id = folder;
        const ApplicationName kept{id, folder, row.data.friendly_name};
        if (CheckApplication(farm, row, &kept, NameLookups::kSkipped).empty() &&
            farm.PutApplicationKeepingNames(row)) {
          feroq::services::AppendApplicationWritten(farm, id, folder, folder);
          written_id = id;
          return feroq::VORN_OK;
        }
        row.id = 0;
      }
      std::optional<ApplicationName> existing;
      if (id == 0) {
        row.folder_id = folder != 0 ? folder : farm.RootFolderId();
      } else {
        existing = farm.GetApplicationName(id);
        if (!existing) return feroq::VORN_E_FAILURE;
        row.id = id;
        row.folder_id = folder != 0 ? folder : existing->folder_id;
      }
      const ApplicationName* before = existing ? &*existing : nullptr;
      // Who holds the names is left to the store's write, which refuses a
      // taken name; only a refusal looks the names up, to report every
      // broken rule.
      failed = CheckApplication(farm, row, before, NameLookups::kSkipped);
      if (!failed.empty()) {
        failed = CheckApplication(farm, row, before, NameLookups::kMade);
        return ZQAPP_E_CHECKS_FAILED;
      }
      if (id == 0) row.id = farm.AllocateId(kObjectKindApplication);
      if (!farm.PutApplicationHoldingNames(row)) {
        failed = CheckApplication(farm, row, before, NameLookups::kMade);
        if (failed.empty()) {
          failed.push_back({feroq::kDetailedErrorBase + 4, feroq::FARM_E_NAME_TAKEN, "FriendlyName"});
        }
        return ZQAPP_E_CHECKS_FAILED;
      }
      feroq::services::AppendApplicationWritten(
          farm, row.id, existing ? std::optional<ULONG64>(existing->folder_id) : std::nullopt, row.folder_id);
      written_id = row.id;
      return feroq::VORN_OK;
    });
    if (status == ZQAPP_E_CHECKS_FAILED) {
      feroq::services::RecordBrokenRules(status, failed);
      if (details != nullptr) *details = feroq::services::MakeDetailChain(feroq::services::DetailCodes(failed));
    }
    if (status != feroq::VORN_OK) return status;
    id = written_id;
    RecordAccess::SetStoredId(record, written_id);
    return feroq::VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS ZQAppSAL::Delete(ULONG64 id) {
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::Delete")) return s;
  return WriteFarm(subsystem(), [&](FarmTxn& farm) -> VSTATUS {
    if (!farm.ApplicationFolder(id)) return feroq::VORN_E_FAILURE;
    // The entry goes first, so that it keeps the name the application had.
    feroq::services::AppendFarmEvent(farm, feroq::services::kEventApplicationDeleted,
                                     feroq::services::ObjectEventRecord(id));
    farm.DeleteApplication(id);
    return feroq::VORN_OK;
  });
}

VSTATUS ZQAppSAL::ValidateOldApp(ULONG64 id, _VORN_ZQAPP_DETAILED_ERR** details) {
  if (details != nullptr) *details = nullptr;
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::ValidateOldApp")) return s;
  try {
    std::vector<ULONG> codes;
    VSTATUS status = VORN_OK;
    if (!feroq::services::TakeArmedDetailCodes("ZQAppSAL::ValidateOldApp", &codes)) {
      std::vector<feroq::services::BrokenRule> failed;
      status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
        std::optional<ApplicationRecord> stored = farm.GetApplication(id);
        if (!stored) return VORN_E_FAILURE;
        failed = feroq::services::CheckApplication(farm, *stored, nullptr);
        return VORN_OK;
      });
      if (status != VORN_OK) return status;
      if (!failed.empty()) feroq::services::RecordBrokenRules(ZQAPP_E_CHECKS_FAILED, failed);
      codes = feroq::services::DetailCodes(failed);
    }
    if (codes.empty()) return VORN_OK;
    if (details != nullptr) *details = feroq::services::MakeDetailChain(codes);
    return ZQAPP_E_CHECKS_FAILED;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

// `*ids` receives a block from ::operator new (null when `count` is 0), which
// the caller releases with operator delete. `folder` 0 lists every
// application of the farm; another folder lists the applications lying
// directly in it. Both in ascending identifier (publishing) order.
VSTATUS ZQAppSAL::EnumApps(ULONG64** ids, ULONG& count, ULONG64 folder) {
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::EnumApps")) return s;
  if (ids == nullptr) return feroq::VORN_E_INVALIDVALUE;
  std::vector<ULONG64> found;
  VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    if (folder != 0 && !farm.GetFolder(folder)) return feroq::VORN_E_FAILURE;
    found = farm.ApplicationIds(folder);
    return feroq::VORN_OK;
  });
  if (status != feroq::VORN_OK) return status;
  ULONG64* block = nullptr;
  if (!found.empty()) {
    try {
      block = static_cast<ULONG64*>(::operator new(found.size() * sizeof(ULONG64)));
    } catch (const std::bad_alloc&) {
      return feroq::VORN_E_OUTOFMEMORY;
    }
    std::copy(found.begin(), found.end(), block);
  }
  *ids = block;
  count = static_cast<ULONG>(found.size());
  return feroq::VORN_OK;
}

// Has no result code: the call is recorded, but an armed code does not change
// what it writes.
void ZQAppSAL::MaxKnownApplicationVersion(ULONG& version) {
  (void)EnterServiceCall("ZQAppSAL::MaxKnownApplicationVersion");
  version = feroq::kZQAppCurrentVersion;
}

// The composers (services/app_files/app_files.h, which fixes both formats)
// append the lines of the page or launch file to `lines`. VORN_E_FAILURE for
// an unknown application, VORN_E_INVALIDVALUE for a null request,
// VORN_E_OUTOFMEMORY (`lines` may then hold part of the text).
VSTATUS ZQAppSAL::CreateHTMLFile(ULONG64 id, ZQAPP_HTMLFILE* request, VORNMultiString& lines) {
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::CreateHTMLFile")) return s;
  if (request == nullptr) return feroq::VORN_E_INVALIDVALUE;
  feroq::services::RecordReceivedRequest(*request);
  try {
    feroq::services::AppFileSource source;
    if (VSTATUS status = feroq::services::LoadAppFileSource(subsystem(), id, &source)) return status;
    return feroq::services::AppendLines(
        feroq::services::ComposedOrOverride(feroq::services::ComposeHTMLPage(source, *request)), lines);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS ZQAppSAL::CreateOBRFile(ULONG64 id, ZQAPP_OBRFILE* request, VORNMultiString& lines) {
  if (VSTATUS s = EnterServiceCall("ZQAppSAL::CreateOBRFile")) return s;
  if (request == nullptr) return feroq::VORN_E_INVALIDVALUE;
  try {
    feroq::services::RecordReceivedRequest(*request);
    feroq::services::AppFileSource source;
    if (VSTATUS status = feroq::services::LoadAppFileSource(subsystem(), id, &source)) return status;
    return feroq::services::AppendLines(
        feroq::services::ComposedOrOverride(feroq::services::ComposeLaunchFile(source, *request)), lines);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}
