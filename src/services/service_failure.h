// The services' side of the thread's last service failure
// (feroq::admin::LastServiceFailure): recording why a call failed, the
// farm's naming rules, and the words for every code the services answer.
#ifndef FEROQ_SERVICES_SERVICE_FAILURE_H_
#define FEROQ_SERVICES_SERVICE_FAILURE_H_

#include <string>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "feroq/services/service_codes.h"

namespace feroq::services {

// The service call that this thread is in, or last entered ("" before the
// first): EnterServiceCall notes it. A failure recorded belongs to it.
const char* CurrentServiceOperation() noexcept;
// Makes `operation` (a string that lives for the whole process) the current
// one; also for calls that do not pass EnterServiceCall (the admin
// interface).
void NoteServiceOperation(const char* operation) noexcept;

// Replaces this thread's record with a failure of the current service call
// (CurrentServiceOperation) that answered `status` for `causes`. Never
// raises: a record that cannot be made is left empty.
void RecordFailure(VSTATUS status, std::vector<admin::FailureCause> causes) noexcept;

// Records `status` with the one cause `cause` about `field` (its message
// from the code table) and returns `status`.
VSTATUS Refuse(VSTATUS status, VSTATUS cause, const char* field = "") noexcept;

// How many failures this thread has recorded so far: a caller compares two
// readings to learn whether the code it ran recorded one.
unsigned long FailuresRecorded() noexcept;

// The meaning of `code` from the code table, or "" when it has none.
std::string MeaningOf(VSTATUS code);

// The cause code of a folder or application name that breaks a naming rule
// (a FARM_E_NAME_* code), or 0 for a name the rules accept. The rules:
// not empty; at most kMaxFarmNameLength UTF-16 units; no backslash or
// slash; no control character (U+0000 to U+001F, U+007F, U+0080 to
// U+009F); not "." or "..". Uniqueness among a folder's children is the
// store's to answer, not this function's.
VSTATUS NameRuleBroken(const std::u16string& name) noexcept;

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_SERVICE_FAILURE_H_
