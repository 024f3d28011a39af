// The thread's last service failure, the naming rules and the code table
// (see service_failure.h and feroq/services/farm_admin.h).
#include "services/service_failure.h"

#include <algorithm>
#include <new>
#include <optional>

#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"

namespace feroq::services {
namespace {

using admin::ServiceCodeInfo;

constexpr VSTATUS Detail(ULONG index) { return kDetailedErrorBase + index; }

// Every code the services answer or record as a cause. Kept in ascending
// order (checked where the table is first used).
constexpr ServiceCodeInfo kCodes[] = {
    {VORN_E_FAILURE, "VORN_E_FAILURE", "the identifier names no object of that kind, or the farm is not open"},
    {VORN_E_OUTOFMEMORY, "VORN_E_OUTOFMEMORY", "the farm's services ran out of memory"},
    {VORN_E_INVALIDVALUE, "VORN_E_INVALIDVALUE", "the farm refused the value (empty, out of range or already taken)"},
    {VORN_E_REFUSED, "VORN_E_REFUSED", "the farm's rules refuse the change (still in use, or already there)"},
    {VORN_E_ACCESSDENIED, "VORN_E_ACCESSDENIED", "the farm refused access"},
    {FOLDER_E_MOVE_REFUSED, "FOLDER_E_MOVE_REFUSED", "the farm refused the move"},
    {FOLDER_E_RENAME_REFUSED, "FOLDER_E_RENAME_REFUSED", "the farm refused the folder's name"},
    {FOLDER_E_DELETE_REFUSED, "FOLDER_E_DELETE_REFUSED", "the farm refused to delete the folder"},
    {admin::kFarmFileUnavailable, "FARM_FILE_UNAVAILABLE",
     "the farm file cannot be opened, created, read or written (a missing directory, no permission, an I/O error), "
     "or the farm's database server cannot be reached"},
    {admin::kFarmFileNotAFarm, "FARM_FILE_NOT_A_FARM",
     "the file, or the database, holds something other than a farm (it was left untouched)"},
    {admin::kFarmFileTooNew, "FARM_FILE_TOO_NEW", "the farm file was written by a newer feroq"},
    {admin::kFarmFileCorrupt, "FARM_FILE_CORRUPT", "the farm file is damaged"},
    {admin::kFarmBusy, "FARM_BUSY", "another process held the farm's write lock too long; nothing was changed"},
    {admin::kFarmFileMissing, "FARM_FILE_MISSING", "there is no farm at that path; create it with `feroq farm init`"},
    {admin::kFarmReadOnly, "FARM_READ_ONLY",
     "the farm is open for reading only (its file or folder is not writable, or the database role may only read); "
     "nothing was changed"},
    {admin::kFarmDiskFull, "FARM_DISK_FULL", "the disk is full; nothing was changed"},
    {admin::kFarmCompanionsMissing, "FARM_COMPANIONS_MISSING",
     "the farm's folder is not writable and its -wal or -shm file is missing; the farm's owner opening it once "
     "makes them"},
    {admin::kFarmWriteConflict, "FARM_WRITE_CONFLICT",
     "the write kept colliding with other writers of the farm's database and was given up; nothing was changed"},
    {FARM_E_NAME_EMPTY, "FARM_E_NAME_EMPTY", "the name is empty"},
    {FARM_E_NAME_SEPARATOR, "FARM_E_NAME_SEPARATOR", "folder and application names may not hold a backslash or a slash"},
    {FARM_E_NAME_CONTROL, "FARM_E_NAME_CONTROL",
     "folder and application names may not hold control characters (U+0000 to U+001F, U+007F to U+009F)"},
    {FARM_E_NAME_TOO_LONG, "FARM_E_NAME_TOO_LONG", "folder and application names are at most 259 characters long"},
    {FARM_E_NAME_DOTS, "FARM_E_NAME_DOTS", "a folder or application may not be named . or .."},
    {FARM_E_NAME_TAKEN, "FARM_E_NAME_TAKEN",
     "another folder or application in that folder has the name (compared without regard to case)"},
    {FARM_E_ROOT_RENAME, "FARM_E_ROOT_RENAME", "the root folder cannot be renamed"},
    {FARM_E_ROOT_DELETE, "FARM_E_ROOT_DELETE", "the root folder cannot be deleted"},
    {FARM_E_FOLDER_NOT_EMPTY, "FARM_E_FOLDER_NOT_EMPTY", "the folder still holds folders or applications"},
    {FARM_E_ROOT_MOVE, "FARM_E_ROOT_MOVE", "the root folder cannot be moved"},
    {FARM_E_MOVE_BELOW_ITSELF, "FARM_E_MOVE_BELOW_ITSELF", "a folder cannot be moved into itself or below itself"},
    {FARM_E_NOT_THE_PARENT, "FARM_E_NOT_THE_PARENT", "the object is not in the folder it is moved from"},
    {FARM_E_BROWSER_NAME_TAKEN, "FARM_E_BROWSER_NAME_TAKEN",
     "another application has the browser name (compared without regard to case)"},
    {FARM_E_SERVER_NAME_TAKEN, "FARM_E_SERVER_NAME_TAKEN", "another server has the name (compared without regard to case)"},
    {FARM_E_SERVER_IN_USE, "FARM_E_SERVER_IN_USE", "an application lists the server"},
    {FARM_E_ACCOUNT_TAKEN, "FARM_E_ACCOUNT_TAKEN",
     "the directory has an account with that DN, or with that authority, domain and name"},
    {FARM_E_TEXT_LINE_BREAK, "FARM_E_TEXT_LINE_BREAK",
     "the text may not hold a line break (CR or LF): a definition file carries it on one line"},
    {FARM_E_NO_SUCH_SERVER, "FARM_E_NO_SUCH_SERVER",
     "no server of the farm has that name (`feroq server list` shows them; `feroq server add` adds one)"},
    {FARM_E_NO_SUCH_ACCOUNT, "FARM_E_NO_SUCH_ACCOUNT",
     "the farm's directory has no such account (`feroq account list` shows them; `feroq account add` adds one)"},
    {ZQAPP_E_VALUE_REFUSED, "ZQAPP_E_VALUE_REFUSED", "the farm refused the text (texts are at most 259 characters)"},
    {ZQAPP_E_NO_MORE, "ZQAPP_E_NO_MORE", "the list is empty or at its end"},
    {ZQAPP_E_NOT_SUPPORTED, "ZQAPP_E_NOT_SUPPORTED", "not supported by this farm (a record version or backend it lacks)"},
    {ZQAPP_E_READ_ONLY, "ZQAPP_E_READ_ONLY", "the application's record may not be changed"},
    {ZQAPP_E_CHECKS_FAILED, "ZQAPP_E_CHECKS_FAILED", "the application failed the farm's checks"},
    {ZQAPP_E_BROWSER_NAME, "ZQAPP_E_BROWSER_NAME", "the browser name was refused"},
    {ZQAPP_E_NOT_ITERATING, "ZQAPP_E_NOT_ITERATING", "no list walk is in progress"},
    {ZQAPP_E_ITERATING, "ZQAPP_E_ITERATING", "a list walk is already in progress"},
    {VORN_E_WAIT_TIMEOUT, "VORN_E_WAIT_TIMEOUT", "no event arrived before the wait ran out"},
    {Detail(0), "ZQAPP_CHECK_BROWSER_NAME_MISSING", "the browser name is missing"},
    {Detail(1), "ZQAPP_CHECK_BROWSER_NAME",
     "the browser name holds one of \\ / ; : . * ? = < > | [ ] ( ) ' \" # or begins with a blank"},
    {Detail(2), "ZQAPP_CHECK_INITIAL_PROGRAM_MISSING", "an application that is not a desktop needs an initial program"},
    {Detail(3), "ZQAPP_CHECK_WORKING_DIRECTORY", "the working directory holds one of / * ? \" < > |"},
    {Detail(4), "ZQAPP_CHECK_NAME", "the application's name is missing or breaks a naming rule"},
    {Detail(5), "ZQAPP_CHECK_FOLDER_UNKNOWN", "the application's folder is not a folder of the farm"},
    {Detail(6), "ZQAPP_CHECK_DESCRIPTION", "the description holds a line break"},
    {Detail(7), "ZQAPP_CHECK_HEIGHT_ZERO", "a custom window size needs a height above 0"},
    {Detail(8), "ZQAPP_CHECK_HEIGHT_TOO_LARGE", "a custom window height is at most 4096"},
    {Detail(9), "ZQAPP_CHECK_WIDTH_ZERO", "a custom window size needs a width above 0"},
    {Detail(10), "ZQAPP_CHECK_WIDTH_TOO_LARGE", "a custom window width is at most 4096"},
    {Detail(11), "ZQAPP_CHECK_SCALE_ZERO", "a percentage window needs a scale above 0"},
    {Detail(12), "ZQAPP_CHECK_SCALE_TOO_LARGE", "a percentage window's scale is at most 100"},
    {Detail(27), "ZQAPP_CHECK_SERVER_UNKNOWN", "a listed server is not a server of the farm"},
    {Detail(39), "ZQAPP_CHECK_WORKING_DIRECTORY_ALONE", "a working directory needs an initial program"},
};

constexpr bool Ascending() {
  for (std::size_t i = 1; i < sizeof(kCodes) / sizeof(kCodes[0]); ++i) {
    if (kCodes[i - 1].code >= kCodes[i].code) return false;
  }
  return true;
}
static_assert(Ascending(), "the code table is kept in ascending order");

struct ThreadRecord {
  std::optional<admin::ServiceFailure> failure;
  unsigned long recorded = 0;
};

ThreadRecord& TheRecord() {
  thread_local ThreadRecord record;
  return record;
}

thread_local const char* t_current_operation = "";

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

const char* CurrentServiceOperation() noexcept { return t_current_operation; }

void NoteServiceOperation(const char* operation) noexcept { t_current_operation = operation; }

void RecordFailure(VSTATUS status, std::vector<admin::FailureCause> causes) noexcept {
  ThreadRecord& record = TheRecord();
  ++record.recorded;
  try {
    admin::ServiceFailure failure;
    failure.operation = CurrentServiceOperation();
    failure.status = status;
    failure.causes = std::move(causes);
    if (failure.causes.empty()) failure.causes.push_back({status, "", MeaningOf(status)});
    record.failure = std::move(failure);
  } catch (const std::bad_alloc&) {
    record.failure.reset();
  }
}

VSTATUS Refuse(VSTATUS status, VSTATUS cause, const char* field) noexcept {
  try {
    RecordFailure(status, {admin::FailureCause{cause, field, MeaningOf(cause)}});
  } catch (const std::bad_alloc&) {
    RecordFailure(status, {});
  }
  return status;
}

unsigned long FailuresRecorded() noexcept { return TheRecord().recorded; }

std::string MeaningOf(VSTATUS code) {
  const ServiceCodeInfo* info = admin::FindServiceCode(code);
  return info != nullptr ? info->meaning : "";
}

VSTATUS NameRuleBroken(const std::u16string& name) noexcept {
  if (name.empty()) return FARM_E_NAME_EMPTY;
  if (name.size() > kMaxFarmNameLength) return FARM_E_NAME_TOO_LONG;
  if (name.find_first_of(u"\\/") != std::u16string::npos) return FARM_E_NAME_SEPARATOR;
  if (std::any_of(name.begin(), name.end(), IsControl)) return FARM_E_NAME_CONTROL;
  if (name == u"." || name == u"..") return FARM_E_NAME_DOTS;
  return VORN_OK;
}

}  // namespace feroq::services

namespace feroq::admin {

bool LastServiceFailure(ServiceFailure* failure) {
  const services::ThreadRecord& record = services::TheRecord();
  if (!record.failure) return false;
  *failure = *record.failure;
  return true;
}

void ClearLastServiceFailure() { services::TheRecord().failure.reset(); }

const ServiceCodeInfo* FindServiceCode(VSTATUS code) {
  const auto* begin = std::begin(services::kCodes);
  const auto* end = std::end(services::kCodes);
  const auto* it = std::lower_bound(begin, end, code,
                                    [](const ServiceCodeInfo& info, VSTATUS c) { return info.code < c; });
  return it != end && it->code == code ? it : nullptr;
}

const std::vector<ServiceCodeInfo>& AllServiceCodes() {
  static const auto* all = new std::vector<ServiceCodeInfo>(std::begin(services::kCodes), std::end(services::kCodes));
  return *all;
}

}  // namespace feroq::admin
